// Internal: a joinable thread with a small stack, and the manual-reset start event.
//
// A job may run 1024 workers at once; the default 8 MiB stacks would reserve 8 GiB of
// address space and commit more than the workers need, so workers get small stacks.
// The thread itself is the platform's (worker_thread_posix.cpp, worker_thread_win32.cpp).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

namespace zb::detail {

class WorkerThread {
public:
    WorkerThread();
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // 0, or the system's error code (std::system_category) when the thread could not be
    // created.
    int Start(std::function<void()> body);
    void Join();
    bool Started() const { return native_ != nullptr; }

private:
    struct Native;  // the platform's handle of a started thread
    std::unique_ptr<Native> native_;
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
