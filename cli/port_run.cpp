#include "cli/port_run.h"

#include <chrono>
#include <cstdio>

#include "jobs/model/text_escape.h"
#include "protocol/serial_link.h"

namespace zbctl {
namespace {

const char* CommandName(Command command) {
    switch (command) {
        case Command::Read:
            return "read";
        case Command::Apply:
            return "apply";
        case Command::Upgrade:
            return "upgrade";
        case Command::Export:
            return "export";
        case Command::Import:
            return "import";
        case Command::Help:
        case Command::Version:
        case Command::Ports:
        case Command::Watch:
            break;
    }
    return "";
}

// The port's outcome in `outcomes`, or null for a port not in that job.
const zb::PortOutcome* OutcomeOf(const std::vector<zb::PortOutcome>& outcomes, std::int32_t com) {
    for (const zb::PortOutcome& o : outcomes)
        if (o.com == com) return &o;
    return nullptr;
}

// The port's last message in `outcomes`; empty when it has none.
std::string MessageOf(const std::vector<zb::PortOutcome>& outcomes, std::int32_t com) {
    const zb::PortOutcome* outcome = OutcomeOf(outcomes, com);
    return outcome != nullptr ? outcome->message : std::string();
}

// "Firmware type is invalid" says which types differ: the image's and the modem's, which the
// image check leaves in the record (read on the worker that wrote it, or once the job ended).
std::string WithFirmwareTypes(std::string_view message, std::optional<std::uint32_t> image,
                              const zb::PortTable* table, std::int32_t com) {
    if (message != "Firmware type is invalid" || table == nullptr) return std::string(message);
    char note[64];
    const std::uint32_t modem = (*table)[static_cast<std::size_t>(com - 1)].device->fw_type;
    if (image)
        std::snprintf(note, sizeof note, " (image 0x%x, modem 0x%x)", *image, modem);
    else
        std::snprintf(note, sizeof note, " (image none, modem 0x%x)", modem);
    return std::string(message) + note;
}

}  // namespace

void CliReporter::JobStarted(const std::vector<std::int32_t>& coms) {
    if (!progress.JobStarted(coms.size())) CheckOutput();
}

void CliReporter::SetPortMessage(std::int32_t com, std::string_view text) {
    const std::string shown = WithFirmwareTypes(text, image_type, table, com);
    if (echo != nullptr) {
        echo->SetPortMessage(com, shown);
        return;
    }
    if (!progress.PortMessage(com, shown)) CheckOutput();
}

void CliReporter::SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) {
    if (echo != nullptr) {
        echo->SetPortProgress(com, done, total);
        return;
    }
    if (!progress.PortProgress(com, done, total)) CheckOutput();
}

void CliReporter::SetProgressBar(std::int32_t com, const zb::ProgressBarState& state) {
    if (!progress.PortBar(com, state)) CheckOutput();
}

void CliReporter::SetPortFailed(std::int32_t com) {
    progress.PortFailed(com);
}

void CliReporter::JobFinished() {
    if (!progress.JobFinished()) CheckOutput();
}

void CliReporter::CheckOutput() {
    if ((std::ferror(stdout) != 0 || std::ferror(stderr) != 0) && on_output_lost) on_output_lost();
}

void CliReporter::KeepResult(PortResult result) {
    std::lock_guard lock(mutex_);
    const std::int32_t com = result.com;
    results_[com] = std::move(result);
}

std::optional<PortResult> CliReporter::ResultOf(std::int32_t com) {
    std::lock_guard lock(mutex_);
    const auto it = results_.find(com);
    if (it == results_.end()) return std::nullopt;
    return it->second;
}

bool CliReporter::HasResult(std::int32_t com) {
    std::lock_guard lock(mutex_);
    return results_.count(com) != 0;
}

bool CliReporter::ResultOk(std::int32_t com) {
    std::lock_guard lock(mutex_);
    const auto it = results_.find(com);
    return it != results_.end() && it->second.ok;
}

