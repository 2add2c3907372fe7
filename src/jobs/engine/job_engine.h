// The job engine: runs one job over every selected port of a port table, one worker
// thread per port, reports through a JobReporter and keeps each port's outcome. The job
// window and zbctl both drive it.
//
// Use, from one controlling thread (the GUI thread, or zbctl's main):
//   JobEngine job(reporter);
//   job.LoadPorts(table);               // copies the rows; records and locks are shared
//   job.SetPortCount(n);                // the number of selected records, shown to the user
//   job.SetFirmwareFile(path);          // upgrade jobs only
//   job.Start();                        // returns at once; or job.Run() to also wait
//   ... reports arrive; JobFinished() comes last ...
//   job.Wait();                         // joins the supervisor
//   job.Outcomes(); job.FailCount(); job.ApplyFailCount();
// The same engine may run further jobs (LoadPorts .. Wait again); counters restart at 0
// and the outcomes are those of the latest job.
//
// Threads: Start creates a supervisor thread, which pauses, starts one worker per selected
// record (in row order), releases them together through one manual-reset event and
// collects every worker it started before it reports JobFinished. RequestAbort,
// RequestStop, WaitForWrites, IsRunning and Outcomes may be called from any thread;
// everything else from the controlling thread only. While a job runs, the records of its
// ports belong to its workers (port_table.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jobs/engine/job_context.h"
#include "jobs/engine/job_reporter.h"
#include "jobs/engine/port_outcome.h"
#include "jobs/model/port_table.h"

namespace zb {

class JobEngine {
public:
    // The reporter must outlive the engine.
    explicit JobEngine(JobReporter& reporter);
    // Waits for a running job to end.
    ~JobEngine();
    JobEngine(const JobEngine&) = delete;
    JobEngine& operator=(const JobEngine&) = delete;

    // Not while a job runs (std::logic_error).
    void LoadPorts(const PortTable& rows);
    void StorePorts(PortTable& rows) const;
    void SetPortCount(std::uint32_t n);
    void SetFirmwareFile(std::string path);

    std::uint32_t PortCount() const { return port_count; }
    // Ports whose open, connection check, read or upgrade failed, or found in the loader.
    std::uint32_t FailCount() const { return context_.FailCount(); }
    // Ports whose apply failed, or found in the loader.
    std::uint32_t ApplyFailCount() const { return context_.ApplyFailCount(); }
    // Each port of the latest job, ascending: whether it failed and its last message so far.
    // Empty before the first job and after a Start that threw.
    std::vector<PortOutcome> Outcomes() const { return recorder_.Outcomes(); }

    // Creates the supervisor (held until JobStarted is out); clears the outcomes, the
    // counters and the abort (not a stop); for every selected record, in row order, clears
    // job_failed and gives it a bar (reset: hidden, at 0); reports JobStarted; releases the
    // supervisor. Either it throws before anything is reported and nothing runs, or
    // JobFinished follows JobStarted. Throws std::system_error (with the system's error
    // code) when the supervisor cannot be created, and then no record or counter has
    // changed either, and there are no outcomes; std::logic_error when a job is already running. A
    // worker that cannot be created fails its port with "Worker start fail" and the job goes on.
    void Start();
    // Asks the job to stop (the window's X, zbctl's Ctrl-C): the upgrade steps stop within
    // about one block's time, also while the loader keeps refusing a block or sends junk
    // instead of 'C' (a loader gone silent holds them until its 5000 ms read ends). Read and
    // apply steps run to their end.
    void RequestAbort() { context_.RequestAbort(); }
    // The operator's stop, for this job and every later one: no port starts a step (it fails
    // with "User abort"), a read ends between two of its reads, an apply before its first
    // write, an upgrade as on RequestAbort. A modem's writes and restart, once begun, run to
    // their end.
    void RequestStop() { context_.RequestStop(); }
    bool StopRequested() const { return context_.StopRequested(); }
    // After RequestStop: returns once no modem is in the middle of its writes.
    void WaitForWrites() { context_.WaitForWrites(); }
    // From Start until the supervisor has collected every worker.
    bool IsRunning() const;
    // Blocks until the job has finished and its supervisor has ended. Returns at once when
    // no job was started.
    void Wait();
    void Run() {
        Start();
        Wait();
    }

    // Drops every record's progress bar (progress_bar = null), as closing the window does.
    void ReleaseProgressBars();

private:
    struct Active;
    void Supervise(Active& active);
    void Work(Active& active, std::size_t index);

    OutcomeRecorder recorder_;  // passes the reports on to the caller's reporter
    JobContext context_;        // reports through recorder_
    PortTable rows_;
    std::uint32_t port_count = 0;
    std::atomic<bool> running_{false};
    std::unique_ptr<Active> active_;
};

}  // namespace zb
