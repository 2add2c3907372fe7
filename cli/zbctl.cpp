// zbctl: runs the port jobs from the command line, for production lines and scripts.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli_args.h"
#include "cli/cli_output.h"
#include "cli/zbctl_system.h"
#include "config/config_file.h"
#include "config/config_rules.h"
#include "jobs/file_storage.h"
#include "jobs/job_engine.h"
#include "jobs/job_report.h"
#include "jobs/pause.h"
#include "jobs/record_fields.h"
#include "protocol/serial_link.h"
#include "version.h"

namespace zbctl {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "zbctl: %s\nTry 'zbctl --help'.\n", message.c_str());
    return kExitUsage;
}

int InputError(const std::string& message) {
    std::fprintf(stderr, "zbctl: %s\n", message.c_str());
    return kExitUsage;
}

// Progress on stderr, one line per message change; upgrades also every tenth of the file.
// It also keeps each port's result once its part is over, and prints the results once:
// either at the end, or, when the program is interrupted, from the signal thread while
// workers may still run. Everything it keeps is guarded by one mutex.
class CliReporter : public zb::NullJobReporter {
public:
    void SetPortMessage(std::int32_t com, std::string_view text) override {
        std::lock_guard lock(mutex_);
        last_message_[com] = std::string(text);
        std::fprintf(stderr, "COM%d: %s\n", com, Printable(text).c_str());
    }
    void SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) override {
        if (total == 0) return;
        std::lock_guard lock(mutex_);
        const auto tenth = static_cast<int>(done * 10 / total);
        int& shown = tenths_shown_[com];
        if (done == 0) shown = 0;
        if (tenth <= shown) return;
        shown = tenth;
        std::fprintf(stderr, "COM%d: %d%% (%llu / %llu)\n", com, tenth * 10,
                     static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
    }
    std::string LastMessage(std::int32_t com) {
        std::lock_guard lock(mutex_);
        const auto it = last_message_.find(com);
        return it == last_message_.end() ? "Preparing..." : it->second;
    }

    void KeepResult(PortResult result) {
        std::lock_guard lock(mutex_);
        const std::int32_t com = result.com;
        results_[com] = std::move(result);
    }
    bool HasResult(std::int32_t com) {
        std::lock_guard lock(mutex_);
        return results_.count(com) != 0;
    }
    bool ResultOk(std::int32_t com) {
        std::lock_guard lock(mutex_);
        const auto it = results_.find(com);
        return it != results_.end() && it->second.ok;
    }
    // A port about to be tried again has no result until its new try ends.
    void Forget(std::int32_t com) {
        std::lock_guard lock(mutex_);
        results_.erase(com);
    }

    // Prints the kept results of `coms` in order, unless results were printed already; a
    // port without a result was interrupted. Whether every port printed succeeded.
    bool PrintResults(const std::vector<std::int32_t>& coms, bool json, bool files, bool verify) {
        std::lock_guard lock(mutex_);
        if (printed_) return false;
        printed_ = true;
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
                const auto message = last_message_.find(com);
                cut.message = message == last_message_.end() ? "Interrupted"
                                                             : message->second + "; Interrupted";
            }
            all_ok = all_ok && results.back().ok;
        }
        const std::string text =
            json ? RenderJson(results, files, verify) : RenderTable(results, files);
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        return all_ok;
    }
    // Nothing is to be printed any more.
    void Seal() {
        std::lock_guard lock(mutex_);
        printed_ = true;
    }

private:
    std::mutex mutex_;
    std::map<std::int32_t, std::string> last_message_;
    std::map<std::int32_t, int> tenths_shown_;
    std::map<std::int32_t, PortResult> results_;
    bool printed_ = false;
};

using Sets = std::vector<std::pair<std::string, std::string>>;

