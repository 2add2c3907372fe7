// What the steps of a job see of it: the reporter, the two failure counters, the stop
// requests, the firmware file, and helpers that change a port's record and report it.
//
// One context serves all workers of a job at once. The counters and the stop requests are
// atomic, and the write section has a lock of its own; the firmware file is set before the
// job starts and only read while it runs. A helper that takes a record may be called only by
// the worker that owns that record.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "jobs/engine/job_reporter.h"
#include "jobs/model/port_table.h"

namespace zb {

// The counters a failed port counts in.
enum class FailCounters { Fail, ApplyFail, Both };

class JobContext {
public:
    explicit JobContext(JobReporter& reporter) : reporter_(reporter) {}
    JobContext(const JobContext&) = delete;
    JobContext& operator=(const JobContext&) = delete;

    JobReporter& reporter() const { return reporter_; }

    // Clears the counters and the job's abort, as showing the job window does. A stop
    // (RequestStop) stays.
    void ResetForJob();

    void SetFirmwareFile(std::string path) { fw_file = std::move(path); }
    const std::string& FirmwareFile() const { return fw_file; }

    // The job window's X: ends this job's upgrades at their next block.
    void RequestAbort() { abort_requested.store(true); }
    // The abort of this job, or a stop.
    bool AbortRequested() const { return abort_requested.load() || StopRequested(); }

    // The operator's stop (zbctl's interrupts): it outlasts the job, so that no later job of
    // the program starts work on a port either. Upgrades end as on an abort; no port starts
    // a step, a read ends between two of its reads, and an apply before its first write.
    void RequestStop();
    bool StopRequested() const { return stop_requested.load(); }

    // The apply step's writes and restart form a section that a stop never cuts: a modem is
    // either untouched or fully written. BeginWrites is false, and nothing may be written,
    // once a stop was asked for; otherwise EndWrites must follow the restart.
    bool BeginWrites();
    void EndWrites();
    // From any thread, after RequestStop: blocks until no port is inside the section (each
    // write and the restart have bounded waits of their own), and no port enters it later.
    void WaitForWrites();

    std::uint32_t FailCount() const { return fail_count.load(); }
    std::uint32_t ApplyFailCount() const { return apply_fail_count.load(); }
    void CountFail() { fail_count.fetch_add(1); }
    void CountApplyFail() { apply_fail_count.fetch_add(1); }

    // Reports about the record's port (its com_no).
    void SetPortMessage(const DeviceRecord& record, std::string_view text) const;
    void SetPortProgress(const DeviceRecord& record, std::uint64_t done, std::uint64_t total) const;
    // Change the record's bar (if it has one) and report its new state.
    void BarSetMax(const DeviceRecord& record, std::uint32_t max) const;
    void BarStep(const DeviceRecord& record) const;
    void BarFill(const DeviceRecord& record) const;
    // Sets job_failed and reports it, with why.
    void MarkFailed(DeviceRecord& record, FailureKind kind) const;
    // How every failure of a port ends: job_failed set and reported, the bar filled, the
    // counters counted, then the message.
    void ReportFailure(DeviceRecord& record, std::string_view message, FailCounters counters,
                       FailureKind kind);
    // The steps end a port without the pause only when a stop came: without a kind, the
    // failure is the stop's (UserAbort) once one was asked for, else the step's own.
    void ReportFailure(DeviceRecord& record, std::string_view message, FailCounters counters);
    // ReportFailure followed by the pause that a worker makes after each failure message.
    void FailPort(DeviceRecord& record, std::string_view message, FailCounters counters,
                  FailureKind kind = FailureKind::StepFailed);
    void SetJobMode(JobMode mode) const { reporter_.SetJobMode(mode); }

private:
    JobReporter& reporter_;
    std::string fw_file;
    std::atomic<bool> abort_requested{false};
    std::atomic<bool> stop_requested{false};
    std::mutex writes_mutex;
    std::condition_variable writes_done;
    int writing = 0;  // ports inside the write section; guarded by writes_mutex
    std::atomic<std::uint32_t> fail_count{0};
    std::atomic<std::uint32_t> apply_fail_count{0};
};

}  // namespace zb
