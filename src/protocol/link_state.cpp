#include "protocol/link_state.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <utility>

namespace zb {
namespace {

std::atomic<double> wait_scale{1.0};

}  // namespace

namespace detail {

std::int32_t fail(std::int32_t code, std::string text, int err) {
    LastFailure& failure = last_failure();
    failure.error = std::move(text);
    failure.error_number = err;
    return code;
}

void begin_open() {
    LastFailure& failure = last_failure();
    failure.note.clear();
    failure.holder = {};
}

void open_succeeded() {
    LastFailure& failure = last_failure();
    failure.error.clear();
    failure.error_number = 0;
}

std::chrono::milliseconds scaled(int wait_ms) {
    const double ms = std::ceil(wait_ms * wait_scale.load(std::memory_order_relaxed));
    return std::chrono::milliseconds(static_cast<long long>(std::max(1.0, ms)));
}

std::uint32_t InputBuffer::take(std::uint8_t* buf, std::uint32_t count) {
    const std::uint32_t n = std::min(count, len - pos);
    std::memcpy(buf, in + pos, n);
    pos += n;
    return n;
}

}  // namespace detail

void com_set_wait_scale(double scale) {
    wait_scale.store(std::isfinite(scale) && scale > 0 ? scale : 1.0);
}

double com_wait_scale() {
    return wait_scale.load();
}

std::chrono::milliseconds com_scaled_wait(int wait_ms) {
    return detail::scaled(wait_ms);
}

std::int32_t com_read_long(ComHandle link, std::uint8_t* buf, std::uint32_t count) {
    return detail::bounded_read(link, buf, count, READ_LONG_WAIT_MS, ST_IO);
}

std::int32_t com_read_short(ComHandle link, std::uint8_t* buf, std::uint32_t count) {
    return detail::bounded_read(link, buf, count, READ_SHORT_WAIT_MS, ST_TIMEOUT);
}

std::string com_last_error() {
    return detail::last_failure().error;
}

int com_last_errno() {
    return detail::last_failure().error_number;
}

std::string com_last_open_note() {
    return detail::last_failure().note;
}

ComHolder com_last_holder() {
    return detail::last_failure().holder;
}

}  // namespace zb
