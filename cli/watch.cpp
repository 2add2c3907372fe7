#include "cli/watch.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/cli_input.h"
#include "cli/cli_output.h"
#include "cli/cli_run.h"
#include "cli/watch_display.h"
#include "cli/zbctl_system.h"
#include "config/config_file.h"
#include "jobs/engine/firmware_image.h"
#include "jobs/model/record_fields.h"
#include "jobs/platform/file_storage.h"
#include "jobs/platform/port_watch.h"
#include "jobs/run/port_run.h"
#include "protocol/serial_link.h"

namespace zbctl {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// How often the ports are looked at: a port that appears gets its job within this time.
constexpr auto kLookInterval = std::chrono::milliseconds(40);

// What every modem gets.
struct Plan {
    std::string upgrade;  // the image, or empty
    bool apply = false;   // the --set values, with {com} and {n} still in them
    Sets sets;
    bool import = false;
    zb::ConfigSettings settings;
    std::string import_file;
    // With --import and --set: the file's settings as values, which the --set values follow.
    Sets file_sets;
    zb::RunLabel label;  // every run of the session's
    bool verify = false;
    bool dry_run = false;  // each modem is read and its changes shown; nothing written
    std::shared_ptr<zb::ReportSink> report;
    bool json = false;
    bool once = false;
};

// The station's lines on stderr, and each finished modem's line on stdout. On a terminal
// the lines are a table redrawn in place; otherwise each change is a line of its own.
class Display {
public:
    explicit Display(bool live) : live_(live) {}

    // Changes the port's line and shows it.
    template <typename Change>
    void Update(std::int32_t com, Change change) {
        const std::lock_guard lock(mutex_);
        StationLine& line = lines_[com];
        line.com = com;
        const StationLine before = line;
        change(line);
        if (line.state == before.state && line.percent == before.percent &&
            line.reason == before.reason && line.n == before.n)
            return;
        // Without a terminal an upgrade's progress is a line per tenth.
        if (!live_ && line.state == before.state && line.percent / 10 == before.percent / 10)
            return;
        Show(line);
    }

    void Started() {
        const std::lock_guard lock(mutex_);
        ++totals_.running;
        Show({});
    }

    // The modem's end: its line, the totals, and its line on stdout.
    void Finished(const PortResult& result, std::int32_t n, const std::string& path,
                  const zb::RunLabel& label, bool verify, bool json) {
        const std::lock_guard lock(mutex_);
        --totals_.running;
        if (result.ok) {
            ++totals_.passed;
            totals_.failing.erase(result.com);
        } else {
            ++totals_.failed;
            totals_.failing.insert(result.com);
        }
        StationLine& line = lines_[result.com];
        line.com = result.com;
        line.n = n;
        line.state = result.ok ? StationState::Pass : StationState::Fail;
        line.reason = result.ok ? "" : result.message;
        Erase();
        std::fputs(RenderFinished(result, n, path, label, json, verify).c_str(), stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) output_lost_ = true;
        if (live_)
            Draw();
        else
            Print(line);
    }

    // A line of stdout could not be written: its reader has gone.
    bool OutputLost() {
        const std::lock_guard lock(mutex_);
        return output_lost_;
    }

    WatchTotals Totals() {
        const std::lock_guard lock(mutex_);
        return totals_;
    }

    void Say(const std::string& text) {
        const std::lock_guard lock(mutex_);
        Erase();
        std::fprintf(stderr, "zbctl: %s\n", text.c_str());
        if (live_) Draw();
    }

    // A modem's row the report lost; the totals count it.
    void RowLost(const std::string& why) {
        const std::lock_guard lock(mutex_);
        ++totals_.rows_lost;
        Erase();
        std::fprintf(stderr, "zbctl: report not written: %s\n", Printable(why).c_str());
        if (live_) Draw();
    }

private:
    // Under mutex_.
    void Show(const StationLine& line) {
        if (live_) {
            Erase();
            Draw();
        } else if (line.com != 0) {
            Print(line);
        }
    }
    void Print(const StationLine& line) {
        std::fprintf(stderr, "%s\n", RenderStationLine(line).c_str());
    }
    void Erase() {
        if (!live_ || drawn_ == 0) return;
        std::fprintf(stderr, "\x1b[%dA\r\x1b[J", drawn_);
        drawn_ = 0;
    }
    void Draw() {
        std::vector<StationLine> lines;
        for (const auto& [com, line] : lines_) lines.push_back(line);
        const std::string table = RenderStationTable(lines, totals_);
        std::fputs(table.c_str(), stderr);
        std::fflush(stderr);
        drawn_ = static_cast<int>(lines.size()) + 1;
    }

