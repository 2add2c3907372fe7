#include "jobs/engine/job_context.h"

#include "jobs/engine/pause.h"

namespace zb {

void JobContext::ResetForJob() {
    abort_requested.store(false);
    fail_count.store(0);
    apply_fail_count.store(0);
}

// Set under the section's lock, so that a port checking it in BeginWrites either sees it or
// is already counted in `writing` when WaitForWrites looks.
void JobContext::RequestStop() {
    const std::lock_guard lock(writes_mutex);
    stop_requested.store(true);
}

bool JobContext::BeginWrites() {
    const std::lock_guard lock(writes_mutex);
    if (stop_requested.load()) return false;
    ++writing;
    return true;
}

void JobContext::EndWrites() {
    {
        const std::lock_guard lock(writes_mutex);
        --writing;
    }
    writes_done.notify_all();
}

void JobContext::WaitForWrites() {
    std::unique_lock lock(writes_mutex);
    writes_done.wait(lock, [this] { return writing == 0; });
}

void JobContext::SetPortMessage(const DeviceRecord& record, std::string_view text) const {
    reporter_.SetPortMessage(static_cast<std::int32_t>(record.com_no), text);
}

void JobContext::SetPortProgress(const DeviceRecord& record, std::uint64_t done,
                                 std::uint64_t total) const {
    reporter_.SetPortProgress(static_cast<std::int32_t>(record.com_no), done, total);
}

void JobContext::BarSetMax(const DeviceRecord& record, std::uint32_t max) const {
    if (!record.progress_bar) return;
    reporter_.SetProgressBar(static_cast<std::int32_t>(record.com_no),
                             record.progress_bar->SetMax(max));
}

void JobContext::BarStep(const DeviceRecord& record) const {
    if (!record.progress_bar) return;
    reporter_.SetProgressBar(static_cast<std::int32_t>(record.com_no), record.progress_bar->Step());
}

void JobContext::BarFill(const DeviceRecord& record) const {
    if (!record.progress_bar) return;
    reporter_.SetProgressBar(static_cast<std::int32_t>(record.com_no), record.progress_bar->Fill());
}

void JobContext::MarkFailed(DeviceRecord& record, FailureKind kind) const {
    record.job_failed = true;
    reporter_.SetFailureKind(static_cast<std::int32_t>(record.com_no), kind);
    reporter_.SetPortFailed(static_cast<std::int32_t>(record.com_no));
}

void JobContext::ReportFailure(DeviceRecord& record, std::string_view message,
                               FailCounters counters) {
    ReportFailure(record, message, counters,
                  StopRequested() ? FailureKind::UserAbort : FailureKind::StepFailed);
}

void JobContext::ReportFailure(DeviceRecord& record, std::string_view message,
                               FailCounters counters, FailureKind kind) {
    MarkFailed(record, kind);
    BarFill(record);
    if (counters != FailCounters::ApplyFail) CountFail();
    if (counters != FailCounters::Fail) CountApplyFail();
    SetPortMessage(record, message);
}

void JobContext::FailPort(DeviceRecord& record, std::string_view message, FailCounters counters,
                          FailureKind kind) {
    ReportFailure(record, message, counters, kind);
    JobPause();
}

}  // namespace zb
