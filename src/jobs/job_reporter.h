// How a running job tells its window (or any other observer) what the ports are doing.
//
// The engine has no widgets. Every change that the job window would show arrives here:
// per-port messages, the File size cell, the progress bar's state, the window's colours,
// and the end of the job. Calls come from the engine's threads: JobStarted from the thread
// that calls JobEngine::Start, port reports from that port's worker, the colour restore
// and JobFinished from the supervisor. Reports about one port arrive in the order its
// worker issued them, and reports of different ports may arrive concurrently, so an
// implementation either locks or posts each call to one thread (a GUI posts queued calls
// to its own thread, which keeps each worker's order). Reports must not throw, and must
// not call the engine's Start, Wait or destructor (RequestAbort is fine).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "jobs/progress_bar.h"

namespace zb {

// The job window's frame. Normal: grey (128, 128, 128) title strip, fill and outline, and
// a body in the system button-face colour with a grey outline. Upgrading: red (255, 0, 0)
// strip fill and outline, white body with a red outline.
enum class WindowColours { Normal, Upgrading };

class JobReporter {
public:
    virtual ~JobReporter() = default;

    // The ports of the job, ascending. Their rows start as "COM<n>", "-", a hidden bar at 0
    // and "Preparing...", with job_failed clear.
    virtual void JobStarted(const std::vector<std::int32_t>& coms) = 0;
    // The port's latest message; the text is only valid during the call.
    virtual void SetPortMessage(std::int32_t com, std::string_view text) = 0;
    // The File size cell: "%d / %d" of bytes acknowledged and the image's size.
    virtual void SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) = 0;
    // The port's bar after a change (maximum set, stepped by one, or filled).
    virtual void SetProgressBar(std::int32_t com, const ProgressBarState& state) = 0;
    // The port's step failed: its message is drawn in dark red (128, 0, 0) from now on.
    // Always reported before the failure's message.
    virtual void SetPortFailed(std::int32_t com) = 0;
    virtual void SetWindowColours(WindowColours colours) = 0;
    // Every worker has ended and the job is over; the window closes itself now. Follows
    // every other report of the job.
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
    void SetWindowColours(WindowColours) override {}
    void JobFinished() override {}
};

}  // namespace zb