    std::mutex mutex_;
    const bool live_;
    std::map<std::int32_t, StationLine> lines_;
    WatchTotals totals_;
    int drawn_ = 0;  // lines of the table on the screen, below which the cursor stands
    bool output_lost_ = false;
};

// The runs of the modems' jobs, so that an interrupt reaches every one.
class Runs {
public:
    // `cut_short` writes the run's modem's row when the program ends in the middle of it.
    void Add(zb::PortRun& run, zb::JobEngine& engine, std::function<void()> cut_short) {
        const std::lock_guard lock(mutex_);
        runs_[&run] = {&engine, std::move(cut_short)};
        if (stopped_) Stop(run, engine);
    }
    void Remove(zb::PortRun& run) {
        const std::lock_guard lock(mutex_);
        runs_.erase(&run);
    }
    bool Stopped() {
        const std::lock_guard lock(mutex_);
        return stopped_;
    }
    // Every job running and every later one stops as on zbctl's first interrupt.
    void StopAll() {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
        for (const auto& [run, entry] : runs_) Stop(*run, *entry.engine);
    }
    // Before the program ends at once: no modem is left in the middle of its writes, and
    // the report gets the rows of the jobs cut short. The runs stay locked.
    void EndAll() {
        mutex_.lock();
        stopped_ = true;
        for (const auto& [run, entry] : runs_) Stop(*run, *entry.engine);
        for (const auto& [run, entry] : runs_) entry.engine->WaitForWrites();
        for (const auto& [run, entry] : runs_) {
            run->WriteRowsSoFar();
            if (entry.cut_short) entry.cut_short();
        }
    }

private:
    struct Entry {
        zb::JobEngine* engine = nullptr;
        std::function<void()> cut_short;
    };
    static void Stop(zb::PortRun& run, zb::JobEngine& engine) {
        run.Stopping().store(true);
        engine.RequestStop();
    }

    std::mutex mutex_;
    std::map<zb::PortRun*, Entry> runs_;
    bool stopped_ = false;
};

// A modem plugged in, from its port's appearance to the end of its job.
struct Modem {
    std::int32_t com = 0;
    std::int32_t n = 0;
    std::string path;
    std::string port_id;  // the port's identity when it appeared
    std::atomic<bool> unplugged{false};
    std::atomic<bool> done{false};
    std::thread thread;
};

// Turns a job's phases, messages and progress into the port's state.
class ModemObserver : public zb::NullJobReporter {
public:
    explicit ModemObserver(Display& display) : display_(display) {}

    // Told by the modem's thread before each job starts.
    void Phase(zb::RunPhase phase) { phase_.store(phase); }

    void SetPortMessage(std::int32_t com, std::string_view text) override {
        const std::optional<StationState> state = StateOfMessage(phase_.load(), text);
        if (!state) return;
        state_.store(*state);
        display_.Update(com, [state = *state](StationLine& line) {
            if (line.state == state) return;
            line.state = state;
            line.percent = 0;
        });
    }

    void SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) override {
        if (state_.load() != StationState::Upgrading || total == 0) return;
        const auto percent = static_cast<int>(done * 100 / total);
        display_.Update(com, [percent](StationLine& line) { line.percent = percent; });
    }

private:
    Display& display_;
    std::atomic<zb::RunPhase> phase_{zb::RunPhase::Reading};
    std::atomic<StationState> state_{StationState::Connecting};  // the job's workers'
};

// A modem's rows from each of its jobs, kept until the modem is done: the report gets one
// row per modem.
class ModemRows final : public zb::ReportSink {
public:
    std::vector<zb::ReportRow> Rows() {
        const std::lock_guard lock(mutex_);
        return rows_;
    }

private:
    zb::Status AppendRows(const std::vector<zb::ReportRow>& more) override {
        const std::lock_guard lock(mutex_);
        rows_.insert(rows_.end(), more.begin(), more.end());
        return {};
    }

    std::mutex mutex_;
    std::vector<zb::ReportRow> rows_;
};

