#include "jobs/platform/worker_thread.h"

namespace zb::detail {

void ManualResetEvent::Set() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_all();
}

void ManualResetEvent::Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return signalled_; });
}

}  // namespace zb::detail
