// A run over ports: the port table (its own, or one it is given), the jobs that run over
// it, each port's result and report rows, and the tries of a command. The sequences of the
// commands (sequences.h) run on it; zbctl, `zbctl watch` and the window all drive it.
//
// A run belongs to the thread that drives it, except ResultsSoFar, HurryReport,
// WriteRowsSoFar and Stopping(), which a signal thread may call while workers run: the
// report rows, the ports of the try and where they are are guarded by one mutex, the
// results by another (taken second). The report's own lock comes after both.
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
#include <vector>

#include "jobs/engine/job_engine.h"
#include "jobs/engine/port_outcome.h"
#include "jobs/model/port_table.h"
#include "jobs/report/report_row.h"
#include "jobs/report/report_sink.h"
#include "jobs/run/port_result.h"

namespace zb {

enum class RunCommand { Read, Apply, Import, Upgrade, Export };
// "read", "apply", "import", "upgrade", "export": as the reports name them.
std::string_view CommandName(RunCommand command);

// The parts of a run whose jobs the progress line names.
enum class RunPhase { Reading, Writing, Verifying, Upgrading, ReadingAgain };
// "reading", "writing", "verifying", "upgrading", "reading again".
std::string_view PhaseName(RunPhase phase);

// Where a run's jobs run: one job at a time, over the selected records of a table.
class JobHost {
public:
    virtual ~JobHost() = default;
    // Runs one job over the selected records of `ports` (`count` of them; `firmware`: an
    // upgrade's image) and returns once it has ended. False when the job could not start and
    // the host has told the operator so; std::system_error when it could not start otherwise.
    virtual bool RunJob(const PortTable& ports, std::uint32_t count,
                        const std::string& firmware) = 0;
    // Each port of the latest job, ascending; from any thread (JobEngine::Outcomes).
    virtual std::vector<PortOutcome> Outcomes() const = 0;
};

// Starts each job on an engine of its own and waits for it.
class EngineJobs final : public JobHost {
public:
    // The reporter hears the engine's reports; it must outlive this.
    explicit EngineJobs(JobReporter& reporter) : engine_(reporter) {}
    JobEngine& engine() { return engine_; }
    bool RunJob(const PortTable& ports, std::uint32_t count, const std::string& firmware) override;
    std::vector<PortOutcome> Outcomes() const override { return engine_.Outcomes(); }

private:
    JobEngine engine_;
};

// A run may try the ports that failed again: coms() are the ports of the current try,
// every port keeps its latest result, and each try of a port adds one report row.
class PortRun {
public:
    // A table of its own with `coms` added. A port's row is unmarked, its link closed, when
    // its part ends. `report` null: the rows are kept for TakeRows. A sink may be shared by
    // runs on several threads.
    PortRun(const std::vector<std::int32_t>& coms, RunCommand command, JobHost& jobs,
            std::shared_ptr<ReportSink> report = nullptr);
    // Over `table`'s marked ports, which stay marked when their part ends: the caller
    // unmarks them. The table must outlive the run.
    PortRun(PortTable& table, RunCommand command, JobHost& jobs);
    PortRun(const PortRun&) = delete;
    PortRun& operator=(const PortRun&) = delete;

    RunCommand command() const { return command_; }
    const std::vector<std::int32_t>& coms() const { return coms_; }
    PortTable& table() { return *table_; }
    const PortTable& table() const { return *table_; }
    PortRow& Row(std::int32_t com) { return (*table_)[static_cast<std::size_t>(com - 1)]; }
    DeviceRecord& Record(std::int32_t com) { return *Row(com).device; }
    // The port's last message in the latest job.
    std::string LastMessage(std::int32_t com) const;
    // Why the port failed in the latest job: StepFailed when its outcome does not say.
    FailureKind Failure(std::int32_t com) const;
    // No step of the port failed in the latest job.
    bool JobOk(std::int32_t com) const;
    bool Finished(std::int32_t com) const;
    bool Reporting() const { return report_ != nullptr; }
    std::atomic<bool>& Stopping() { return stopping_; }

    // Hears the messages of the ports a stop kept out of a job. Before any job.
    void ObserveWith(JobReporter* observer) { observer_ = observer; }
    // Hears each phase before its job starts. Before any job.
    void OnPhase(std::function<void(RunPhase)> phase) { on_phase_ = std::move(phase); }
    void Phase(RunPhase phase) {
        if (on_phase_) on_phase_(phase);
    }
    // Takes the lines a run says beside its results (a read-back's differences, a file not
    // written); any thread. Before any job.
    void NotesTo(std::function<void(std::string_view)> notes) { notes_ = std::move(notes); }
    void Note(std::string_view line) const {
        if (notes_) notes_(line);
    }
    // Told why the report did not take rows; any thread. Before any job.
    void OnReportLost(std::function<void(std::string_view)> lost) {
        report_lost_ = std::move(lost);
    }

    // Upgrades: the image's type, for the note on a firmware type refused (WithFirmwareTypes);
    // a run not told it gives no note.
    void SetImageType(std::optional<std::uint32_t> type) {
        image_type_ = type;
        type_notes_ = true;
    }
    std::optional<std::uint32_t> ImageType() const { return image_type_; }