// The modem's one row: its last job's, with the firmware before and after of an upgrade
// that came first, and the modem's own end (a removed port, a stop). A modem whose values
// were refused before any job gets a row of that refusal.
zb::ReportRow ModemRow(const std::vector<zb::ReportRow>& rows, const PortResult& result,
                       std::string_view command, const zb::RunLabel& label) {
    if (rows.empty()) {
        zb::RowContext context;
        context.command = command;
        context.label = &label;
        context.time = zb::ReportTime(std::chrono::system_clock::now());
        PortResult refused;
        refused.com = result.com;
        refused.device = result.device;
        refused.port_id = result.port_id;
        refused.failure = result.failure;
        refused.message = result.message;
        return zb::PortReportRow(refused, zb::DeviceRecord{}, context);
    }
    zb::ReportRow row = rows.back();
    if (rows.size() > 1 && rows.front().command == "upgrade") {
        row.fw_before = rows.front().fw_before;
        row.fw_after = rows.front().fw_after;
    }
    if (!result.ok) row.message = result.message;
    return row;
}

class Station {
public:
    Station(const Plan& plan, Display& display) : plan_(plan), display_(display) {}

    // Starts the modem's job on a thread of its own, unless --once skips it.
    void Take(const zb::WatchedPort& port) {
        if (plan_.once && Passed(port.path)) {
            display_.Update(port.com, [](StationLine& line) {
                line.n = 0;
                line.state = StationState::Skipped;
                line.reason = "passed before";
            });
            return;
        }
        Modem& modem = modems_.emplace_back();
        modem.com = port.com;
        modem.n = next_n_++;
        modem.path = port.path;
        modem.port_id = zb::com_port_id(port.com);
        display_.Update(port.com, [&modem](StationLine& line) {
            line.n = modem.n;
            line.state = StationState::Connecting;
            line.percent = 0;
            line.reason.clear();
        });
        display_.Started();
        modem.thread = std::thread([this, &modem] { Run(modem); });
    }

    bool Busy(std::int32_t com) const {
        for (const Modem& modem : modems_)
            if (modem.com == com) return true;
        return false;
    }

    void Vanished(const zb::WatchedPort& port) {
        bool running = false;
        for (Modem& modem : modems_) {
            if (modem.com != port.com || modem.path != port.path) continue;
            modem.unplugged.store(true);
            running = !modem.done.load();
        }
        if (!running)
            display_.Update(port.com, [](StationLine& line) {
                line.state = StationState::Waiting;
                line.reason.clear();
            });
    }

    // Joins the modems whose jobs have ended; with `all`, waits for every one.
    void Reap(bool all) {
        for (auto it = modems_.begin(); it != modems_.end();) {
            if (!all && !it->done.load()) {
                ++it;
                continue;
            }
            it->thread.join();
            it = modems_.erase(it);
        }
    }

    Runs& runs() { return runs_; }

private:
    bool Passed(const std::string& path) {
        const std::lock_guard lock(passed_mutex_);
        return passed_.count(path) != 0;
    }

    // One of the modem's jobs as its own zbctl command would run it, over its port alone.
    // `command` names the run's rows: an import whose --set values follow the file's runs
    // as an apply of both.
    PortResult RunStage(Modem& modem, ModemObserver& observer, const Invocation& step,
                        zb::RunCommand command, const std::map<std::int32_t, Sets>& sets,
                        const std::shared_ptr<ModemRows>& rows) {
        zb::EngineJobs jobs(observer);
        zb::PortRun run({modem.com}, command, jobs, rows);
        run.Label(plan_.label);
        run.ObserveWith(&observer);
        run.OnPhase([&observer](zb::RunPhase phase) { observer.Phase(phase); });
        run.NotesTo([this](std::string_view line) { display_.Say(std::string(line)); });
        runs_.Add(run, jobs.engine(), [this, rows, com = modem.com] {
            if (!rows) return;
            PortResult cut;  // the cut row's own message stands
            cut.com = com;
            cut.ok = true;
            WriteRow(rows->Rows(), cut);
        });
        std::optional<PortResult> result;
        try {
            RunSequence(run, step, plan_.settings, sets);
            (void)run.EndTry();
            result = run.Result(modem.com);
        } catch (const std::system_error& e) {
            run.Abandon();
            result = PortResult{};
            result->failure = zb::FailureKind::StepFailed;
            result->message = e.what();
        }
        runs_.Remove(run);
        if (!result) result = PortResult{};
        result->com = modem.com;
        return *result;
    }