void CliReporter::Forget(std::int32_t com) {
    std::lock_guard lock(mutex_);
    results_.erase(com);
}

bool CliReporter::PrintResults(const std::vector<std::int32_t>& coms,
                               const std::vector<zb::PortOutcome>& outcomes, bool json, bool files,
                               bool verify) {
    std::lock_guard lock(mutex_);
    if (printed_) return false;
    printed_ = true;
    progress.Close();
    std::vector<PortResult> results;
    bool all_ok = true;
    for (const std::int32_t com : coms) {
        const auto it = results_.find(com);
        if (it != results_.end()) {
            results.push_back(it->second);
            if (!it->second.error.empty())
                std::fprintf(stderr, "zbctl: COM%d: %s\n", com,
                             Printable(it->second.error).c_str());
        } else {
            PortResult& cut = results.emplace_back();
            cut.com = com;
            const std::string message = MessageOf(outcomes, com);
            cut.message = message.empty() ? "Interrupted" : message + "; Interrupted";
        }
        all_ok = all_ok && results.back().ok;
    }
    const std::string text =
        json ? RenderJson(results, files, verify) : RenderTable(results, files);
    std::fputs(text.c_str(), stdout);
    // A table its reader never got is no success.
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && all_ok;
}

void CliReporter::Seal() {
    std::lock_guard lock(mutex_);
    printed_ = true;
}

PortRun::PortRun(const std::vector<std::int32_t>& coms, Command command,
                 std::shared_ptr<zb::ReportSink> report)
    : all_(coms), coms_(coms), command_(command), report_(std::move(report)), job_(reporter_) {
    reporter_.table = &table_;
    for (const std::int32_t com : coms_) zb::AddPort(Row(com), static_cast<std::uint32_t>(com));
}

std::string PortRun::LastMessage(std::int32_t com) const {
    const std::string message = MessageOf(outcomes_, com);
    return message.empty() ? "Preparing..." : message;
}

void PortRun::RunJob(const std::string& firmware_file) {
    reporter_.CheckOutput();
    std::uint32_t marked = 0;
    for (const std::int32_t com : coms_) marked += Record(com).selected ? 1 : 0;
    if (marked == 0) return;
    if (stopping_.load()) {
        // The job that would run now is not started: its ports say so, as the engine's
        // workers would, and their last message is this job's, not the one before.
        std::vector<zb::PortOutcome> skipped;
        const auto now = std::chrono::system_clock::now();
        for (const std::int32_t com : coms_) {
            zb::DeviceRecord& record = Record(com);
            if (!record.selected || Finished(com)) continue;
            record.job_failed = true;
            skipped.push_back({com, false, "User abort", now});
            reporter_.SetPortMessage(com, "User abort");
        }
        outcomes_ = std::move(skipped);
        return;
    }
    job_.LoadPorts(table_);
    job_.SetPortCount(marked);
    job_.SetFirmwareFile(firmware_file);
    job_.Run();
    outcomes_ = job_.Outcomes();
}

bool PortRun::ReadOk(std::int32_t com) {
    const zb::DeviceRecord& r = Record(com);
    return r.selected && r.connected && !r.upgrade_wait && !r.job_failed;
}

void PortRun::Renew(std::int32_t com) {
    zb::UnmarkPort(Row(com));
    zb::AddPort(Row(com), static_cast<std::uint32_t>(com));
}

