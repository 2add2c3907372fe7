// The ports of one zbctl run: their table, the engine that runs their jobs, the progress
// shown on stderr, and each port's result and report rows. This is where zbctl keeps its
// results; the job sequences (job_sequences.h) only say when a port's part is over.
//
// A run belongs to the main thread, except PrintSoFar, WriteRowsSoFar and Stopping(),
// which the signal thread may call while workers run: the reporter's state is guarded by
// one mutex, the report rows and the ports of the try by another (taken first).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/cli_args.h"
#include "cli/cli_output.h"
#include "cli/progress.h"
#include "jobs/engine/job_engine.h"
#include "jobs/engine/port_outcome.h"
#include "jobs/model/port_table.h"
#include "jobs/report/report_row.h"
#include "jobs/report/report_sink.h"

namespace zbctl {

// Progress on stderr (progress.h). It also keeps each port's result once its part is over, and
// prints the results once: either at the end, or, when the program is interrupted, from the signal
// thread while workers may still run.
class CliReporter : public zb::NullJobReporter {
public:
    void JobStarted(const std::vector<std::int32_t>& coms) override;
    void SetPortMessage(std::int32_t com, std::string_view text) override;
    void SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) override;
    void SetProgressBar(std::int32_t com, const zb::ProgressBarState& state) override;
    void SetPortFailed(std::int32_t com) override;
    void JobFinished() override;

    void KeepResult(PortResult result);
    bool HasResult(std::int32_t com);
    std::optional<PortResult> ResultOf(std::int32_t com);
    bool ResultOk(std::int32_t com);
    // A port about to be tried again has no result until its new try ends.
    void Forget(std::int32_t com);

    // Prints the kept results of `coms` in order, unless results were printed already; a
    // port without a result was interrupted, after its last message in `outcomes`. Whether
    // every port printed succeeded.
    bool PrintResults(const std::vector<std::int32_t>& coms,
                      const std::vector<zb::PortOutcome>& outcomes, bool json, bool files,
                      bool verify);
    // Nothing is to be printed any more.
    void Seal();

    // Called, outside the reporter's lock, when a write to stdout or stderr failed: the
    // reader has gone. Set before any job runs.
    std::function<void()> on_output_lost;
    // When set, hears the messages and the progress instead of stderr. Set before any job
    // runs.
    zb::JobReporter* echo = nullptr;
    // Calls on_output_lost when an earlier print of any thread failed.
    void CheckOutput();

    Progress progress;
    // Upgrades: the image's type, and the table whose records get each modem's type, for
    // the note on "Firmware type is invalid".
    std::optional<std::uint32_t> image_type;
    const zb::PortTable* table = nullptr;

private:
    std::mutex mutex_;
    std::map<std::int32_t, PortResult> results_;
    bool printed_ = false;
};

// A run may try the ports that failed again: coms() are the ports of the current try,
// every port keeps its latest result, and each try of a port adds one report row.
class PortRun {
public:
    // `report` null: no report. A sink may be shared by runs on several threads.
    PortRun(const std::vector<std::int32_t>& coms, Command command,
            std::shared_ptr<zb::ReportSink> report);

