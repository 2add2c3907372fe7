#include "jobs/run/port_run.h"

#include <chrono>
#include <limits>

#include "jobs/model/sha256.h"
#include "jobs/platform/file_storage.h"
#include "protocol/serial_link.h"

namespace zb {
namespace {

// The port's outcome in `outcomes`, or null for a port not in that job.
const PortOutcome* OutcomeOf(const std::vector<PortOutcome>& outcomes, std::int32_t com) {
    for (const PortOutcome& o : outcomes)
        if (o.com == com) return &o;
    return nullptr;
}

// The port's last message in `outcomes`; empty when it has none.
std::string MessageOf(const std::vector<PortOutcome>& outcomes, std::int32_t com) {
    const PortOutcome* outcome = OutcomeOf(outcomes, com);
    return outcome != nullptr ? outcome->message : std::string();
}

std::vector<std::int32_t> MarkedComs(const PortTable& table) {
    std::vector<std::int32_t> coms;
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].device && table[i].device->selected)
            coms.push_back(static_cast<std::int32_t>(i + 1));
    return coms;
}

// The SHA-256 of the file's content; empty when it cannot be read.
std::string FileSha256(const std::string& path) {
    const Result<std::string> content =
        ReadWholeFile(path, std::numeric_limits<std::size_t>::max());
    return content ? Sha256Hex(*content) : std::string();
}

// A port whose part a stop cut short: its last message, or `before` when it had none, then
// "Interrupted".
PortResult InterruptedResult(std::int32_t com, const std::string& message,
                             std::string_view before) {
    PortResult cut;
    cut.com = com;
    cut.failure = FailureKind::Interrupted;
    const std::string last = message.empty() ? std::string(before) : message;
    cut.message = last.empty() ? "Interrupted" : last + "; Interrupted";
    return cut;
}

}  // namespace

std::string_view CommandName(RunCommand command) {
    switch (command) {
        case RunCommand::Read:
            return "read";
        case RunCommand::Apply:
            return "apply";
        case RunCommand::Import:
            return "import";
        case RunCommand::Upgrade:
            return "upgrade";
        case RunCommand::Export:
            return "export";
    }
    return "";
}

std::string_view PhaseName(RunPhase phase) {
    switch (phase) {
        case RunPhase::Reading:
            return "reading";
        case RunPhase::Writing:
            return "writing";
        case RunPhase::Verifying:
            return "verifying";
        case RunPhase::Upgrading:
            return "upgrading";
        case RunPhase::ReadingAgain:
            return "reading again";
    }
    return "";
}

bool EngineJobs::RunJob(const PortTable& ports, std::uint32_t count, const std::string& firmware) {
    engine_.LoadPorts(ports);
    engine_.SetPortCount(count);
    engine_.SetFirmwareFile(firmware);
    engine_.Run();
    return true;
}

PortRun::PortRun(const std::vector<std::int32_t>& coms, RunCommand command, JobHost& jobs,
                 std::shared_ptr<ReportSink> report)
    : own_table_(std::make_unique<PortTable>()),
      table_(own_table_.get()),
      keep_marks_(false),
      all_(coms),
      coms_(coms),
      command_(command),
      jobs_(jobs),
      report_(std::move(report)) {
    for (const std::int32_t com : coms_) AddPort(Row(com), static_cast<std::uint32_t>(com));
    Locate(all_);
}

PortRun::PortRun(PortTable& table, RunCommand command, JobHost& jobs)
    : table_(&table),
      keep_marks_(true),
      all_(MarkedComs(table)),
      coms_(all_),
      command_(command),
      jobs_(jobs) {
    Locate(all_);
}

void PortRun::Locate(const std::vector<std::int32_t>& coms) {
    // Looked up before the lock: the signal thread must not wait on the system's answers.
    std::map<std::int32_t, Where> found;
    for (const std::int32_t com : coms) found[com] = {com_device_path(com), com_port_id(com)};
    const std::lock_guard lock(rows_mutex_);
    for (auto& [com, where] : found) where_[com] = std::move(where);
}

void PortRun::Place(PortResult& result) const {
    if (const auto it = where_.find(result.com); it != where_.end()) {
        result.device = it->second.device;
        result.port_id = it->second.port_id;
    }
}