// Checks every --set on a scratch record, so that nothing is refused after a port has been
// touched.
bool CheckSets(const Sets& sets, std::string* error) {
    zb::DeviceRecord scratch;
    bool security_on = false;
    bool key_given = false;
    for (const auto& [name, value] : sets) {
        const zb::RecordField* field = zb::FindRecordField(name);
        if (field == nullptr) {
            std::string names;
            for (const zb::RecordField& f : zb::RecordFields())
                if (f.writable) names += " " + std::string(f.name);
            *error = "--set " + Printable(name) + "=" + Printable(value) +
                     ": unknown field; settable fields:" + names;
            return false;
        }
        std::string why;
        // The frame carries a device name as it is, and a modem echoes it back in every
        // read: a byte outside printable ASCII would reach the modem and every terminal.
        if (name == "devname") {
            for (const char c : value) {
                const auto u = static_cast<unsigned char>(c);
                if (u < 0x20 || u > 0x7E) why = "devname takes printable ASCII characters only";
            }
        }
        if (!why.empty() || !zb::SetRecordField(scratch, *field, value, &why)) {
            *error = "--set " + name + "=" + Printable(value) + ": " + why;
            return false;
        }
        if (name == "security") security_on = scratch.security;
        if (name == "aeskey") key_given = true;
    }
    // Without a key the modem refuses the last write, after the other fifteen have taken
    // effect and without the restart: a half-configured modem.
    if (security_on && !key_given) {
        *error = "--set security=1 needs --set aeskey=<32 hexadecimal digits> as well";
        return false;
    }
    return true;
}

// Each port's --set values with {com} and {n} filled in, every one checked, so that one bad
// value refuses the command before any port is touched. A value without placeholders is
// checked once, and refused without naming a port.
bool ExpandSets(const Invocation& inv, std::map<std::int32_t, Sets>* out, std::string* error) {
    Sets plain;
    bool templated = false;
    for (const auto& [name, value] : inv.sets) {
        std::string once;
        if (!ExpandValue(value, 1, 1, &once, error)) {
            *error = "--set " + Printable(name) + "=" + Printable(value) + ": " + *error;
            return false;
        }
        templated = templated || once != value;
    }
    if (!CheckSets(inv.sets, error) && !templated) return false;
    error->clear();
    for (std::size_t place = 0; place < inv.given.size(); ++place) {
        const std::int32_t com = inv.given[place];
        const auto n = static_cast<std::int32_t>(place + 1);
        Sets sets;
        for (const auto& [name, value] : inv.sets) {
            std::string expanded;
            (void)ExpandValue(value, com, n, &expanded, error);
            sets.emplace_back(name, std::move(expanded));
        }
        if (!CheckSets(sets, error)) {
            *error = "COM" + std::to_string(com) + " (n=" + std::to_string(n) + "): " + *error;
            return false;
        }
        (*out)[com] = std::move(sets);
    }
    return true;
}

// "[ZigBee] PAN ID = 0xFFFE refused (check 9): must be ...". The value comes from a file:
// control bytes are shown escaped, so they cannot drive the terminal.
std::string RefusalText(const zb::ConfigRefusal& why) {
    std::string text = "[" + why.section + "] " + why.key;
    if (why.value) {
        text += " = ";
        for (const char c : *why.value) {
            const auto u = static_cast<unsigned char>(c);
            if (u < 0x20 || u == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02X", u);
                text += buf;
            } else {
                text += c;
            }
        }
        text += " refused";
    } else {
        text += " is missing";
    }
    return text + " (check " + std::to_string(why.step) + "): " + why.reason;
}

// The port map's entries, or with `scan` the machine's serial ports as a scan numbers them
// (writing the entries of devices the map lacks), with their descriptions.
int ListPorts(bool json, bool scan) {
    const std::vector<ListedPort> ports = MachinePorts(scan);
    std::string out;
    if (json) {
        out = "[";
        for (std::size_t i = 0; i < ports.size(); ++i) {
            out += i == 0 ? "\n  " : ",\n  ";
            out += "{\"com\": " + std::to_string(ports[i].com) +
                   ", \"path\": " + JsonString(ports[i].path);
            if (scan) out += ", \"description\": " + JsonString(ports[i].description);
            out += "}";
        }
        out += ports.empty() ? "]\n" : "\n]\n";
    } else {
        for (const ListedPort& port : ports) {
            out += "COM" + std::to_string(port.com) + " " + Printable(port.path);
            if (!port.description.empty()) out += " " + Printable(port.description);
            out += "\n";
        }
    }
    std::fputs(out.c_str(), stdout);
    return kExitOk;
}

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
            break;
    }
    return "";
}

