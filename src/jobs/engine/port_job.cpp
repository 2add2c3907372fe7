#include "jobs/engine/port_job.h"

#include <string>

#include "jobs/engine/steps.h"
#include "protocol/param_commands.h"

namespace zb {
namespace {

void CloseLink(DeviceRecord& record) {
    if (!record.link) return;
    (void)com_close(record.link);
    record.link = ComHandle();
}

// Opens the port at 115200 baud 8N1 and checks that a modem answers. open_error says why
// when the port cannot be used.
PortPhase OpenAndCheck(JobContext& job, DeviceRecord& record) {
    job.SetPortMessage(record, kOpeningMessage);
    // A link left behind without is_open would keep the port locked against this open.
    CloseLink(record);
    record.open_error.fill('\0');
    record.open_note.fill('\0');
    record.holder_pid = 0;
    record.holder_name.fill('\0');
    const auto com = static_cast<std::int32_t>(record.com_no);
    ComHandle link;
    if (com_open(com, &link) != ST_OK) {
        SetText(record.open_error, com_last_error());
        SetText(record.open_note, com_last_open_note());
        const ComHolder holder = com_last_holder();
        record.holder_pid = holder.pid;
        SetText(record.holder_name, holder.name);
        return PortPhase::OpenFailed;
    }
    record.link = link;
    if (com_setup(link, 115200, 0, 8, 0, FLOW_NONE) != ST_OK) {
        SetText(record.open_error,
                com_device_path(com) + " refused the line settings (115200 baud, 8N1)");
        return PortPhase::OpenFailed;
    }
    record.is_open = true;

    (void)com_set_timeouts(link, 0, 0, 0, 0, 0);
    (void)com_purge(link, PURGE_INPUT);
    const std::int32_t status = dev_check_connection(link, 0, 0);
    record.connected = status == ST_OK;
    if (status == ST_LOADER) return PortPhase::InLoader;
    record.upgrade_wait = false;
    return record.connected ? PortPhase::Answered : PortPhase::Silent;
}

// The step a port with an open link runs for what is pending on it.
PortStep PendingStep(const PortFlags& f) {
    if (!f.is_open) return PortStep::Done;
    if (f.apply_pending && !f.upgrade_wait) return PortStep::Apply;
    if (f.upgrade_pending) return PortStep::Upgrade;
    return PortStep::Done;
}

}  // namespace

PortFlags FlagsOf(const DeviceRecord& record, PortPhase phase, bool stop) {
    PortFlags f;
    f.phase = phase;
    f.selected = record.selected;
    f.is_open = record.is_open;
    f.apply_pending = record.apply_pending;
    f.upgrade_pending = record.upgrade_pending;
    f.upgrade_wait = record.upgrade_wait;
    f.stop = stop;
    return f;
}

namespace {

PortStep PlannedStep(const PortFlags& f) {
    if (!f.selected) return PortStep::Done;
    switch (f.phase) {
        case PortPhase::Start:
            return f.is_open ? PendingStep(f) : PortStep::OpenCheck;
        case PortPhase::OpenFailed:
            return PortStep::OpenFail;
        case PortPhase::Answered:
            return f.apply_pending || f.upgrade_pending ? PendingStep(f) : PortStep::Read;
        case PortPhase::Silent:
            return PortStep::ConnectionFail;
        case PortPhase::InLoader:
            // With an upgrade pending the loader is just what the upgrade needs.
            return f.upgrade_pending ? PendingStep(f) : PortStep::LoaderWait;
        case PortPhase::Ready:
            return PendingStep(f);
        case PortPhase::Finished:
            return PortStep::Done;
    }
    return PortStep::Done;
}

}  // namespace

PortStep NextStep(const PortFlags& f) {
    const PortStep step = PlannedStep(f);
    // What only reports on the port (a failed open or check, the loader wait) still runs.
    const bool works = step == PortStep::OpenCheck || step == PortStep::Read ||
                       step == PortStep::Apply || step == PortStep::Upgrade;
    return f.stop && works ? PortStep::Stopped : step;
}

void RunPort(JobContext& job, DeviceRecord& record) {
    PortPhase phase = PortPhase::Start;
    for (;;) {
        switch (NextStep(FlagsOf(record, phase, job.StopRequested()))) {
            case PortStep::OpenCheck:
                phase = OpenAndCheck(job, record);
                break;
            case PortStep::OpenFail:
                record.connected = false;
                job.FailPort(record, "Open port fail", FailCounters::Fail, FailureKind::OpenFailed);
                CloseLink(record);
                // Nothing can be done on a port that will not open; a later job starts
                // afresh with what the operator asks then.
                record.apply_pending = false;
                record.upgrade_pending = false;
                phase = PortPhase::Finished;
                break;
            case PortStep::ConnectionFail:
                job.FailPort(record, "Connection fail", FailCounters::Fail, FailureKind::NoAnswer);
                phase = PortPhase::Ready;
                break;
            case PortStep::LoaderWait:
                record.upgrade_wait = true;
                job.FailPort(record, "Waiting upgrade firmware", FailCounters::Both,
                             FailureKind::InLoader);
                phase = PortPhase::Ready;
                break;
            case PortStep::Read:
                (void)com_purge(record.link, PURGE_INPUT);
                ReadSettingsStep(job, record);
                phase = PortPhase::Finished;
                break;
            case PortStep::Apply:
                ApplySettingsStep(job, record);
                record.apply_pending = false;
                phase = PortPhase::Finished;
                break;
            case PortStep::Upgrade:
                (void)com_purge(record.link, PURGE_INPUT);
                UpgradeStep(job, record);
                phase = PortPhase::Finished;
                break;
            case PortStep::Stopped:
                // No pause: the operator is waiting for the program to end.
                job.ReportFailure(record, "User abort",
                                  record.apply_pending ? FailCounters::Both : FailCounters::Fail,
                                  FailureKind::UserAbort);
                record.apply_pending = false;
                phase = PortPhase::Finished;
                break;
            case PortStep::Done:
                return;
        }
    }
}

}  // namespace zb
