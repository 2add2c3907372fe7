#include "jobs/job_context.h"

#include "jobs/pause.h"

namespace zb {

void JobContext::ResetForJob() {
    abort_requested.store(false);
    fail_count.store(0);
    apply_fail_count.store(0);
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

void JobContext::MarkFailed(DeviceRecord& record) const {
    record.job_failed = true;
    reporter_.SetPortFailed(static_cast<std::int32_t>(record.com_no));
}

void JobContext::ReportFailure(DeviceRecord& record, std::string_view message,
                               FailCounters counters) {
    MarkFailed(record);
    BarFill(record);
    if (counters != FailCounters::ApplyFail) CountFail();
    if (counters != FailCounters::Fail) CountApplyFail();
    SetPortMessage(record, message);
}

void JobContext::FailPort(DeviceRecord& record, std::string_view message, FailCounters counters) {
    ReportFailure(record, message, counters);
    JobPause();
}

}  // namespace zb
