// What became of each port of a job, kept by the engine so that the window, zbctl and the
// report rows all read it from one place.
//
// OutcomeRecorder stands between the engine and its reporter: it passes every report on
// unchanged and keeps, per port of the latest job, whether a step failed and why, and the
// last message. Reports arrive on the engine's threads; one mutex guards the outcomes, which are
// updated before the report is passed on. Outcomes may be read from any thread, while the
// job runs as after it.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/engine/job_reporter.h"

namespace zb {

struct PortOutcome {
    std::int32_t com = 0;
    bool ok = true;       // no step of the port has failed
    std::string message;  // the last message shown for the port; empty before the first
    // When the last message or the failure came: the end of the port's part, which may be
    // long before the job's end. Unset before the first.
    std::chrono::system_clock::time_point updated{};
    FailureKind failure = FailureKind::None;  // why a step failed, when one did
};

class OutcomeRecorder final : public JobReporter {
public:
    // `next` hears every report after the outcomes have taken it in; it must outlive this.
    explicit OutcomeRecorder(JobReporter& next) : next_(next) {}

    // The ports of the latest job, ascending.
    std::vector<PortOutcome> Outcomes() const;
    // Forgets the outcomes of the last job: a job that could not start has none.
    void Clear();

    void JobStarted(const std::vector<std::int32_t>& coms) override;
    void SetPortMessage(std::int32_t com, std::string_view text) override;
    void SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) override;
    void SetProgressBar(std::int32_t com, const ProgressBarState& state) override;
    void SetPortFailed(std::int32_t com) override;
    void SetFailureKind(std::int32_t com, FailureKind kind) override;
    void SetJobMode(JobMode mode) override;
    void JobFinished() override;

private:
    // The port's outcome, or null for a port not in the job. Under mutex_.
    PortOutcome* Find(std::int32_t com);

    JobReporter& next_;
    mutable std::mutex mutex_;
    std::vector<PortOutcome> outcomes_;  // ascending by com
};

}  // namespace zb