void PortRun::UseFile(const std::string& path) {
    file_ = path;
    file_sha256_ = FileSha256(path);
}

std::string PortRun::LastMessage(std::int32_t com) const {
    const std::string message = MessageOf(outcomes_, com);
    return message.empty() ? "Preparing..." : message;
}

FailureKind PortRun::Failure(std::int32_t com) const {
    const PortOutcome* outcome = OutcomeOf(outcomes_, com);
    if (outcome == nullptr || outcome->failure == FailureKind::None) return FailureKind::StepFailed;
    return outcome->failure;
}

bool PortRun::JobOk(std::int32_t com) const {
    const PortOutcome* outcome = OutcomeOf(outcomes_, com);
    return outcome != nullptr && outcome->ok;
}

bool PortRun::Finished(std::int32_t com) const {
    const std::lock_guard lock(results_mutex_);
    return results_.count(com) != 0;
}

bool PortRun::RunJob(const std::string& firmware_file) {
    std::uint32_t marked = 0;
    for (const std::int32_t com : coms_) marked += Record(com).selected ? 1 : 0;
    if (marked == 0) return true;
    if (stopping_.load()) {
        // The job that would run now is not started: its ports say so, as the engine's
        // workers would, and their last message is this job's, not the one before.
        std::vector<PortOutcome> skipped;
        const auto now = std::chrono::system_clock::now();
        for (const std::int32_t com : coms_) {
            DeviceRecord& record = Record(com);
            if (!record.selected || Finished(com)) continue;
            record.job_failed = true;
            skipped.push_back({com, false, "User abort", now, FailureKind::UserAbort});
            if (observer_ != nullptr) observer_->SetPortMessage(com, "User abort");
        }
        outcomes_ = std::move(skipped);
        return true;
    }
    const bool ran = jobs_.RunJob(*table_, marked, firmware_file);
    outcomes_ = ran ? jobs_.Outcomes() : std::vector<PortOutcome>{};
    return ran;
}

bool PortRun::ReadOk(std::int32_t com) {
    const DeviceRecord& r = Record(com);
    return r.selected && r.connected && !r.upgrade_wait && !r.job_failed;
}

void PortRun::Renew(std::int32_t com) {
    UnmarkPort(Row(com));
    AddPort(Row(com), static_cast<std::uint32_t>(com));
}

void PortRun::SetVerified(std::int32_t com, bool ok, std::vector<ReportDiff> diffs,
                          const DeviceRecord& sent) {
    verified_[com] = ReadBack{ok, std::move(diffs)};
    written_[com] = sent;
}

void PortRun::Finish(std::int32_t com, FailureKind failure, bool settings, std::string message,
                     std::string file) {
    PortRow& row = Row(com);
    if (!keep_marks_) UnmarkPort(row);
    // The port's part ends now, as its PASS or FAIL shows, not with its last message in the
    // job: a read-back or a second job may come seconds after that.
    const PortOutcome outcome{com, failure == FailureKind::None, LastMessage(com),
                              std::chrono::system_clock::now(), failure};
    PortResult result = ResultOf(outcome, *row.device);
    if (!message.empty()) result.message = std::move(message);
    if (failure == FailureKind::FirmwareType && type_notes_)
        result.message =
            WithFirmwareTypes(std::move(result.message), image_type_, row.device->fw_type);
    result.settings = settings;
    if (!file.empty()) {
        result.file = std::move(file);
        result.file_sha256 = FileSha256(result.file);
    } else if (command_ != RunCommand::Export) {
        result.file = file_;
        result.file_sha256 = file_sha256_;
    }
    if (const auto it = verified_.find(com); it != verified_.end()) {
        result.verified = true;
        result.verify_ok = it->second.ok;
        result.diffs = std::move(it->second.diffs);
        verified_.erase(it);
    }
    result.dry_run = dry_run_;
    if (const auto it = changes_.find(com); it != changes_.end()) {
        result.changes = std::move(it->second);
        changes_.erase(it);
    }
    // Under the rows' lock: WriteRowsSoFar sees the row and the result together, or neither.
    const std::lock_guard lock(rows_mutex_);
    Place(result);
    if (dry_run_) {
        Keep(std::move(result));
        return;
    }
    rows_.push_back(RowOf(result));
    written_.erase(com);
    Keep(std::move(result));
}

