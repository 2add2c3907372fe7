// One port's part of a job, as a small state machine.
//
// A worker released by the start event runs RunPort on its record. The port walks through
// a few steps; which one comes next is decided by NextStep from the record's flags and how
// far this job has got with the port (its phase), and nothing else:
//
//   Start --(port closed)--> OpenCheck --> OpenFailed | Answered | Silent | InLoader
//   OpenFailed --> OpenFail (message, link closed, requests dropped) --> Finished
//   Answered   --> Read when nothing is pending, else the pending step
//   Silent     --> ConnectionFail (the port stays open) --> the pending step
//   InLoader   --> LoaderWait unless an upgrade is pending, else the pending step
//   Start (port already open), Ready --> the pending step: Apply (unless the device
//                waits in its loader), else Upgrade, else nothing
//   any work step --> Finished --> Done
//   After a stop (JobContext::RequestStop) every step that would work on the port (open,
//   read, apply, upgrade) is Stopped instead: "User abort", and the port is finished.
//
// Runs on the record's worker only (port_table.h: the worker owns the record during the
// job). Never throws.
#pragma once

#include <cstdint>

#include "jobs/engine/job_context.h"
#include "jobs/model/port_table.h"

namespace zb {

// How far this job has got with the port. Lives for one job only; the record keeps none
// of it.
enum class PortPhase : std::uint8_t {
    Start,       // nothing done yet
    OpenFailed,  // open or line set-up refused
    Answered,    // opened; the connection check passed
    Silent,      // opened; the connection check failed
    InLoader,    // opened; the firmware loader answered the check
    Ready,       // the check's outcome is dealt with; the pending step may run
    Finished,    // the port's step has run
};

enum class PortStep : std::uint8_t {
    OpenCheck,       // open, set the line up, check the connection
    OpenFail,        // "Open port fail"
    ConnectionFail,  // "Connection fail"
    LoaderWait,      // "Waiting upgrade firmware"
    Read,
    Apply,
    Upgrade,
    Stopped,  // "User abort"
    Done,
};

// The record's flags that choose the step, with the port's phase.
struct PortFlags {
    PortPhase phase = PortPhase::Start;
    bool selected = false;
    bool is_open = false;
    bool apply_pending = false;
    bool upgrade_pending = false;
    bool upgrade_wait = false;
    bool stop = false;  // the operator asked to stop
};

PortFlags FlagsOf(const DeviceRecord& record, PortPhase phase, bool stop = false);

// The port's next step. Pure.
PortStep NextStep(const PortFlags& flags);

// Runs the port's steps until NextStep says Done.
void RunPort(JobContext& job, DeviceRecord& record);

}  // namespace zb
