#include "jobs/run/port_result.h"

#include "jobs/engine/firmware_image.h"

namespace zb {

PortResult ResultOf(const PortOutcome& outcome, const DeviceRecord& record) {
    PortResult result;
    result.com = outcome.com;
    result.ok = outcome.ok;
    result.failure = outcome.ok ? FailureKind::None : outcome.failure;
    result.message = outcome.message;
    const std::string_view note = TextOf(record.open_note);
    if (result.failure == FailureKind::OpenFailed && !note.empty())
        result.message += " (" + std::string(note) + ")";
    result.error = std::string(TextOf(record.open_error));
    result.holder_pid = record.holder_pid;
    result.holder_name = std::string(TextOf(record.holder_name));
    result.record = record;
    result.updated = outcome.updated;
    return result;
}

std::string WithFirmwareTypes(std::string message, std::optional<std::uint32_t> image,
                              std::uint32_t modem) {
    message += " (image " + (image ? FirmwareTypeText(*image) : "none") + ", modem " +
               FirmwareTypeText(modem) + ")";
    return message;
}

ReportRow PortReportRow(const PortResult& result, const DeviceRecord& record,
                        const RowContext& context) {
    ReportRow row;
    row.time = result.updated != std::chrono::system_clock::time_point{}
                   ? ReportTime(result.updated)
                   : context.time;
    if (context.label != nullptr) {
        row.run_id = context.label->run_id;
        row.tags = context.label->tags;
    }
    row.com = result.com;
    row.device = result.device;
    row.port_id = result.port_id;
    row.command = std::string(context.command);
    row.attempt = context.attempt;
    row.ok = result.ok;
    row.message = result.message;
    // A report is read long after the run: an open failure without an operator's note
    // keeps the system's reason ("No such file or directory"), which the screen shows
    // elsewhere.
    if (result.failure == FailureKind::OpenFailed && TextOf(record.open_note).empty() &&
        !TextOf(record.open_error).empty())
        row.message += ": " + std::string(TextOf(record.open_error));
    if (context.command == "upgrade") {
        row.fw_before = context.fw_before;
        if (context.device_read) row.fw_after = std::string(TextOf(record.fw_version));
    }
    if (context.device_read)
        row.settings = ReportSettings(record);
    else if (context.read_before != nullptr)
        row.settings = ReportSettings(*context.read_before);
    if (result.verified) {
        row.verified = true;
        row.verify_ok = result.verify_ok;
        row.diffs = result.diffs;
    }
    row.file = result.file;
    row.file_sha256 = result.file_sha256;
    return row;
}

}  // namespace zb