    void Run(Modem& modem) {
        ModemObserver observer(display_);
        const auto rows = plan_.report ? std::make_shared<ModemRows>() : nullptr;
        PortResult result;
        result.com = modem.com;
        result.ok = true;
        if (!plan_.upgrade.empty()) {
            Invocation step;
            step.command = Command::Upgrade;
            step.path = plan_.upgrade;
            result = RunStage(modem, observer, step, zb::RunCommand::Upgrade, {}, rows);
        }
        if (result.ok && (plan_.apply || plan_.import)) {
            Invocation step;
            step.command = plan_.apply ? Command::Apply : Command::Import;
            step.path = plan_.import_file;
            const zb::RunCommand command =
                plan_.import ? zb::RunCommand::Import : zb::RunCommand::Apply;
            step.verify = plan_.verify;
            step.dry_run = plan_.dry_run;
            std::map<std::int32_t, Sets> sets;
            zb::Result<Sets> mine = plan_.apply ? ExpandModemSets(modem) : Sets{};
            if (!mine) {
                result.ok = false;
                result.failure = zb::FailureKind::Refused;
                result.message = mine.error().reason;
            } else {
                if (plan_.apply) {
                    Sets& all = sets[modem.com];
                    all = plan_.file_sets;
                    all.insert(all.end(), mine->begin(), mine->end());
                }
                result = RunStage(modem, observer, step, command, sets, rows);
            }
        }
        // The job's own message says what failed; that the port went says why. The open's
        // own reason is left out: it speaks of whatever the number stands for without the
        // port, another device or none.
        if (!result.ok && (modem.unplugged.load() || !zb::StillPresent({modem.com, modem.path}))) {
            result.message += " (port removed)";
            result.error.clear();
            result.holder_pid = 0;
            result.holder_name.clear();
        } else if (!result.ok && runs_.Stopped())
            result.message += " (stopped)";
        if (result.device.empty()) {
            result.device = modem.path;
            result.port_id = modem.port_id;
        }
        if (rows) WriteRow(rows->Rows(), result);
        if (result.ok && plan_.once) {
            const std::lock_guard lock(passed_mutex_);
            passed_.insert(modem.path);
        }
        display_.Finished(result, modem.n, modem.path, plan_.label, plan_.verify, plan_.json);
        modem.done.store(true);
    }

    void WriteRow(const std::vector<zb::ReportRow>& rows, const PortResult& result) {
        const std::string_view command = plan_.import  ? "import"
                                         : plan_.apply ? "apply"
                                                       : "upgrade";
        const zb::Status added =
            plan_.report->Append({ModemRow(rows, result, command, plan_.label)});
        if (!added) display_.RowLost(added.reason());
    }

    // The --set values with this modem's {com} and {n}, checked.
    zb::Result<Sets> ExpandModemSets(const Modem& modem) const {
        Sets sets;
        for (const Set& set : plan_.sets) {
            zb::Result<std::string> filled = ExpandValue(set.text, modem.com, modem.n);
            if (!filled) return filled.error();
            sets.push_back(ReadSet(set.name, std::move(*filled)));
        }
        if (zb::Status checked = CheckSets(sets); !checked) return checked.error();
        return sets;
    }

    const Plan& plan_;
    Display& display_;
    Runs runs_;
    std::list<Modem> modems_;  // main thread only; each modem's thread sees its own
    std::int32_t next_n_ = 1;
    std::mutex passed_mutex_;
    std::set<std::string> passed_;  // --once: the stable paths of the modems that passed
};

int InputError(const std::string& message) {
    std::fprintf(stderr, "zbctl: %s\n", Printable(message).c_str());
    return kExitUsage;
}

}  // namespace

