// What the serial link keeps beside its open ports on every platform: why the last call of
// each thread failed, how much the bounded waits are scaled, and each open port's input
// buffer. Private to the link's platform files. The failure state is per thread; the wait
// scale may be set from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "protocol/serial_link.h"

namespace zb::detail {

struct LastFailure {
    std::string error;     // com_last_error
    int error_number = 0;  // com_last_errno
    std::string note;      // com_last_open_note
    ComHolder holder;      // com_last_holder
};
// This thread's. Each platform's link file keeps it, as its thread-local storage needs.
LastFailure& last_failure();

// Records why a call fails and returns its status code.
std::int32_t fail(std::int32_t code, std::string text, int err);
// A com_open begins: what the last one learnt no longer holds.
void begin_open();
// A com_open succeeded.
void open_succeeded();

// The platform's read of up to `count` bytes within `wait_ms` (scaled); behind com_read_long
// and com_read_short, which give the status codes of their waits.
std::int32_t bounded_read(ComHandle handle, std::uint8_t* buf, std::uint32_t count, int wait_ms,
                          std::int32_t timeout_code);

// A bounded wait of `wait_ms`, scaled by com_set_wait_scale; at least 1 ms.
std::chrono::milliseconds scaled(int wait_ms);

// Bytes taken from the driver in one call and not handed out yet: in[pos..len). Bytes after
// a reply stay here for the next read, as the driver's queue would keep them.
struct InputBuffer {
    std::uint32_t pos = 0;
    std::uint32_t len = 0;
    std::uint8_t in[256] = {};

    // Hands out up to `count` buffered bytes; returns how many.
    std::uint32_t take(std::uint8_t* buf, std::uint32_t count);
    // The driver has just put `n` bytes into `in`.
    void filled(std::uint32_t n) {
        pos = 0;
        len = n;
    }
    void clear() { pos = len = 0; }
};

}  // namespace zb::detail