void PortRun::Finish(std::int32_t com, bool ok, bool settings, std::string message,
                     std::string file) {
    zb::PortRow& row = Row(com);
    zb::UnmarkPort(row);
    PortResult result;
    result.com = com;
    result.ok = ok;
    result.message = zb::WithOpenNote(
        *row.device, WithFirmwareTypes(message.empty() ? LastMessage(com) : std::move(message),
                                       reporter_.image_type, &table_, com));
    result.error = std::string(zb::TextOf(row.device->open_error));
    result.holder_pid = row.device->holder_pid;
    result.holder_name = std::string(zb::TextOf(row.device->holder_name));
    result.settings = settings;
    result.file = std::move(file);
    result.record = *row.device;
    if (const auto it = verified_.find(com); it != verified_.end()) {
        result.verified = true;
        result.verify_ok = it->second.ok;
        result.diffs = std::move(it->second.diffs);
        verified_.erase(it);
    }
    zb::ReportRow report_row = Reporting() ? RowOf(result) : zb::ReportRow{};
    written_.erase(com);
    // Under the rows' lock: WriteRowsSoFar sees the row and the result together, or neither.
    const std::lock_guard lock(rows_mutex_);
    if (Reporting()) rows_.push_back(std::move(report_row));
    reporter_.KeepResult(std::move(result));
}

std::vector<std::int32_t> PortRun::EndTry() {
    std::vector<std::int32_t> failed;
    for (const std::int32_t com : coms_) {
        if (!Finished(com)) Finish(com, false, false);
        if (!reporter_.ResultOk(com)) failed.push_back(com);
    }
    const std::lock_guard lock(rows_mutex_);
    if (Reporting() && !rows_.empty() && !rows_closed_) {
        if (const zb::Status added = report_->Append(rows_); !added) {
            std::fprintf(stderr, "zbctl: report not written: %s\n",
                         Printable(added.reason()).c_str());
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
        reporter_.Forget(com);
        fw_before_.erase(com);
        Renew(com);
    }
}

void PortRun::Abandon() {
    reporter_.Seal();
    for (zb::PortRow& row : table_) zb::UnmarkPort(row);
}

bool PortRun::Report(bool json, bool files, bool verify) {
    for (const std::int32_t com : coms_)
        if (!Finished(com)) Finish(com, false, false);
    const bool all_ok = reporter_.PrintResults(all_, job_.Outcomes(), json, files, verify);
    reporter_.CheckOutput();
    return all_ok && !report_failed_;
}

void PortRun::WriteRowsSoFar() {
    const std::lock_guard lock(rows_mutex_);
    if (!Reporting() || rows_closed_) return;
    rows_closed_ = true;
    zb::RowContext context;
    context.command = CommandName(command_);
    context.time = zb::ReportTime(std::chrono::system_clock::now());
    context.attempt = attempt_;
    // The engine's outcomes and no record: workers may still hold the records.
    const std::vector<zb::PortOutcome> outcomes = job_.Outcomes();
    for (const std::int32_t com : coms_) {
        if (reporter_.HasResult(com)) continue;
        const std::string message = MessageOf(outcomes, com);
        const zb::PortOutcome cut{
            com, false, (message.empty() ? "Preparing..." : message) + "; Interrupted", {}};
        rows_.push_back(zb::PortReportRow(cut, zb::DeviceRecord{}, context));
    }
    if (const zb::Status added = rows_.empty() ? zb::Status() : report_->Append(rows_); !added)
        std::fprintf(stderr, "zbctl: report not written: %s\n", Printable(added.reason()).c_str());
    rows_.clear();
}

zb::ReportRow PortRun::RowOf(const PortResult& result) {
    zb::RowContext context;
    context.command = CommandName(command_);
    context.time = zb::ReportTime(std::chrono::system_clock::now());
    context.attempt = attempt_;
    const auto written = written_.find(result.com);
    const bool change = command_ == Command::Apply || command_ == Command::Import;
    // A change's row carries what it wrote: a port refused before its writes has none.
    context.device_read =
        change ? written != written_.end() || (result.ok && result.settings) : result.settings;
    context.fw_before = fw_before_[result.com];
    if (result.verified) context.read_back = zb::ReadBack{result.verify_ok, result.diffs};
    zb::PortOutcome outcome{result.com, result.ok, result.message, {}};
    // The port's part ended with its last message in the latest job, not now.
    if (const zb::PortOutcome* latest = OutcomeOf(outcomes_, result.com))
        outcome.updated = latest->updated;
    return zb::PortReportRow(outcome, written != written_.end() ? written->second : result.record,
                             context);
}

}  // namespace zbctl