// The ports of one run: their table, the engine that runs their jobs, and each port's
// result once its part is over. A run may try the ports that failed again: coms() are the
// ports of the current try, every port keeps its latest result, and each try of a port
// adds one report row.
class PortRun {
public:
    PortRun(const std::vector<std::int32_t>& coms, Command command, std::string report_path)
        : all_(coms),
          coms_(coms),
          command_(command),
          report_path_(std::move(report_path)),
          job_(reporter_) {
        for (const std::int32_t com : coms_) {
            zb::AddPort(Row(com), static_cast<std::uint32_t>(com));
            device_[com] = zb::com_device_path(com);
        }
    }

    const std::vector<std::int32_t>& coms() const { return coms_; }
    zb::JobEngine& engine() { return job_; }
    zb::PortTable& table() { return table_; }
    zb::PortRow& Row(std::int32_t com) { return table_[static_cast<std::size_t>(com - 1)]; }
    zb::DeviceRecord& Record(std::int32_t com) { return *Row(com).device; }
    std::string LastMessage(std::int32_t com) { return reporter_.LastMessage(com); }
    bool Finished(std::int32_t com) { return reporter_.HasResult(com); }
    bool Reporting() const { return !report_path_.empty(); }
    std::atomic<bool>& Stopping() { return stopping_; }

    // One job over the ports still marked; none marked, none runs.
    void RunJob(const std::string& firmware_file = "") {
        std::uint32_t marked = 0;
        for (const std::int32_t com : coms_) marked += Record(com).selected ? 1 : 0;
        if (marked == 0) return;
        job_.LoadPorts(table_);
        job_.SetPortCount(marked);
        job_.SetFirmwareFile(firmware_file);
        job_.Run();
    }

    // After a read job: the record holds what the device in its application reported.
    bool ReadOk(std::int32_t com) {
        const zb::DeviceRecord& r = Record(com);
        return r.selected && r.connected && !r.upgrade_wait && !r.job_failed;
    }

    // The port starts afresh, as a port just added: link closed, a new record, marked.
    void Renew(std::int32_t com) {
        zb::UnmarkPort(Row(com));
        zb::AddPort(Row(com), static_cast<std::uint32_t>(com));
    }

    void SetFirmwareBefore(std::int32_t com, std::string version) {
        fw_before_[com] = std::move(version);
    }
    // The read-back of the written fields, for the port's next Finish.
    void SetVerified(std::int32_t com, bool ok, std::vector<zb::ReportDiff> diffs) {
        verified_[com] = {ok, std::move(diffs)};
    }

    // Ends the port's part: its link is closed, its result kept and its report row made.
    // An empty message is the port's last message in the job.
    void Finish(std::int32_t com, bool ok, bool settings, std::string message = "",
                std::string file = "") {
        zb::PortRow& row = Row(com);
        zb::UnmarkPort(row);
        PortResult result;
        result.com = com;
        result.ok = ok;
        result.message = zb::WithOpenNote(
            *row.device, message.empty() ? reporter_.LastMessage(com) : std::move(message));
        result.error = std::string(zb::TextOf(row.device->open_error));
        result.holder_pid = row.device->holder_pid;
        result.holder_name = std::string(zb::TextOf(row.device->holder_name));
        result.settings = settings;
        result.file = std::move(file);
        result.record = *row.device;
        if (const auto it = verified_.find(com); it != verified_.end()) {
            result.verified = true;
            result.verify_ok = it->second.first;
            result.diffs = std::move(it->second.second);
            verified_.erase(it);
        }
        if (Reporting()) rows_.push_back(RowOf(result));
        reporter_.KeepResult(std::move(result));
    }

    // Ends the current try: a port without a result fails, and the try's rows go to the
    // report. The ports that failed, in COM order.
    std::vector<std::int32_t> EndTry() {
        std::vector<std::int32_t> failed;
        for (const std::int32_t com : coms_) {
            if (!Finished(com)) Finish(com, false, false);
            if (!reporter_.ResultOk(com)) failed.push_back(com);
        }
        if (Reporting() && !rows_.empty()) {
            std::string why;
            if (!zb::AppendReport(report_path_, rows_, &why)) {
                std::fprintf(stderr, "zbctl: report not written: %s\n", Printable(why).c_str());
                report_failed_ = true;
            }
            rows_.clear();
        }
        return failed;
    }

    // The next try, over `coms` alone.
    void Retry(const std::vector<std::int32_t>& coms) {
        ++attempt_;
        coms_ = coms;
        for (const std::int32_t com : coms_) {
            reporter_.Forget(com);
            fw_before_.erase(com);
            Renew(com);
        }
    }
    int Attempt() const { return attempt_; }

