// The state of one port's progress bar, kept by the engine and drawn by the job window.
//
// A worker changes its own port's bar and the job window reads it on the GUI thread, so
// every operation takes the bar's small mutex. Each change returns the new state, which
// the worker passes on to JobReporter::SetProgressBar in the order it made the changes.
#pragma once

#include <cstdint>
#include <mutex>

namespace zb {

struct ProgressBarState {
    std::uint32_t max = 100;
    std::uint32_t position = 0;
    bool visible = false;
    friend bool operator==(const ProgressBarState&, const ProgressBarState&) = default;
};

class ProgressBar {
public:
    ProgressBarState State() const;
    // The position never exceeds the maximum: a larger value stops at it.
    ProgressBarState SetMax(std::uint32_t max);
    ProgressBarState Step();
    ProgressBarState Fill();
    // What showing the job window does to an existing bar: position 0, hidden.
    ProgressBarState Reset();
    // The window shows the bar when it first lays it over its cell.
    ProgressBarState SetVisible(bool visible);

private:
    mutable std::mutex mutex_;
    ProgressBarState state_;
};

}  // namespace zb
