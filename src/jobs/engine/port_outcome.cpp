#include "jobs/engine/port_outcome.h"

#include <algorithm>

namespace zb {

std::vector<PortOutcome> OutcomeRecorder::Outcomes() const {
    std::lock_guard lock(mutex_);
    return outcomes_;
}

void OutcomeRecorder::Clear() {
    std::lock_guard lock(mutex_);
    outcomes_.clear();
}

PortOutcome* OutcomeRecorder::Find(std::int32_t com) {
    const auto it =
        std::lower_bound(outcomes_.begin(), outcomes_.end(), com,
                         [](const PortOutcome& o, std::int32_t c) { return o.com < c; });
    return it != outcomes_.end() && it->com == com ? &*it : nullptr;
}

void OutcomeRecorder::JobStarted(const std::vector<std::int32_t>& coms) {
    {
        std::lock_guard lock(mutex_);
        outcomes_.clear();
        outcomes_.reserve(coms.size());
        for (const std::int32_t com : coms) outcomes_.push_back({com, true, {}});
    }
    next_.JobStarted(coms);
}

void OutcomeRecorder::SetPortMessage(std::int32_t com, std::string_view text) {
    {
        std::lock_guard lock(mutex_);
        if (PortOutcome* o = Find(com)) {
            o->message.assign(text);
            o->updated = std::chrono::system_clock::now();
        }
    }
    next_.SetPortMessage(com, text);
}

void OutcomeRecorder::SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) {
    next_.SetPortProgress(com, done, total);
}

void OutcomeRecorder::SetProgressBar(std::int32_t com, const ProgressBarState& state) {
    next_.SetProgressBar(com, state);
}

void OutcomeRecorder::SetPortFailed(std::int32_t com) {
    {
        std::lock_guard lock(mutex_);
        if (PortOutcome* o = Find(com)) {
            o->ok = false;
            o->updated = std::chrono::system_clock::now();
        }
    }
    next_.SetPortFailed(com);
}

void OutcomeRecorder::SetFailureKind(std::int32_t com, FailureKind kind) {
    {
        std::lock_guard lock(mutex_);
        if (PortOutcome* o = Find(com)) o->failure = kind;
    }
    next_.SetFailureKind(com, kind);
}

void OutcomeRecorder::SetJobMode(JobMode mode) {
    next_.SetJobMode(mode);
}

void OutcomeRecorder::JobFinished() {
    next_.JobFinished();
}

}  // namespace zb
