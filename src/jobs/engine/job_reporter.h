// How a running job tells its window, zbctl or any other observer what the ports are doing.
//
// The engine has no widgets. Every change an observer may show arrives here: per-port
// messages, the upgrade's byte count, the progress bar's state, whether the job is
// upgrading, and the end of the job. Calls come from the engine's threads: JobStarted from
// the thread that calls JobEngine::Start, port reports and the start of an upgrade from
// that port's worker, the end of the upgrades and JobFinished from the supervisor. Reports about
// one port arrive in the order its worker issued them, and reports of different ports may arrive
// concurrently, so an implementation either locks or posts each call to one thread (a GUI posts
// queued calls to its own thread, which keeps each worker's order). Reports must not throw, and
// must not call the engine's Start, Wait or destructor (RequestAbort is fine).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "jobs/model/progress_bar.h"

namespace zb {

// What the job is doing as a whole: Upgrading from the moment a port's loader has taken
// up the transfer; Normal again once a job that upgraded has collected its workers.
enum class JobMode { Normal, Upgrading };

// Why a port failed. The engine's steps give the kinds up to UserAbort; a run over the ports
// (jobs/run) adds the others.
enum class FailureKind : std::uint8_t {
    None,
    OpenFailed,       // the port could not be opened or set up
    NoAnswer,         // opened, but no modem answered the connection check
    InLoader,         // the modem waits in its firmware loader
    StepFailed,       // a read, a write, the image check or the transfer failed
    FirmwareType,     // the image is for another type of modem
    UserAbort,        // the operator's stop, or the job window's X
    Refused,          // the configuration rules refused the values; nothing was written
    VerifyFailed,     // the read-back did not find what was written
    NotReadAgain,     // upgraded, but the modem did not answer when read afterwards
    WriteFileFailed,  // the export's file could not be written
    OtherPortFailed,  // the export wrote nothing because another port failed
    Interrupted,      // the program ended before the port's part did
};

class JobReporter {
public:
    virtual ~JobReporter() = default;

    // The ports of the job, ascending: none has a message yet, each record's job_failed is
    // clear and its bar reset (hidden, at 0).
    virtual void JobStarted(const std::vector<std::int32_t>& coms) = 0;
    // The port's latest message; the text is only valid during the call.
    virtual void SetPortMessage(std::int32_t com, std::string_view text) = 0;
    // An upgrade's bytes acknowledged so far and the image's size.
    virtual void SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) = 0;
    // The port's bar after a change (maximum set, stepped by one, or filled).
    virtual void SetProgressBar(std::int32_t com, const ProgressBarState& state) = 0;
    // The port's step failed; always reported before the failure's message.
    virtual void SetPortFailed(std::int32_t com) = 0;
    // Why: comes just before SetPortFailed.
    virtual void SetFailureKind(std::int32_t /*com*/, FailureKind /*kind*/) {}
    virtual void SetJobMode(JobMode mode) = 0;
    // Every worker has ended and the job is over. Follows every other report of the job.
    virtual void JobFinished() = 0;
};

// A reporter that ignores everything; derive from it to hear only some reports.
class NullJobReporter : public JobReporter {
public:
    void JobStarted(const std::vector<std::int32_t>&) override {}
    void SetPortMessage(std::int32_t, std::string_view) override {}
    void SetPortProgress(std::int32_t, std::uint64_t, std::uint64_t) override {}
    void SetProgressBar(std::int32_t, const ProgressBarState&) override {}
    void SetPortFailed(std::int32_t) override {}
    void SetJobMode(JobMode) override {}
    void JobFinished() override {}
};

}  // namespace zb