    // One job over the ports still marked; none marked, none runs. After a stop none runs
    // either: the marked ports fail with "User abort", untouched. False when the host could
    // not start the job: no port has a part in it.
    bool RunJob(const std::string& firmware_file = "");
    // Read by the latest job: marked, answering, not in its loader, not failed.
    bool ReadOk(std::int32_t com);
    // A fresh record for the port, marked, as a port just added.
    void Renew(std::int32_t com);
    // Upgrades: the device as read before, for the port's report row: the version before,
    // and its settings unless it is read again.
    void SetReadBefore(std::int32_t com, const DeviceRecord& record) { read_before_[com] = record; }
    // The file the command uses (an image, a configuration file), which every row names with
    // the SHA-256 of its content as read now. Before any job.
    void UseFile(const std::string& path);
    // The read-back of the written fields, for the port's next Finish; its report row
    // carries the settings `sent`, not those read back.
    void SetVerified(std::int32_t com, bool ok, std::vector<ReportDiff> diffs,
                     const DeviceRecord& sent);

    // Which run the rows come from: a new run ID and no tags unless told otherwise, as by a
    // watch session whose runs share one label. Before any job.
    void Label(RunLabel label) { label_ = std::move(label); }
    const RunLabel& label() const { return label_; }

    // A dry run: every result says so and no report row is made. Before any job.
    void SetDryRun() { dry_run_ = true; }
    bool DryRun() const { return dry_run_; }
    // A dry run: the changes the write would make, for the port's next Finish.
    void SetChanges(std::int32_t com, std::vector<ReportDiff> changes) {
        changes_[com] = std::move(changes);
    }

    // Ends the port's part: its result kept (ok when `failure` is None) and its report row
    // made, which has this moment as its time. An empty message is the port's last message
    // in the job.
    void Finish(std::int32_t com, FailureKind failure, bool settings, std::string message = "",
                std::string file = "");

    // The port's latest result; none before its part is over.
    std::optional<PortResult> Result(std::int32_t com) const;
    // From any thread: every port's result so far in COM order; a port without one was
    // interrupted, after its last message in the job ("...; Interrupted"). Touches no record.
    std::vector<PortResult> ResultsSoFar() const;

    // Ends the current try: a port without a result fails, and the try's rows go to the
    // report. The ports that failed, in COM order.
    std::vector<std::int32_t> EndTry();
    // The next try, over `coms` alone.
    void Retry(const std::vector<std::int32_t>& coms);
    int Attempt() const { return attempt_; }
    // A job that could not start: nothing of it is trusted.
    void Abandon();
    // A report that did not take the rows of a try.
    bool ReportLost() const { return report_failed_; }

    // From any thread, when the program is about to end at once, before WriteRowsSoFar: the
    // report stops waiting on its database, so that an append in progress ends within a
    // moment. Never blocks.
    void HurryReport() {
        if (report_) report_->Hurry();
    }
    // From any thread, when the program is about to end at once: the report gets the rows
    // made so far and one for each port of the try without a result (its last message and
    // "; Interrupted"). Nothing goes to the report after it.
    void WriteRowsSoFar();
    // Without a report: the rows made so far, in the order the ports ended.
    std::vector<ReportRow> TakeRows();

private:
    // Where each of `coms` is now: the device path and identity its rows will name.
    void Locate(const std::vector<std::int32_t>& coms);
    // The port's device path and identity as located; under rows_mutex_.
    void Place(PortResult& result) const;
    void Keep(PortResult result);
    ReportRow RowOf(const PortResult& result);

    std::unique_ptr<PortTable> own_table_;
    PortTable* table_;
    bool keep_marks_;
    std::vector<std::int32_t> all_;
    std::vector<std::int32_t> coms_;
    RunCommand command_;
    JobHost& jobs_;
    std::shared_ptr<ReportSink> report_;
    JobReporter* observer_ = nullptr;
    std::function<void(RunPhase)> on_phase_;
    std::function<void(std::string_view)> notes_;
    std::function<void(std::string_view)> report_lost_;
    std::optional<std::uint32_t> image_type_;
    bool type_notes_ = false;
    int attempt_ = 1;
    std::map<std::int32_t, DeviceRecord> read_before_;
    std::string file_;
    std::string file_sha256_;
    std::map<std::int32_t, ReadBack> verified_;
    std::map<std::int32_t, DeviceRecord> written_;
    RunLabel label_{NewRunId(), {}};
    bool dry_run_ = false;
    std::map<std::int32_t, std::vector<ReportDiff>> changes_;
    std::vector<PortOutcome> outcomes_;  // the latest job's, once it has ended
    std::mutex rows_mutex_;  // guards coms_, attempt_, where_, rows_ and rows_closed_ against
                             // the signal thread; the driving thread alone changes them
    struct Where {
        std::string device;
        std::string port_id;
    };
    std::map<std::int32_t, Where> where_;
    std::vector<ReportRow> rows_;
    bool rows_closed_ = false;
    std::atomic<bool> report_failed_{false};
    std::atomic<bool> stopping_{false};
    mutable std::mutex results_mutex_;
    std::map<std::int32_t, PortResult> results_;
};

}  // namespace zb
