#include "jobs/run/sequences.h"

#include <string>
#include <vector>

#include "jobs/engine/firmware_image.h"
#include "jobs/model/record_fields.h"
#include "jobs/model/text_escape.h"

namespace zb {
namespace {

// The port's message from its earlier job, then what came after it. A later job that said
// nothing new adds nothing.
std::string Joined(const std::string& first, const std::string& then) {
    if (then.empty() || then == first) return first;
    return first + "; " + then;
}

FailureKind ReadFailure(PortRun& run, std::int32_t com) {
    return run.ReadOk(com) ? FailureKind::None : run.Failure(com);
}

// The written fields read back: every port whose apply succeeded is opened afresh (the
// apply restarted its modem) and read, and fails unless it reports what was written.
void VerifyChanges(PortRun& run, const std::vector<std::int32_t>& applied) {
    std::map<std::int32_t, DeviceRecord> sent;
    std::map<std::int32_t, std::string> message;
    for (const std::int32_t com : applied) {
        sent[com] = run.Record(com);
        message[com] = run.LastMessage(com);
        UnmarkPort(run.Row(com));
        MarkPort(run.Row(com));
    }
    run.Phase(RunPhase::Verifying);
    if (!run.RunJob()) return;
    for (const std::int32_t com : applied) {
        if (!run.ReadOk(com)) {
            run.SetVerified(com, false, {}, sent[com]);
            run.Finish(com, FailureKind::VerifyFailed, false,
                       "Verify fail; " + run.LastMessage(com));
            continue;
        }
        std::vector<ReportDiff> diffs = WrittenDiffs(sent[com], run.Record(com));
        const bool same = diffs.empty();
        for (const ReportDiff& d : diffs)
            run.Note("COM" + std::to_string(com) + ": Verify fail: " + Printable(DiffText(d)));
        run.SetVerified(com, same, std::move(diffs), sent[com]);
        run.Finish(com, same ? FailureKind::None : FailureKind::VerifyFailed, true,
                   same ? message[com] : "Verify fail");
    }
}

}  // namespace

bool ReadBeforeChange(PortRun& run) {
    run.Phase(RunPhase::Reading);
    if (!run.RunJob()) return false;
    for (const std::int32_t com : run.coms())
        if (!run.ReadOk(com)) run.Finish(com, run.Failure(com), false);
    return true;
}

void ReadPorts(PortRun& run) {
    run.Phase(RunPhase::Reading);
    if (!run.RunJob()) return;
    for (const std::int32_t com : run.coms()) {
        const FailureKind failure = ReadFailure(run, com);
        run.Finish(com, failure, failure == FailureKind::None);
    }
}

void WriteChanges(PortRun& run, bool verify) {
    run.Phase(RunPhase::Writing);
    if (!run.RunJob()) return;
    std::vector<std::int32_t> applied;
    for (const std::int32_t com : run.coms()) {
        if (run.Finished(com)) continue;
        const bool ok = !run.Record(com).job_failed;
        if (ok && verify)
            applied.push_back(com);
        else
            run.Finish(com, ok ? FailureKind::None : run.Failure(com), ok);
    }
    if (!applied.empty()) VerifyChanges(run, applied);
}

void Upgrade(PortRun& run, const std::string& image) {
    run.SetImageType(InspectImage(image).type);
    run.UseFile(image);
    if (run.Reporting()) {
        run.Phase(RunPhase::Reading);
        // The report wants the version each modem had; the upgrade itself then starts on
        // freshly opened ports, as without a report.
        if (!run.RunJob()) return;
        for (const std::int32_t com : run.coms()) {
            if (run.ReadOk(com)) run.SetReadBefore(com, run.Record(com));
            run.Renew(com);
        }
    }
    for (const std::int32_t com : run.coms()) SetUpgradeMark(run.Row(com), true);
    run.Phase(RunPhase::Upgrading);
    if (!run.RunJob(image)) return;
    std::map<std::int32_t, std::string> upgraded;
    for (const std::int32_t com : run.coms()) {
        SetUpgradeMark(run.Row(com), false);
        upgraded[com] = run.LastMessage(com);
    }
    // The devices that took the image restarted into it, whether or not others failed: open
    // and check them afresh and show what they report now.
    for (const std::int32_t com : run.coms()) {
        if (run.Record(com).job_failed) {
            run.Finish(com, run.Failure(com), false);
            continue;
        }
        UnmarkPort(run.Row(com));
        MarkPort(run.Row(com));
    }
    run.Phase(RunPhase::ReadingAgain);
    if (!run.RunJob()) return;
    for (const std::int32_t com : run.coms()) {
        if (run.Finished(com)) continue;
        if (run.ReadOk(com)) {
            run.Finish(com, FailureKind::None, true, upgraded[com]);
            continue;
        }
        // The modem runs the new image whether or not a stop let it be read again; a stop
        // is not its failure. A port that does not answer after its restart is.
        if (run.Stopping().load() && run.Failure(com) == FailureKind::UserAbort)
            run.Finish(com, FailureKind::None, false,
                       Joined(upgraded[com], "stopped before the firmware was read again"));
        else
            run.Finish(com, FailureKind::NotReadAgain, false,
                       Joined(upgraded[com], run.LastMessage(com)));
    }
}

void FinishUpgrade(PortRun& run, const std::set<std::int32_t>& read_again) {
    for (const std::int32_t com : run.coms()) {
        if (run.Finished(com)) continue;
        if (run.JobOk(com))
            run.Finish(com, FailureKind::None, read_again.count(com) != 0);
        else
            run.Finish(com, run.Failure(com), false);
    }
}

}  // namespace zb
