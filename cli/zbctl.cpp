// zbctl: runs the port jobs from the command line, for production lines and scripts. This
// file parses, checks the input before any port is touched, runs the tries of a command
// and prints; the job sequences and the results live in the run (jobs/run), zbctl's side of
// it in cli_run.h.
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli_args.h"
#include "cli/cli_input.h"
#include "cli/cli_output.h"
#include "cli/cli_run.h"
#include "cli/watch.h"
#include "cli/zbctl_system.h"
#include "config/config_file.h"
#include "jobs/engine/firmware_image.h"
#include "jobs/engine/pause.h"
#include "jobs/platform/file_storage.h"
#include "jobs/report/report_open.h"
#include "protocol/serial_link.h"
#include "version.h"

namespace zbctl {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The messages quote words of the command line, paths and the content of files as they
// are: they are made Printable here, once.
int UsageError(const std::string& message) {
    std::fprintf(stderr, "zbctl: %s\nTry 'zbctl --help'.\n", Printable(message).c_str());
    return kExitUsage;
}

int InputError(const std::string& message) {
    std::fprintf(stderr, "zbctl: %s\n", Printable(message).c_str());
    return kExitUsage;
}

std::string ComList(const std::vector<std::int32_t>& coms) {
    std::string text;
    for (const std::int32_t com : coms)
        text += (text.empty() ? "COM" : " COM") + std::to_string(com);
    return text;
}

// The command's tries: the first over every port, each further one over the ports that
// failed, until none fails, --retry is used up or a stop came.
int RunJobs(const Invocation& inv, const zb::ConfigSettings& import,
            const std::map<std::int32_t, Sets>& port_sets, std::unique_ptr<zb::ReportSink> report) {
    RaiseDescriptorLimit();
    CliReporter reporter;
    zb::EngineJobs jobs(reporter);
    zb::PortRun run(inv.coms, RunCommandOf(inv.command), jobs, std::move(report));
    run.Label({run.label().run_id, inv.tags});
    reporter.run = &run;
    reporter.all = inv.all;
    reporter.show_run = !inv.quiet;
    reporter.progress.SetMode(inv.quiet                ? ProgressMode::Quiet
                              : StderrIsLiveTerminal() ? ProgressMode::Line
                                                       : ProgressMode::Lines);
    run.ObserveWith(&reporter);
    run.OnPhase([&reporter](zb::RunPhase phase) {
        reporter.CheckOutput();
        reporter.progress.Phase(zb::PhaseName(phase));
    });
    run.NotesTo([&reporter](std::string_view line) { reporter.progress.Note(line); });
    run.OnReportLost([](std::string_view why) {
        std::fprintf(stderr, "zbctl: report not written: %s\n", Printable(why).c_str());
    });
    const bool files = inv.command == Command::Export;
    // The first stop ends the job where it safely can (an upgrade at its next block, leaving
    // the modem in its loader; a read between two reads; an apply before its first write or
    // after its restart), and no further job or try starts. The second interrupt ends the
    // program at once, though not in the middle of a modem's writes, and leaves no port
    // claimed and no finished port unreported.
    StopRequest request(
        [&run, &jobs, &reporter] {
            run.Stopping().store(true);
            jobs.engine().RequestStop();
            reporter.progress.Note("zbctl: stopping; upgrades stop at their next block");
        },
        [&run, &jobs, &reporter, &inv, files](int status) {
            // First: an append waiting on the database ends within a moment, so that the
            // rows' lock below is free soon.
            run.HurryReport();
            jobs.engine().RequestStop();
            jobs.engine().WaitForWrites();
            (void)reporter.PrintResults(run.ResultsSoFar(), inv.json, files, inv.verify);
            zb::com_release_all();
            run.WriteRowsSoFar();
            std::fflush(nullptr);
            EndProgram(status);
        });
    reporter.on_output_lost = [&request] { request.OutputLost(); };
    const StopOnSignal signals(request);
    std::vector<std::int32_t> failed;
    try {
        for (;;) {
            RunSequence(run, inv, import, port_sets);
            failed = run.EndTry();
            if (failed.empty() || run.Attempt() > inv.retries || run.Stopping().load()) break;
            std::fprintf(stderr, "zbctl: try %d of %d: %s\n", run.Attempt() + 1, inv.retries + 1,
                         ComList(failed).c_str());
            run.Retry(failed);
        }
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "zbctl: %s (code = %d)\n", e.what(), e.code().value());
        reporter.Seal();
        run.Abandon();
        return kExitFailed;
    }
    const bool all_ok = reporter.PrintResults(run.ResultsSoFar(), inv.json, files, inv.verify);
    reporter.CheckOutput();
    int status = all_ok && !run.ReportLost() ? kExitOk : kExitFailed;
    if (!failed.empty()) std::fprintf(stderr, "still failing: %s\n", ComList(failed).c_str());
    if (request.Status() != 0) status = request.Status();
    return status;
}

}  // namespace
}  // namespace zbctl

