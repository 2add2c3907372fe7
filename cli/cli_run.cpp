#include "cli/cli_run.h"

#include <cstdio>

#include "cli/cli_output.h"
#include "config/config_run.h"
#include "jobs/run/sequences.h"

namespace zbctl {

void CliReporter::JobStarted(const std::vector<std::int32_t>& coms) {
    if (!progress.JobStarted(coms.size())) CheckOutput();
}

void CliReporter::SetFailureKind(std::int32_t com, zb::FailureKind kind) {
    if (kind != zb::FailureKind::FirmwareType || run == nullptr) return;
    const std::lock_guard lock(mutex_);
    type_refused_.insert(com);
}

void CliReporter::SetPortMessage(std::int32_t com, std::string_view text) {
    bool type_refused = false;
    {
        const std::lock_guard lock(mutex_);
        type_refused = type_refused_.erase(com) != 0;
    }
    // The modem's type is in its record, read on the worker that wrote it.
    const std::string shown =
        type_refused
            ? zb::WithFirmwareTypes(std::string(text), run->ImageType(),
                                    run->table()[static_cast<std::size_t>(com - 1)].device->fw_type)
            : std::string(text);
    if (!progress.PortMessage(com, shown)) CheckOutput();
}

void CliReporter::SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) {
    if (!progress.PortProgress(com, done, total)) CheckOutput();
}

void CliReporter::SetProgressBar(std::int32_t com, const zb::ProgressBarState& state) {
    if (!progress.PortBar(com, state)) CheckOutput();
}

void CliReporter::SetPortFailed(std::int32_t com) {
    progress.PortFailed(com);
}

void CliReporter::JobFinished() {
    if (!progress.JobFinished()) CheckOutput();
}

void CliReporter::CheckOutput() {
    if ((std::ferror(stdout) != 0 || std::ferror(stderr) != 0) && on_output_lost) on_output_lost();
}

bool CliReporter::PrintResults(const std::vector<zb::PortResult>& results, bool json, bool files,
                               bool verify) {
    const std::lock_guard lock(mutex_);
    if (printed_) return false;
    printed_ = true;
    progress.Close();
    bool all_ok = true;
    for (const zb::PortResult& result : results) {
        if (!result.error.empty())
            std::fprintf(stderr, "zbctl: COM%d: %s\n", result.com, Printable(result.error).c_str());
        all_ok = all_ok && result.ok;
    }
    const zb::RunLabel* label = run != nullptr ? &run->label() : nullptr;
    // The JSON names the file an import or upgrade used too; the table, export's alone.
    const bool used_file = files || (run != nullptr && (run->command() == zb::RunCommand::Import ||
                                                        run->command() == zb::RunCommand::Upgrade));
    const std::string text =
        json ? RenderJson(results, used_file, verify, label) : RenderTable(results, files, all);
    std::fputs(text.c_str(), stdout);
    // On stderr, where it leaves the table's lines to the scripts that read them.
    if (show_run && label != nullptr) std::fprintf(stderr, "run %s\n", label->run_id.c_str());
    // A table its reader never got is no success.
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && all_ok;
}

void CliReporter::Seal() {
    const std::lock_guard lock(mutex_);
    printed_ = true;
}

zb::RunCommand RunCommandOf(Command command) {
    switch (command) {
        case Command::Apply:
            return zb::RunCommand::Apply;
        case Command::Import:
            return zb::RunCommand::Import;
        case Command::Upgrade:
            return zb::RunCommand::Upgrade;
        case Command::Export:
            return zb::RunCommand::Export;
        case Command::Read:
        case Command::Help:
        case Command::Version:
        case Command::Ports:
        case Command::Watch:
        case Command::ImageInfo:
            break;
    }
    return zb::RunCommand::Read;
}

namespace {

// The values were read and checked when the arguments were (CheckSets).
std::map<std::int32_t, zb::FieldValues> ValuesOf(const std::map<std::int32_t, Sets>& port_sets) {
    std::map<std::int32_t, zb::FieldValues> values;
    for (const auto& [com, sets] : port_sets) {
        zb::FieldValues& port = values[com];
        for (const Set& set : sets) port.push_back(*set.value);
    }
    return values;
}

zb::WriteMode WriteModeOf(const Invocation& inv) {
    if (inv.dry_run) return zb::WriteMode::DryRun;
    return inv.verify ? zb::WriteMode::Verify : zb::WriteMode::Write;
}

}  // namespace

void RunSequence(zb::PortRun& run, const Invocation& inv, const zb::ConfigSettings& import,
                 const std::map<std::int32_t, Sets>& port_sets) {
    if (run.command() == zb::RunCommand::Import) run.UseFile(inv.path);
    switch (inv.command) {
        case Command::Read:
            zb::ReadPorts(run);
            break;
        case Command::Apply:
            zb::ApplyValues(run, ValuesOf(port_sets), WriteModeOf(inv));
            break;
        case Command::Import:
            zb::ImportSettings(run, import, WriteModeOf(inv), ValuesOf(port_sets));
            break;
        case Command::Upgrade:
            zb::Upgrade(run, inv.path);
            break;
        case Command::Export:
            zb::Export(run, inv.path);
            break;
        case Command::Help:
        case Command::Version:
        case Command::Ports:
        case Command::Watch:
        case Command::ImageInfo:
            break;
    }
}

}  // namespace zbctl
