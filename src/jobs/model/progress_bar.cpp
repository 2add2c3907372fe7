#include "jobs/model/progress_bar.h"

#include <algorithm>

namespace zb {

ProgressBarState ProgressBar::State() const {
    std::lock_guard lock(mutex_);
    return state_;
}

ProgressBarState ProgressBar::SetMax(std::uint32_t max) {
    std::lock_guard lock(mutex_);
    state_.max = max;
    state_.position = std::min(state_.position, max);
    return state_;
}

ProgressBarState ProgressBar::Step() {
    std::lock_guard lock(mutex_);
    if (state_.position < state_.max) ++state_.position;
    return state_;
}

ProgressBarState ProgressBar::Fill() {
    std::lock_guard lock(mutex_);
    state_.position = state_.max;
    return state_;
}

ProgressBarState ProgressBar::Reset() {
    std::lock_guard lock(mutex_);
    state_.position = 0;
    state_.visible = false;
    return state_;
}

ProgressBarState ProgressBar::SetVisible(bool visible) {
    std::lock_guard lock(mutex_);
    state_.visible = visible;
    return state_;
}

}  // namespace zb