// NOLINTNEXTLINE(bugprone-exception-escape): a Result is only read once it is known ok().
int main(int argc, char** argv) {
    using namespace zbctl;
    zb::Result<Invocation> parsed = ParseArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed) return UsageError(parsed.error().reason);
    Invocation& inv = *parsed;
    if (inv.command == Command::Help) {
        std::fputs(CommandUsage(inv.help_on).c_str(), stdout);
        return kExitOk;
    }
    if (inv.command == Command::Version) {
        std::printf("zbctl %s\n", ZB_VERSION);
        return kExitOk;
    }
    if (!inv.ports_dir.empty())
        if (const zb::Status used = UsePortsDir(inv.ports_dir); !used)
            return InputError(used.reason());
    if (inv.no_pauses) zb::SetPauseScale(0);
    ShowKeysInJson(inv.show_keys);
    if (inv.command == Command::Ports) {
        std::fputs(RenderPortList(MachinePorts(inv.scan), inv.json, inv.scan).c_str(), stdout);
        return kExitOk;
    }
    // The refusals are upgrade's, but for a checksum that does not hold: that file is still
    // an image, and is shown.
    if (inv.command == Command::ImageInfo) {
        if (const zb::Status readable = zb::CheckReadableFile(inv.path); !readable)
            return InputError(readable.reason());
        const zb::ImageFile image = zb::InspectImage(inv.path);
        const bool shown = image.body_read && image.type && image.size_ok;
        if (!shown) return InputError(inv.path + ": " + zb::ImageRefusal(image));
        std::fputs(RenderImageInfo(inv.path, image, inv.json).c_str(), stdout);
        return image.checksum_ok ? kExitOk : kExitFailed;
    }

    const zb::Status keys = ReadKeyFiles(&inv.sets, [](const std::string& warning) {
        std::fprintf(stderr, "zbctl: %s\n", Printable(warning).c_str());
    });
    if (!keys) return InputError(keys.reason());
    std::map<std::int32_t, Sets> port_sets;
    if (inv.command == Command::Apply || inv.command == Command::Import) {
        auto expanded = ExpandSets(inv);
        if (!expanded) return InputError(expanded.error().reason);
        port_sets = std::move(*expanded);
    }
    // A database that cannot be reached stops the run, before any port is touched; it is
    // opened last, as a refused run must not change it (an older table gets new columns).
    // A dry run makes no row: its report is not even opened.
    const ReportOpener open_report = [&inv](std::unique_ptr<zb::ReportSink>* report) {
        if (inv.report.empty() || inv.dry_run) return true;
        auto opened = zb::OpenReportSink(inv.report, [](const std::string& notice) {
            std::fprintf(stderr, "zbctl: %s\n", Printable(notice).c_str());
        });
        if (!opened) {
            (void)InputError("--report " + opened.error().reason);
            return false;
        }
        *report = std::move(*opened);
        return true;
    };
    if (inv.command == Command::Watch) return Watch(inv, open_report);
    zb::ConfigSettings import;
    if (inv.command == Command::Upgrade || inv.command == Command::Import) {
        if (const zb::Status readable = zb::CheckReadableFile(inv.path); !readable)
            return InputError(readable.reason());
    }
    // Once here rather than on every port: a file that is no image at all would otherwise
    // be sent to each modem's loader check in turn.
    if (inv.command == Command::Upgrade) {
        const std::string refusal = zb::ImageRefusal(zb::InspectImage(inv.path));
        if (!refusal.empty()) return InputError(inv.path + ": " + refusal);
    }
    if (inv.command == Command::Import) {
        auto settings = zb::LoadConfigFile(inv.path);
        if (!settings) {
            const zb::ConfigRefusal& why = settings.error();
            return InputError(why.unreadable ? why.reason : inv.path + ": " + RefusalText(why));
        }
        import = std::move(*settings);
    }
    // An export's folder must exist and take new files.
    if (inv.command == Command::Export)
        if (const zb::Status writable = zb::CheckWritableFolder(inv.path); !writable)
            return InputError(writable.reason());
    if (const zb::Status ports = CheckPorts(inv.coms); !ports) return InputError(ports.reason());
    std::unique_ptr<zb::ReportSink> report;
    if (!open_report(&report)) return kExitUsage;
    return RunJobs(inv, import, port_sets, std::move(report));
}
