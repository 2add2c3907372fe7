#include "config/config_run.h"

#include <string>
#include <vector>

#include "config/config_rules.h"
#include "jobs/model/record_fields.h"
#include "jobs/model/text_escape.h"
#include "jobs/platform/file_storage.h"
#include "jobs/report/report_row.h"
#include "jobs/run/sequences.h"

namespace zb {
namespace {

// A dry run's port ends with what the write would change; the record keeps what was read.
void FinishDry(PortRun& run, std::int32_t com, const DeviceRecord& would_be) {
    const DeviceRecord& read = run.Record(com);
    std::vector<ReportDiff> changes = WrittenDiffs(would_be, read);
    // The key counts only where security is on: the one that switching it on brings.
    const RecordField& key = FieldOf(FieldId::Aeskey);
    if (would_be.security && !read.security)
        changes.push_back({std::string(key.name), KeyFingerprint(ShownText(would_be, key)),
                           KeyFingerprint(ShownText(read, key))});
    std::string message = changes.empty() ? "no change" : "would change";
    run.SetChanges(com, std::move(changes));
    run.Finish(com, FailureKind::None, true, std::move(message));
}

}  // namespace

void ApplyValues(PortRun& run, const std::map<std::int32_t, FieldValues>& values, WriteMode mode) {
    if (mode == WriteMode::DryRun) run.SetDryRun();
    if (!ReadBeforeChange(run)) return;
    for (const std::int32_t com : run.coms()) {
        if (run.Finished(com)) continue;
        const FieldValues& sets = values.at(com);
        DeviceRecord& record = run.Record(com);
        DeviceRecord would_be = record;
        for (const FieldValue& value : sets) StoreValue(would_be, value);
        // The configuration dialog's rules, on the record as it would be written.
        if (std::optional<std::string> refusal = RecordRefusal(would_be)) {
            run.Finish(com, FailureKind::Refused, true, std::move(*refusal));
            continue;
        }
        if (mode == WriteMode::DryRun) {
            FinishDry(run, com, would_be);
            continue;
        }
        for (const FieldValue& value : sets) StoreValue(record, value);
        record.apply_pending = true;
    }
    if (mode != WriteMode::DryRun) WriteChanges(run, mode == WriteMode::Verify);
}

void ImportSettings(PortRun& run, const ConfigSettings& settings, WriteMode mode,
                    const std::map<std::int32_t, FieldValues>& values) {
    if (mode == WriteMode::DryRun) run.SetDryRun();
    if (!ReadBeforeChange(run)) return;
    std::map<std::int32_t, DeviceRecord> read;
    if (mode == WriteMode::DryRun)
        for (const std::int32_t com : run.coms())
            if (!run.Finished(com)) read[com] = run.Record(com);
    // The ports still marked are those read; the settings go to them alone, but not to a
    // port whose own local node ID the dialog's rules refuse with them: it is not written.
    for (ConfigImportRefusal& refused : ApplyConfigSettings(run.table(), settings, values))
        run.Finish(static_cast<std::int32_t>(refused.com), FailureKind::Refused, true,
                   std::move(refused.message));
    if (mode != WriteMode::DryRun) {
        WriteChanges(run, mode == WriteMode::Verify);
        return;
    }
    // Each record as the import made it, then as read again for its result.
    for (auto& [com, record] : read) {
        if (run.Finished(com)) continue;
        DeviceRecord would_be = run.Record(com);
        run.Record(com) = std::move(record);
        FinishDry(run, com, would_be);
    }
}

void Export(PortRun& run, std::string folder) {
    // "dir//" shows as "dir/": a run of separators ends the folder as one does.
    while (folder.size() > 1 && EndsInSeparator(folder) &&
           EndsInSeparator(folder.substr(0, folder.size() - 1)))
        folder.pop_back();
    run.Phase(RunPhase::Reading);
    if (!run.RunJob()) return;
    bool all_read = true;
    for (const std::int32_t com : run.coms()) all_read = all_read && run.ReadOk(com);
    if (!all_read) {
        // A partial export would pass for a complete one.
        for (const std::int32_t com : run.coms()) {
            if (run.ReadOk(com))
                run.Finish(com, FailureKind::OtherPortFailed, true,
                           "Not written: another port failed");
            else
                run.Finish(com, run.Failure(com), false);
        }
        return;
    }
    std::map<std::int32_t, std::string> failed;
    for (const ConfigWriteFailure& f : WriteConfigFiles(run.table(), folder)) {
        run.Note("zbctl: " + Printable(f.path) + ": " + Printable(f.reason));
        failed[static_cast<std::int32_t>(f.com)] = f.reason;
    }
    for (const std::int32_t com : run.coms()) {
        const std::string path = JoinPath(folder, ConfigFileName(static_cast<std::uint32_t>(com)));
        if (const auto it = failed.find(com); it != failed.end())
            run.Finish(com, FailureKind::WriteFileFailed, true, "Write file fail: " + it->second);
        else
            run.Finish(com, FailureKind::None, true, "", path);
    }
}

}  // namespace zb
