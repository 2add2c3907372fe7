#include "protocol/link_state.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <utility>

namespace zb {
namespace {

thread_local detail::LastFailure failure;
std::atomic<double> wait_scale{1.0};

}  // namespace

namespace detail {

LastFailure& last_failure() {
    return failure;
}

std::int32_t fail(std::int32_t code, std::string text, int err) {
    failure.error = std::move(text);
    failure.error_number = err;
    return code;
}

void begin_open() {
    failure.note.clear();
    failure.holder = {};
}

void open_succeeded() {
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

std::string com_last_error() {
    return failure.error;
}

int com_last_errno() {
    return failure.error_number;
}

std::string com_last_open_note() {
    return failure.note;
}

ComHolder com_last_holder() {
    return failure.holder;
}

}  // namespace zb
