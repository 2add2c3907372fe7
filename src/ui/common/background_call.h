// Work that can block for long (files synced to disk, a database server that does not
// answer) runs on a thread of its own while the GUI thread keeps serving its events:
// repaints, timers, the other windows' updates. Meanwhile a small modal window names the
// work and the wait cursor shows, so that no other command starts and no window closes
// before the work's result is back. GUI thread only.
#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

class QWidget;

namespace zb::ui {

// Runs `work` on a new thread and returns when it has ended, processing the GUI thread's
// events in the meantime under a modal busy window over `parent` that shows `what`.
void RunInBackground(QWidget* parent, const QString& what, const std::function<void()>& work);

// `work`'s value, computed by RunInBackground. `work` must not touch widgets or anything
// else the GUI thread may change while it runs: it takes copies. What it throws is thrown
// here.
template <class F>
std::invoke_result_t<F&> BackgroundCall(QWidget* parent, const QString& what, F work) {
    std::optional<std::invoke_result_t<F&>> value;
    std::exception_ptr thrown;
    RunInBackground(parent, what, [&] {
        try {
            value.emplace(work());
        } catch (...) {
            thrown = std::current_exception();
        }
    });
    if (thrown) std::rethrow_exception(thrown);
    return std::move(*value);
}

}  // namespace zb::ui