void PortRun::Keep(PortResult result) {
    const std::lock_guard lock(results_mutex_);
    const std::int32_t com = result.com;
    results_[com] = std::move(result);
}

std::optional<PortResult> PortRun::Result(std::int32_t com) const {
    const std::lock_guard lock(results_mutex_);
    const auto it = results_.find(com);
    if (it == results_.end()) return std::nullopt;
    return it->second;
}

std::vector<PortResult> PortRun::ResultsSoFar() const {
    const std::vector<PortOutcome> outcomes = jobs_.Outcomes();
    const std::lock_guard lock(results_mutex_);
    std::vector<PortResult> results;
    for (const std::int32_t com : all_) {
        if (const auto it = results_.find(com); it != results_.end()) {
            results.push_back(it->second);
            continue;
        }
        results.push_back(InterruptedResult(com, MessageOf(outcomes, com), ""));
        results.back().dry_run = dry_run_;
    }
    return results;
}

std::vector<std::int32_t> PortRun::EndTry() {
    std::vector<std::int32_t> failed;
    for (const std::int32_t com : coms_) {
        if (!Finished(com)) Finish(com, Failure(com), false);
        const std::optional<PortResult> result = Result(com);
        if (!result || !result->ok) failed.push_back(com);
    }
    const std::lock_guard lock(rows_mutex_);
    if (Reporting() && !rows_.empty() && !rows_closed_) {
        if (const Status added = report_->Append(rows_); !added) {
            if (report_lost_) report_lost_(added.reason());
            report_failed_ = true;
        }
        rows_.clear();
    }
    return failed;
}

void PortRun::Retry(const std::vector<std::int32_t>& coms) {
    {
        const std::lock_guard lock(rows_mutex_);
        ++attempt_;
        coms_ = coms;
    }
    for (const std::int32_t com : coms_) {
        {
            const std::lock_guard lock(results_mutex_);
            results_.erase(com);
        }
        read_before_.erase(com);
        Renew(com);
    }
    // A retry opens the port afresh: its rows name the device it leads to now.
    Locate(coms);
}

void PortRun::Abandon() {
    if (keep_marks_) return;
    for (PortRow& row : *table_) UnmarkPort(row);
}

void PortRun::WriteRowsSoFar() {
    const std::lock_guard lock(rows_mutex_);
    if (!Reporting() || rows_closed_ || dry_run_) return;
    rows_closed_ = true;
    RowContext context;
    context.command = CommandName(command_);
    context.label = &label_;
    context.time = ReportTime(std::chrono::system_clock::now());
    context.attempt = attempt_;
    // The engine's outcomes and no record: workers may still hold the records.
    const std::vector<PortOutcome> outcomes = jobs_.Outcomes();
    for (const std::int32_t com : coms_) {
        if (Finished(com)) continue;
        PortResult cut = InterruptedResult(com, MessageOf(outcomes, com), "Preparing...");
        Place(cut);
        cut.file = file_;
        cut.file_sha256 = file_sha256_;
        rows_.push_back(PortReportRow(cut, DeviceRecord{}, context));
    }
    if (const Status added = rows_.empty() ? Status() : report_->Append(rows_);
        !added && report_lost_)
        report_lost_(added.reason());
    rows_.clear();
}

std::vector<ReportRow> PortRun::TakeRows() {
    const std::lock_guard lock(rows_mutex_);
    return std::move(rows_);
}

ReportRow PortRun::RowOf(const PortResult& result) {
    RowContext context;
    context.command = CommandName(command_);
    context.label = &label_;
    context.time = ReportTime(std::chrono::system_clock::now());
    context.attempt = attempt_;
    const auto written = written_.find(result.com);
    const bool change = command_ == RunCommand::Apply || command_ == RunCommand::Import;
    // A change's row carries what it wrote: a port refused before its writes has none.
    context.device_read =
        change ? written != written_.end() || (result.ok && result.settings) : result.settings;
    if (const auto before = read_before_.find(result.com); before != read_before_.end()) {
        context.fw_before = std::string(TextOf(before->second.fw_version));
        context.read_before = &before->second;
    }
    return PortReportRow(result, written != written_.end() ? written->second : result.record,
                         context);
}

}  // namespace zb