    // A job that could not start: nothing of it is trusted.
    void Abandon() {
        reporter_.Seal();
        for (zb::PortRow& row : table_) zb::UnmarkPort(row);
    }

    // Prints the latest result of every port in COM order; the exit status. A report that
    // could not be written fails the run as well.
    int Report(bool json, bool files, bool verify) {
        for (const std::int32_t com : coms_)
            if (!Finished(com)) Finish(com, false, false);
        const bool all_ok = reporter_.PrintResults(all_, json, files, verify);
        return all_ok && !report_failed_ ? kExitOk : kExitFailed;
    }

    // From any thread while the job may still run: the results kept so far, and for the
    // other ports their last messages. Touches no record.
    void PrintSoFar(bool json, bool files, bool verify) {
        (void)reporter_.PrintResults(all_, json, files, verify);
    }

private:
    zb::ReportRow RowOf(const PortResult& result) {
        zb::ReportRow row;
        row.time = zb::ReportTime(std::chrono::system_clock::now());
        row.com = result.com;
        row.device = device_[result.com];
        row.command = CommandName(command_);
        row.attempt = attempt_;
        row.ok = result.ok;
        row.message = result.error.empty() ? result.message : result.message + ": " + result.error;
        if (command_ == Command::Upgrade) {
            row.fw_before = fw_before_[result.com];
            if (result.settings) row.fw_after = std::string(zb::TextOf(result.record.fw_version));
        } else if (result.settings && (command_ == Command::Read || command_ == Command::Export)) {
            row.settings = zb::ReportSettings(result.record);
        }
        row.verified = result.verified;
        row.verify_ok = result.verify_ok;
        row.diffs = result.diffs;
        return row;
    }

    std::vector<std::int32_t> all_;
    std::vector<std::int32_t> coms_;
    Command command_;
    std::string report_path_;
    int attempt_ = 1;
    std::map<std::int32_t, std::string> device_;
    std::map<std::int32_t, std::string> fw_before_;
    std::map<std::int32_t, std::pair<bool, std::vector<zb::ReportDiff>>> verified_;
    std::vector<zb::ReportRow> rows_;
    bool report_failed_ = false;
    std::atomic<bool> stopping_{false};
    zb::PortTable table_;
    CliReporter reporter_;
    zb::JobEngine job_;
};

void ReadPorts(PortRun& run) {
    run.RunJob();
    for (const std::int32_t com : run.coms()) {
        const bool ok = run.ReadOk(com);
        run.Finish(com, ok, ok);
    }
}

// The configuration flow begins with a read job: besides telling which ports answer, it
// gives each record the device's own values of what the change leaves alone (the local
// node ID of an import, all but the --set fields of an apply), so that the apply writes
// them back unchanged. A port not read is finished here.
void ReadBeforeChange(PortRun& run) {
    run.RunJob();
    for (const std::int32_t com : run.coms())
        if (!run.ReadOk(com)) run.Finish(com, false, false);
}

// The written fields read back: every port whose apply succeeded is opened afresh (the
// apply restarted its modem) and read, and fails unless it reports what was written.
void VerifyChanges(PortRun& run, const std::vector<std::int32_t>& applied) {
    std::map<std::int32_t, zb::DeviceRecord> sent;
    std::map<std::int32_t, std::string> message;
    for (const std::int32_t com : applied) {
        sent[com] = run.Record(com);
        message[com] = run.LastMessage(com);
        zb::UnmarkPort(run.Row(com));
        zb::MarkPort(run.Row(com));
    }
    run.RunJob();
    for (const std::int32_t com : applied) {
        if (!run.ReadOk(com)) {
            run.SetVerified(com, false, {});
            run.Finish(com, false, false, "Verify fail; " + run.LastMessage(com));
            continue;
        }
        std::vector<zb::ReportDiff> diffs = zb::WrittenDiffs(sent[com], run.Record(com));
        const bool same = diffs.empty();
        for (const zb::ReportDiff& d : diffs)
            std::fprintf(stderr, "COM%d: Verify fail: %s sent %s, read %s\n", com, d.field.c_str(),
                         Printable(d.sent).c_str(), Printable(d.read).c_str());
        run.SetVerified(com, same, std::move(diffs));
        run.Finish(com, same, true, same ? message[com] : "Verify fail");
    }
}

