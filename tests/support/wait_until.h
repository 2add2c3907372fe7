// Waiting in a test for what another thread or program does: a condition checked until it
// holds, with a deadline generous enough for a loaded machine and the sanitizers. The wait
// ends as soon as the condition holds, so the deadline costs time only when a test fails.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace zbtest {

inline constexpr std::chrono::milliseconds kWaitLimit{30000};

// Checks `done` until it holds or `limit` has passed, running `between` between checks
// (a window test serves its event loop there); returns whether it held.
inline bool WaitUntil(const std::function<bool()>& done, const std::function<void()>& between,
                      std::chrono::milliseconds limit = kWaitLimit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        between();
    }
    return true;
}

inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = kWaitLimit) {
    return WaitUntil(
        done, [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }, limit);
}

}  // namespace zbtest
