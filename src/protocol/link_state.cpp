#include "protocol/link_state.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

namespace zb {
namespace {

std::atomic<double> wait_scale{1.0};

#if defined(_WIN32)
// No thread_local object with a destructor here: MinGW's runtime frees a thread's
// thread_local storage before it runs that thread's thread_local destructors, so the
// strings would be destroyed from freed memory, and would free whatever pointers another
// thread had put there by then. Each thread's state is a heap object instead, reached
// through a plain thread_local pointer and deleted by a fiber-local slot's callback when
// the thread ends.
void WINAPI DeleteFailure(void* state) {
    delete static_cast<detail::LastFailure*>(state);
}

thread_local detail::LastFailure* failure_state = nullptr;

detail::LastFailure& ThisThreadsFailure() {
    if (failure_state == nullptr) {
        static const DWORD slot = ::FlsAlloc(&DeleteFailure);
        auto state = std::make_unique<detail::LastFailure>();
        // Without a slot the state outlives its thread: a leak, never a fault.
        if (slot != FLS_OUT_OF_INDEXES) (void)::FlsSetValue(slot, state.get());
        failure_state = state.release();
    }
    return *failure_state;
}
#else
thread_local detail::LastFailure failure_state;

detail::LastFailure& ThisThreadsFailure() {
    return failure_state;
}
#endif

}  // namespace

namespace detail {

LastFailure& last_failure() {
    return ThisThreadsFailure();
}

std::int32_t fail(std::int32_t code, std::string text, int err) {
    LastFailure& failure = ThisThreadsFailure();
    failure.error = std::move(text);
    failure.error_number = err;
    return code;
}

void begin_open() {
    LastFailure& failure = ThisThreadsFailure();
    failure.note.clear();
    failure.holder = {};
}

void open_succeeded() {
    LastFailure& failure = ThisThreadsFailure();
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

std::int32_t com_read_long(ComHandle link, std::uint8_t* buf, std::uint32_t count) {
    return detail::bounded_read(link, buf, count, READ_LONG_WAIT_MS, ST_IO);
}

std::int32_t com_read_short(ComHandle link, std::uint8_t* buf, std::uint32_t count) {
    return detail::bounded_read(link, buf, count, READ_SHORT_WAIT_MS, ST_TIMEOUT);
}

std::string com_last_error() {
    return ThisThreadsFailure().error;
}

int com_last_errno() {
    return ThisThreadsFailure().error_number;
}

std::string com_last_open_note() {
    return ThisThreadsFailure().note;
}

ComHolder com_last_holder() {
    return ThisThreadsFailure().holder;
}

}  // namespace zb
