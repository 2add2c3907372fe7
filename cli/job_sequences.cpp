#include "cli/job_sequences.h"

#include <algorithm>
#include <string>
#include <vector>

#include "config/config_rules.h"
#include "jobs/model/firmware_image.h"
#include "jobs/model/record_fields.h"
#include "jobs/model/text_escape.h"

namespace zbctl {
namespace {

// The port's message from its earlier job, then what came after it. A later job that said
// nothing new adds nothing.
std::string Joined(const std::string& first, const std::string& then) {
    if (then.empty() || then == first) return first;
    return first + "; " + then;
}

void ReadPorts(PortRun& run) {
    run.Phase("reading");
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
    run.Phase("reading");
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
    run.Phase("verifying");
    run.RunJob();
    for (const std::int32_t com : applied) {
        if (!run.ReadOk(com)) {
            run.SetVerified(com, false, {}, sent[com]);
            run.Finish(com, false, false, "Verify fail; " + run.LastMessage(com));
            continue;
        }
        std::vector<zb::ReportDiff> diffs = zb::WrittenDiffs(sent[com], run.Record(com));
        const bool same = diffs.empty();
        for (const zb::ReportDiff& d : diffs)
            run.Note("COM" + std::to_string(com) + ": Verify fail: " + Printable(zb::DiffText(d)));
        run.SetVerified(com, same, std::move(diffs), sent[com]);
        run.Finish(com, same, true, same ? message[com] : "Verify fail");
    }
}

// The apply job over the links the read opened, for the ports still marked; with `verify`
// the written fields are read back.
void WriteChanges(PortRun& run, bool verify) {
    run.Phase("writing");
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
        for (const Set& set : sets) zb::StoreValue(would_be, *set.value);
        // The configuration dialog's rules, on the record as it would be written.
        if (std::optional<std::string> refusal = zb::RecordRefusal(would_be)) {
            run.Finish(com, false, true, std::move(*refusal));
            continue;
        }
        for (const Set& set : sets) zb::StoreValue(record, *set.value);
        record.apply_pending = true;
    }
    WriteChanges(run, verify);
}

void ImportSettings(PortRun& run, const zb::ConfigSettings& settings, bool verify) {
    ReadBeforeChange(run);
    // The ports still marked are those read; the settings go to them alone, but not to a
    // port whose own local node ID the dialog's rules refuse with them: it is not written.
    for (zb::ConfigImportRefusal& refused : zb::ApplyConfigSettings(run.table(), settings))
        run.Finish(static_cast<std::int32_t>(refused.com), false, true, std::move(refused.message));
    WriteChanges(run, verify);
}

void Upgrade(PortRun& run, const std::string& image) {
    run.SetImageType(zb::InspectImage(image).type);
    if (run.Reporting()) {
        run.Phase("reading");
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
    run.Phase("upgrading");
    run.RunJob(image);
    std::map<std::int32_t, std::string> upgraded;
    for (const std::int32_t com : run.coms()) {
        zb::SetUpgradeMark(run.Row(com), false);
        upgraded[com] = run.LastMessage(com);
    }
    // The devices that took the image restarted into it, whether or not others failed: open
    // and check them afresh and show what they report now.
    for (const std::int32_t com : run.coms()) {
        if (run.Record(com).job_failed) {
            run.Finish(com, false, false);
            continue;
        }
        zb::UnmarkPort(run.Row(com));
        zb::MarkPort(run.Row(com));
    }
    run.Phase("reading again");
    run.RunJob();
    for (const std::int32_t com : run.coms()) {
        if (run.Finished(com)) continue;
        if (run.ReadOk(com)) {
            run.Finish(com, true, true, upgraded[com]);
            continue;
        }
        // The modem runs the new image whether or not a stop let it be read again; a stop
        // is not its failure. A port that does not answer after its restart is.
        const std::string then = run.LastMessage(com);
        if (run.Stopping().load() && then == "User abort")
            run.Finish(com, true, false,
                       Joined(upgraded[com], "stopped before the firmware was read again"));
        else
            run.Finish(com, false, false, Joined(upgraded[com], then));
    }
}

void Export(PortRun& run, std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    run.Phase("reading");
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
        run.Note("zbctl: " + Printable(f.path) + ": " + Printable(f.reason));
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

}  // namespace

void RunSequence(PortRun& run, const Invocation& inv, const zb::ConfigSettings& import,
                 const std::map<std::int32_t, Sets>& port_sets) {
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
        case Command::Watch:
            break;
    }
}

}  // namespace zbctl
