// The read-settings and apply-settings steps.
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "jobs/engine/pause.h"
#include "jobs/engine/steps.h"
#include "jobs/model/record_fields.h"
#include "protocol/param_commands.h"

namespace zb {
namespace {

// What one read delivered, in the modem's form.
struct ReadValue {
    std::int32_t number = 0;
    char text[PAYLOAD_BUF_SIZE]{};
};

// Text out of a payload buffer, never past its end even if a terminator were missing.
std::string_view Payload(const char (&buf)[PAYLOAD_BUF_SIZE]) {
    return {buf, strnlen(buf, PAYLOAD_BUF_SIZE)};
}

std::int32_t Read(ComHandle link, const RecordField& field, ReadValue& value) {
    if (field.commands.form == WireForm::Number)
        return field.commands.get_number(link, &value.number);
    return field.commands.get_text(link, value.text, sizeof value.text);
}

void Store(DeviceRecord& record, const RecordField& field, const ReadValue& value) {
    const std::string_view text = Payload(value.text);
    switch (field.commands.form) {
        case WireForm::Number:
            // Stored as it comes: a value the record's encoding cannot hold wraps rather
            // than fails.
            StoreWireValue(record, field, value.number);
            break;
        case WireForm::Text:
            StoreValue(record, {field.id, 0, std::string(text)});
            break;
        case WireForm::SecurityKey:
            // The first character is the flag; with security off the device sends no key and
            // the stored one is kept. Only an explicit "0" means off: reading an empty answer
            // as off would let the next apply switch the device's encryption off unasked.
            if (!text.empty() && text[0] == '0') {
                record.security = false;
            } else {
                record.security = true;
                SetText(record.aeskey, text.empty() ? text : text.substr(1, AES_KEY_LEN));
            }
            break;
        case WireForm::None:
            break;
    }
}

// Taken as bounded strings: a text field written by hand may lack its terminator.
std::int32_t Write(ComHandle link, const RecordField& field, const DeviceRecord& record) {
    switch (field.commands.form) {
        case WireForm::Number:
            // Within the setters' ranges once UnwritableField has passed.
            return field.commands.set_number(link,
                                             static_cast<std::int32_t>(WireValueOf(record, field)));
        case WireForm::Text:
            return field.commands.set_text(link, TextFieldOf(record, field).c_str());
        case WireForm::SecurityKey: {
            const std::string key(TextOf(record.aeskey));
            return field.commands.set_text(link, record.security ? key.c_str() : nullptr);
        }
        case WireForm::None:
            break;
    }
    return ST_OK;
}

}  // namespace

void ReadSettingsStep(JobContext& job, DeviceRecord& record) {
    const ComHandle link = record.link;
    const std::span<const RecordField* const> fields = FieldsRead();
    // Kept apart until the last read, so that a failed read changes nothing.
    std::vector<ReadValue> values(fields.size());
    job.BarSetMax(record, static_cast<std::uint32_t>(fields.size()));
    job.SetPortMessage(record, kReadingMessage);
    JobPause();

    for (std::size_t i = 0; i < fields.size(); ++i) {
        // Nothing is stored before the last read, so a stop may end the step between two.
        if (job.StopRequested()) {
            job.ReportFailure(record, "User abort", FailCounters::Fail);
            return;
        }
        if (Read(link, *fields[i], values[i]) != ST_OK) {
            job.FailPort(record, "Get settings fail", FailCounters::Fail);
            return;
        }
        job.BarStep(record);
    }
    for (std::size_t i = 0; i < fields.size(); ++i) Store(record, *fields[i], values[i]);
    JobPause();
}

void ApplySettingsStep(JobContext& job, DeviceRecord& record) {
    const ComHandle link = record.link;
    const std::span<const RecordField* const> fields = FieldsWritten();
    job.BarSetMax(record, static_cast<std::uint32_t>(fields.size()));
    job.SetPortMessage(record, kApplyingMessage);
    JobPause();
    // A value a setter would refuse, found only at its own write, would leave the writes
    // before it in the modem without the restart.
    if (!UnwritableField(record).empty()) {
        job.FailPort(record, "Apply settings fail.", FailCounters::ApplyFail);
        return;
    }

    // A stop is honoured before the first write or after the restart, never in between: a
    // modem left with some of the writes and no restart would hold a mix of old and new.
    if (!job.BeginWrites()) {
        job.ReportFailure(record, "User abort", FailCounters::ApplyFail);
        return;
    }
    // Every value is sent whatever the device type and mode.
    bool ok = true;
    for (std::size_t i = 0; i < fields.size() && ok; ++i) {
        ok = Write(link, *fields[i], record) == ST_OK;
        if (ok) job.BarStep(record);
    }
    if (ok) {
        JobPause();
        ok = dev_system_reset(link, 0, 1) == ST_OK;
    }
    job.EndWrites();
    if (!ok) job.FailPort(record, "Apply settings fail.", FailCounters::ApplyFail);
}

}  // namespace zb