// The apply job over the links the read opened, for the ports still marked; with `verify`
// the written fields are read back.
void WriteChanges(PortRun& run, bool verify) {
    run.RunJob();
    std::vector<std::int32_t> applied;
    for (const std::int32_t com : run.coms()) {
        if (run.Finished(com)) continue;
        const bool ok = !run.Record(com).job_failed;
        if (ok && verify)
            applied.push_back(com);
        else
            run.Finish(com, ok, ok);
    }
    if (!applied.empty()) VerifyChanges(run, applied);
}

void ApplySets(PortRun& run, const std::map<std::int32_t, Sets>& port_sets, bool verify) {
    ReadBeforeChange(run);
    for (const std::int32_t com : run.coms()) {
        if (run.Finished(com)) continue;
        const Sets& sets = port_sets.at(com);
        zb::DeviceRecord& record = run.Record(com);
        zb::DeviceRecord would_be = record;
        for (const auto& [name, value] : sets)
            (void)zb::SetRecordField(would_be, *zb::FindRecordField(name), value, nullptr);
        // The configuration dialog's rules, on the record as it would be written.
        if (const auto failure = zb::CheckSettings(zb::BoxesOf(would_be))) {
            // Our own two-line messages read as one sentence in a table row.
            std::string message = failure->message;
            std::replace(message.begin(), message.end(), '\n', ' ');
            run.Finish(com, false, true, message);
            continue;
        }
        for (const auto& [name, value] : sets)
            (void)zb::SetRecordField(record, *zb::FindRecordField(name), value, nullptr);
        record.apply_pending = true;
    }
    WriteChanges(run, verify);
}

void ImportSettings(PortRun& run, const zb::ConfigSettings& settings, bool verify) {
    ReadBeforeChange(run);
    // The ports still marked are those read; the settings go to them alone.
    (void)zb::ApplyConfigSettings(run.table(), settings);
    WriteChanges(run, verify);
}

void Upgrade(PortRun& run, const std::string& image) {
    if (run.Reporting()) {
        // The report wants the version each modem had; the upgrade itself then starts on
        // freshly opened ports, as without a report.
        run.RunJob();
        for (const std::int32_t com : run.coms()) {
            if (run.ReadOk(com))
                run.SetFirmwareBefore(com, std::string(zb::TextOf(run.Record(com).fw_version)));
            run.Renew(com);
        }
    }
    for (const std::int32_t com : run.coms()) zb::SetUpgradeMark(run.Row(com), true);
    run.RunJob(image);
    bool all_ok = true;
    std::map<std::int32_t, std::string> upgraded;
    for (const std::int32_t com : run.coms()) {
        zb::SetUpgradeMark(run.Row(com), false);
        all_ok = all_ok && !run.Record(com).job_failed;
        upgraded[com] = run.LastMessage(com);
    }
    if (!all_ok || run.engine().FailCount() != 0) {
        for (const std::int32_t com : run.coms())
            run.Finish(com, !run.Record(com).job_failed, false);
        return;
    }
    // The devices restarted into the new firmware: open and check them afresh and show what
    // they report now.
    for (const std::int32_t com : run.coms()) {
        zb::UnmarkPort(run.Row(com));
        zb::MarkPort(run.Row(com));
    }
    run.RunJob();
    for (const std::int32_t com : run.coms()) {
        const bool ok = run.ReadOk(com);
        run.Finish(com, ok, ok, ok ? upgraded[com] : upgraded[com] + "; " + run.LastMessage(com));
    }
}

void Export(PortRun& run, std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    run.RunJob();
    bool all_read = true;
    for (const std::int32_t com : run.coms()) all_read = all_read && run.ReadOk(com);
    if (!all_read) {
        // A partial export would pass for a complete one.
        for (const std::int32_t com : run.coms()) {
            const bool ok = run.ReadOk(com);
            run.Finish(com, false, ok, ok ? "Not written: another port failed" : "");
        }
        return;
    }
    std::map<std::int32_t, std::string> failed;
    for (const zb::ConfigWriteFailure& f : zb::WriteConfigFiles(run.table(), folder)) {
        std::fprintf(stderr, "zbctl: %s: %s\n", f.path.c_str(), f.reason.c_str());
        failed[static_cast<std::int32_t>(f.com)] = f.reason;
    }
    for (const std::int32_t com : run.coms()) {
        const std::string path = folder + "/" + zb::ConfigFileName(static_cast<std::uint32_t>(com));
        if (const auto it = failed.find(com); it != failed.end())
            run.Finish(com, false, true, "Write file fail: " + it->second);
        else
            run.Finish(com, true, true, "", path);
    }
}

