#include "jobs/run/port_result.h"

#include <cstdio>

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
    char note[64];
    if (image)
        std::snprintf(note, sizeof note, " (image 0x%x, modem 0x%x)", *image, modem);
    else
        std::snprintf(note, sizeof note, " (image none, modem 0x%x)", modem);
    message += note;
    return message;
}

}  // namespace zb