int Watch(const Invocation& inv, const ReportOpener& open_report) {
    Plan plan;
    plan.upgrade = inv.upgrade;
    plan.apply = !inv.sets.empty();
    plan.sets = inv.sets;
    plan.import = !inv.import.empty();
    plan.import_file = inv.import;
    plan.verify = inv.verify;
    plan.dry_run = inv.dry_run;
    plan.json = inv.json;
    plan.once = inv.once;
    plan.label = {zb::NewRunId(), inv.tags};
    if (!plan.upgrade.empty()) {
        if (const zb::Status readable = zb::CheckReadableFile(plan.upgrade); !readable)
            return InputError(readable.reason());
        const std::string refusal = zb::ImageRefusal(zb::InspectImage(plan.upgrade));
        if (!refusal.empty()) return InputError(plan.upgrade + ": " + refusal);
    }
    if (plan.import) {
        auto settings = zb::LoadConfigFile(inv.import);
        if (!settings) {
            const zb::ConfigRefusal& why = settings.error();
            return InputError(why.unreadable ? why.reason : inv.import + ": " + RefusalText(why));
        }
        plan.settings = std::move(*settings);
        if (plan.apply)
            for (const zb::RecordField* field : zb::FieldsInFile())
                if (field->file.read)
                    plan.file_sets.push_back(
                        {std::string(field->name), "",
                         zb::FieldValue{field->id, zb::NumberOf(plan.settings, *field),
                                        zb::TextFieldOf(plan.settings, *field)}});
    }
    if (plan.apply) {
        // The values as the first modem would have them: one that cannot be right for any
        // modem is refused now, not at every modem.
        Invocation first = inv;
        first.coms = {1};
        first.given = {1};
        if (const auto sets = ExpandSets(first); !sets) return InputError(sets.error().reason);
    }
    std::unique_ptr<zb::ReportSink> report;
    if (!open_report(&report)) return kExitUsage;
    plan.report = std::move(report);

    RaiseDescriptorLimit();
    Display display(StderrIsLiveTerminal());
    Station station(plan, display);
    std::mutex wake_mutex;
    std::condition_variable wake;
    bool taking = true;  // guarded by wake_mutex
    int later = 0;       // interrupts after the first; the signal thread's own
    StopRequest request(
        [&] {
            {
                const std::lock_guard lock(wake_mutex);
                taking = false;
            }
            wake.notify_all();
            display.Say("no new ports; waiting for the running jobs (Ctrl-C again stops them)");
        },
        [&](int status) {
            if (++later == 1) {
                station.runs().StopAll();
                display.Say("stopping the running jobs; upgrades stop at their next block");
                return;
            }
            // An append waiting on its database ends within a moment, and the runs' rows
            // with it.
            if (plan.report) plan.report->Hurry();
            station.runs().EndAll();
            zb::com_release_all();
            std::fflush(nullptr);
            EndProgram(status);
        });
    const StopOnSignal signals(request);

    // The ports present now are the station's own; only those that appear later are modems.
    zb::PortLookCache cache;
    std::vector<zb::WatchedPort> known = zb::PresentPorts(&cache);
    // A look writes into the user's port map when it numbers a new device: say so.
    const auto say_new = [&display](const std::vector<zb::WatchedPort>& ports) {
        for (const zb::WatchedPort& port : ports)
            if (port.is_new) display.Say(NewPortNote(port.com));
    };
    say_new(known);
    std::map<std::int32_t, zb::WatchedPort> waiting;  // appeared while the last job on that
                                                      // number still ran
    display.Say("watching for ports; Ctrl-C stops");
    for (;;) {
        {
            std::unique_lock lock(wake_mutex);
            if (wake.wait_for(lock, kLookInterval, [&] { return !taking; })) break;
        }
        // Results nobody reads: no new modem is taken, as after an interrupt.
        if (display.OutputLost()) request.OutputLost();
        std::vector<zb::WatchedPort> now = zb::PresentPorts(&cache);
        say_new(now);
        const zb::PortChanges changes = zb::DiffPorts(known, now);
        known = std::move(now);
        for (const zb::WatchedPort& port : changes.vanished) {
            station.Vanished(port);
            if (const auto it = waiting.find(port.com); it != waiting.end() && it->second == port)
                waiting.erase(it);
        }
        station.Reap(false);
        for (const zb::WatchedPort& port : changes.appeared) waiting[port.com] = port;
        for (auto it = waiting.begin(); it != waiting.end();) {
            if (station.Busy(it->first)) {
                ++it;
                continue;
            }
            station.Take(it->second);
            it = waiting.erase(it);
        }
    }
    station.Reap(true);

    // The totals end the output: stdout's, unless that carries JSON Lines alone.
    WatchTotals totals = display.Totals();
    totals.run_id = plan.label.run_id;
    std::fprintf(inv.json ? stderr : stdout, "%s\n", RenderTotals(totals).c_str());
    if (request.Status() == kExitOutputLost) return kExitOutputLost;
    return totals.failed == 0 && totals.rows_lost == 0 ? kExitOk : kExitFailed;
}

}  // namespace zbctl
