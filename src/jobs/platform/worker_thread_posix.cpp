#include <limits.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "jobs/platform/worker_thread.h"

namespace zb::detail {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kStackSize = 2u << 20;  // sanitizers enlarge every frame
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr std::size_t kStackSize = 2u << 20;
#else
constexpr std::size_t kStackSize = 256u << 10;
#endif
#else
constexpr std::size_t kStackSize = 256u << 10;
#endif

#if defined(__linux__)
constexpr int kWorkerNice = 10;
#endif

void* RunBody(void* arg) {
    const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    (*body)();
    return nullptr;
}

}  // namespace

struct WorkerThread::Native {
    pthread_t id{};
};

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread() {
    Join();
}

int WorkerThread::Start(std::function<void()> body) {
    if (native_) return EINVAL;
    auto native = std::make_unique<Native>();
    auto heap_body = std::make_unique<std::function<void()>>(std::move(body));
    pthread_attr_t attr;
    int err = pthread_attr_init(&attr);
    if (err != 0) return err;
    err = pthread_attr_setstacksize(&attr, std::max<std::size_t>(kStackSize, PTHREAD_STACK_MIN));
    if (err == 0) err = pthread_create(&native->id, &attr, &RunBody, heap_body.get());
    pthread_attr_destroy(&attr);
    if (err != 0) return err;
    (void)heap_body.release();  // the thread owns it now
    native_ = std::move(native);
    return 0;
}

void WorkerThread::Join() {
    if (!native_) return;
    pthread_join(native_->id, nullptr);
    native_.reset();
}

void YieldPriorityToInteractiveThreads() {
#if defined(__linux__)
    // On Linux every thread has its own nice value; raising it needs no privilege.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    (void)::setpriority(PRIO_PROCESS, tid, kWorkerNice);
#endif
}

}  // namespace zb::detail