std::string ComList(const std::vector<std::int32_t>& coms) {
    std::string text;
    for (const std::int32_t com : coms)
        text += (text.empty() ? "COM" : " COM") + std::to_string(com);
    return text;
}

int RunJobs(const Invocation& inv, const zb::ConfigSettings& import,
            const std::map<std::int32_t, Sets>& port_sets) {
    RaiseDescriptorLimit();
    PortRun run(inv.coms, inv.command, inv.report);
    const bool files = inv.command == Command::Export;
    // The job stops on the first interrupt (an upgrade at its next block, leaving the modem
    // in its loader), and no further try starts.
    StopOnSignal stop(
        [&run] {
            run.Stopping().store(true);
            run.engine().RequestAbort();
            std::fputs("zbctl: stopping; upgrades stop at their next block\n", stderr);
        },
        [&run, &inv, files] { run.PrintSoFar(inv.json, files, inv.verify); });
    std::vector<std::int32_t> failed;
    try {
        for (;;) {
            switch (inv.command) {
                case Command::Read:
                    ReadPorts(run);
                    break;
                case Command::Apply:
                    ApplySets(run, port_sets, inv.verify);
                    break;
                case Command::Import:
                    ImportSettings(run, import, inv.verify);
                    break;
                case Command::Upgrade:
                    Upgrade(run, inv.path);
                    break;
                case Command::Export:
                    Export(run, inv.path);
                    break;
                case Command::Help:
                case Command::Version:
                case Command::Ports:
                    break;
            }
            failed = run.EndTry();
            if (failed.empty() || run.Attempt() > inv.retries || run.Stopping().load()) break;
            std::fprintf(stderr, "zbctl: try %d of %d: %s\n", run.Attempt() + 1, inv.retries + 1,
                         ComList(failed).c_str());
            run.Retry(failed);
        }
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "zbctl: %s (code = %d)\n", e.what(), e.code().value());
        run.Abandon();
        return kExitFailed;
    }
    const int status = run.Report(inv.json, files, inv.verify);
    if (!failed.empty()) std::fprintf(stderr, "still failing: %s\n", ComList(failed).c_str());
    return status;
}

}  // namespace
}  // namespace zbctl

int main(int argc, char** argv) {
    using namespace zbctl;
    Invocation inv;
    std::string error;
    if (!ParseArgs(std::vector<std::string>(argv + 1, argv + argc), &inv, &error))
        return UsageError(error);
    if (inv.command == Command::Help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (inv.command == Command::Version) {
        std::printf("zbctl %s\n", ZB_VERSION);
        return kExitOk;
    }
    if (!inv.ports_dir.empty() && !UsePortsDir(inv.ports_dir, &error)) return InputError(error);
    if (inv.no_pauses) zb::SetPauseScale(0);
    if (inv.command == Command::Ports) return ListPorts(inv.json, inv.scan);

    std::map<std::int32_t, Sets> port_sets;
    if (inv.command == Command::Apply && !ExpandSets(inv, &port_sets, &error))
        return InputError(error);
    if (!inv.report.empty() && !zb::CheckReportFile(inv.report, &error))
        return InputError("--report " + Printable(error));
    zb::ConfigSettings import;
    if (inv.command == Command::Upgrade || inv.command == Command::Import) {
        if (!zb::CheckReadableFile(inv.path, &error)) return InputError(error);
    }
    if (inv.command == Command::Import) {
        zb::ConfigRefusal why;
        const std::optional<zb::ConfigSettings> settings = zb::LoadConfigFile(inv.path, &why);
        if (!settings) return InputError(inv.path + ": " + RefusalText(why));
        import = *settings;
    }
    // An export's folder must exist and take new files.
    if (inv.command == Command::Export && !zb::CheckWritableFolder(inv.path, &error))
        return InputError(error);
    if (!CheckPorts(inv.coms, &error)) return InputError(error);
    return RunJobs(inv, import, port_sets);
}
