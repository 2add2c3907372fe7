// zbctl's side of a run (jobs/run/port_run.h): the progress on stderr while its jobs run,
// the results printed once at the end, and the command's sequence.
//
// The reporter takes the engine's reports from its threads, and PrintResults may come from
// the signal thread while workers run: its state is guarded by one mutex.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

#include "cli/cli_args.h"
#include "cli/progress.h"
#include "config/config_file.h"
#include "jobs/engine/job_reporter.h"
#include "jobs/run/port_run.h"

namespace zbctl {

// Progress on stderr (progress.h), and the results printed once: either at the end, or, when
// the program is interrupted, from the signal thread while workers may still run.
class CliReporter : public zb::NullJobReporter {
public:
    void JobStarted(const std::vector<std::int32_t>& coms) override;
    void SetPortMessage(std::int32_t com, std::string_view text) override;
    void SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) override;
    void SetProgressBar(std::int32_t com, const zb::ProgressBarState& state) override;
    void SetPortFailed(std::int32_t com) override;
    void SetFailureKind(std::int32_t com, zb::FailureKind kind) override;
    void JobFinished() override;

    // Prints `results` in order, unless results were printed already, each open failure's
    // reason on stderr, and with show_run the run's ID ("run <id>") on stderr after them.
    // Whether every port printed succeeded.
    bool PrintResults(const std::vector<zb::PortResult>& results, bool json, bool files,
                      bool verify);
    // Nothing is to be printed any more.
    void Seal();

    // Called, outside the reporter's lock, when a write to stdout or stderr failed: the
    // reader has gone. Set before any job runs.
    std::function<void()> on_output_lost;
    // Calls on_output_lost when an earlier print of any thread failed.
    void CheckOutput();

    Progress progress;
    // The run whose image type and records give the note on a firmware type refused. Set
    // before any job runs.
    const zb::PortRun* run = nullptr;
    bool all = false;       // the table shows every setting
    bool show_run = false;  // the run's ID follows the results on stderr

private:
    std::mutex mutex_;
    bool printed_ = false;
    std::set<std::int32_t> type_refused_;  // the failure's message is still to come
};

zb::RunCommand RunCommandOf(Command command);

// One try of `inv`'s command over run.coms(): read, apply (with each port's checked --set
// values from `port_sets`), import (`import`), upgrade or export. Help, Version, Ports and
// Watch run no jobs. Throws std::system_error when a job cannot start.
void RunSequence(zb::PortRun& run, const Invocation& inv, const zb::ConfigSettings& import,
                 const std::map<std::int32_t, Sets>& port_sets);

}  // namespace zbctl