    const std::vector<std::int32_t>& coms() const { return coms_; }
    zb::JobEngine& engine() { return job_; }
    zb::PortTable& table() { return table_; }
    zb::PortRow& Row(std::int32_t com) { return table_[static_cast<std::size_t>(com - 1)]; }
    zb::DeviceRecord& Record(std::int32_t com) { return *Row(com).device; }
    // The port's last message in the latest job.
    std::string LastMessage(std::int32_t com) const;
    bool Finished(std::int32_t com) { return reporter_.HasResult(com); }
    bool Reporting() const { return report_ != nullptr; }
    std::atomic<bool>& Stopping() { return stopping_; }
    void OnOutputLost(std::function<void()> lost) { reporter_.on_output_lost = std::move(lost); }
    // The messages and the progress go to `observer` instead of stderr. Before any job.
    void EchoTo(zb::JobReporter* observer) { reporter_.echo = observer; }
    // The port's latest result; none before its part is over.
    std::optional<PortResult> Result(std::int32_t com) { return reporter_.ResultOf(com); }
    void ShowProgress(ProgressMode mode) { reporter_.progress.SetMode(mode); }
    // The phase the progress line names while the next job runs.
    void Phase(std::string_view name) { reporter_.progress.Phase(name); }
    void SetImageType(std::optional<std::uint32_t> type) { reporter_.image_type = type; }
    // A line on stderr that the progress line does not overwrite; any thread.
    void Note(std::string_view line) {
        if (notes_)
            notes_(line);
        else
            reporter_.progress.Note(line);
    }
    // The notes go to `notes` instead (a display of its own). Before any job.
    void NotesTo(std::function<void(std::string_view)> notes) { notes_ = std::move(notes); }

    // One job over the ports still marked; none marked, none runs. After a stop none runs
    // either: the marked ports fail with "User abort", untouched.
    void RunJob(const std::string& firmware_file = "");

    // After a read job: the record holds what the device in its application reported.
    bool ReadOk(std::int32_t com);

    // The port starts afresh, as a port just added: link closed, a new record, marked.
    void Renew(std::int32_t com);

    void SetFirmwareBefore(std::int32_t com, std::string version) {
        fw_before_[com] = std::move(version);
    }
    // The read-back of the written fields, for the port's next Finish; its report row
    // carries the settings `sent`, not those read back.
    void SetVerified(std::int32_t com, bool ok, std::vector<zb::ReportDiff> diffs,
                     const zb::DeviceRecord& sent) {
        verified_[com] = zb::ReadBack{ok, std::move(diffs)};
        written_[com] = sent;
    }

    // Ends the port's part: its link is closed, its result kept and its report row made.
    // An empty message is the port's last message in the job.
    void Finish(std::int32_t com, bool ok, bool settings, std::string message = "",
                std::string file = "");

    // Ends the current try: a port without a result fails, and the try's rows go to the
    // report. The ports that failed, in COM order.
    std::vector<std::int32_t> EndTry();

    // The next try, over `coms` alone.
    void Retry(const std::vector<std::int32_t>& coms);
    int Attempt() const { return attempt_; }

    // A job that could not start: nothing of it is trusted.
    void Abandon();

    // Prints the latest result of every port in COM order; whether every port succeeded. A
    // report that could not be written fails the run as well.
    bool Report(bool json, bool files, bool verify);

    // From any thread while the job may still run: the results kept so far, and for the
    // other ports their last messages. Touches no record.
    void PrintSoFar(bool json, bool files, bool verify) {
        (void)reporter_.PrintResults(all_, job_.Outcomes(), json, files, verify);
    }
    // From any thread, when the program is about to end at once: the report gets the rows
    // made so far and one for each port of the try without a result (its last message and
    // "; Interrupted"). Nothing goes to the report after it.
    void WriteRowsSoFar();

private:
    zb::ReportRow RowOf(const PortResult& result);

    std::vector<std::int32_t> all_;
    std::vector<std::int32_t> coms_;
    Command command_;
    std::shared_ptr<zb::ReportSink> report_;
    std::function<void(std::string_view)> notes_;
    int attempt_ = 1;
    std::map<std::int32_t, std::string> fw_before_;
    std::map<std::int32_t, zb::ReadBack> verified_;
    std::map<std::int32_t, zb::DeviceRecord> written_;
    std::vector<zb::PortOutcome> outcomes_;  // the latest job's, once it has ended
    std::mutex rows_mutex_;  // guards coms_, attempt_, rows_ and rows_closed_ against the
                             // signal thread; the main thread alone changes them
    std::vector<zb::ReportRow> rows_;
    bool rows_closed_ = false;
    bool report_failed_ = false;
    std::atomic<bool> stopping_{false};
    zb::PortTable table_;
    CliReporter reporter_;
    zb::JobEngine job_;
};

}  // namespace zbctl
