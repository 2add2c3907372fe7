// Monotonic time in nanoseconds, the one clock the simulator schedules by.
#pragma once

#include <time.h>

#include <cstdint>
#include <limits>

namespace zbsim {

using Nanos = std::int64_t;

inline constexpr Nanos kNever = std::numeric_limits<Nanos>::max();
inline constexpr Nanos kMillisecond = 1'000'000;
inline constexpr Nanos kSecond = 1'000'000'000;
// One byte at 115200 baud with start and stop bits: 10 bits.
inline constexpr Nanos kByteTime = (10 * kSecond + 115200 / 2) / 115200;

// CLOCK_MONOTONIC, the clock timerfd is armed against.
inline Nanos mono_now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Nanos>(ts.tv_sec) * kSecond + ts.tv_nsec;
}

}  // namespace zbsim
