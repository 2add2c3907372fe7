#include <windows.h>

#include <memory>

#include "jobs/platform/worker_thread.h"

namespace zb::detail {
namespace {

// Reserved, not committed: the system commits pages as the stack grows.
constexpr SIZE_T kStackSize = 256u << 10;

DWORD WINAPI RunBody(LPVOID arg) {
    const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    (*body)();
    return 0;
}

}  // namespace

struct WorkerThread::Native {
    HANDLE thread = nullptr;
};

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread() {
    Join();
}

int WorkerThread::Start(std::function<void()> body) {
    if (native_) return ERROR_INVALID_FUNCTION;
    auto native = std::make_unique<Native>();
    auto heap_body = std::make_unique<std::function<void()>>(std::move(body));
    // Without STACK_SIZE_PARAM_IS_A_RESERVATION the size would be the first commit, and the
    // reservation the program's default (1 MiB, or what the linker set).
    native->thread = ::CreateThread(nullptr, kStackSize, &RunBody, heap_body.get(),
                                    STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (native->thread == nullptr) return static_cast<int>(::GetLastError());
    (void)heap_body.release();  // the thread owns it now
    native_ = std::move(native);
    return 0;
}

void WorkerThread::Join() {
    if (!native_) return;
    (void)::WaitForSingleObject(native_->thread, INFINITE);
    (void)::CloseHandle(native_->thread);
    native_.reset();
}

void YieldPriorityToInteractiveThreads() {
    // One step below normal: still above the idle class, so the workers keep their pace
    // on a quiet machine.
    (void)::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

}  // namespace zb::detail
