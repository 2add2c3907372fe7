// Internal: a joinable thread with a small stack, and the manual-reset start event.
//
// A job may run 1024 workers at once; the default 8 MiB stacks would reserve 8 GiB of
// address space and commit more than the workers need, so workers get small stacks.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

namespace zb::detail {

class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread() { Join(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // 0, or the system's error code when the thread could not be created.
    int Start(std::function<void()> body);
    void Join();
    bool Started() const { return started_; }

private:
    pthread_t id_{};
    bool started_ = false;
};

// Stays signalled once set, releasing every waiter, until it is destroyed.
class ManualResetEvent {
public:
    void Set();
    void Wait();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

// Lowers the calling thread's scheduling priority a little, so that a thousand busy port
// workers never keep the thread that draws the window from running. A no-op where threads
// have no priority of their own.
void YieldPriorityToInteractiveThreads();

}  // namespace zb::detail
