// The settings fields of a device record by name, for tools that read or write records
// as text (zbctl, configuration files).
//
// Values are in the record's own encoding: value-table indexes, channel 0..15 for radio
// channels 11..26, databit 0 for 8 data bits. The accepted ranges are those the
// configuration dialog offers; read-only fields come from the device and are never
// written to it. Constant data and pure functions only.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "jobs/port_table.h"

namespace zb {

enum class FieldKind { Number, Text };

struct RecordField {
    std::string_view name;  // the record member's name
    FieldKind kind;
    bool writable;     // false: filled by the read step only
    std::int64_t min;  // Number: accepted range; Text: length range
    std::int64_t max;
};

// Every settings field, in the record's order.
std::span<const RecordField> RecordFields();
const RecordField* FindRecordField(std::string_view name);

// The field's value: numbers as decimal digits, texts as stored.
std::int64_t NumberOf(const DeviceRecord& record, const RecordField& field);
std::string TextFieldOf(const DeviceRecord& record, const RecordField& field);

// Parses `value` (decimal, or 0x-hexadecimal for numbers) and stores it. Refuses, with a
// message saying why and the record unchanged, a read-only field, a malformed number, a
// value outside the range, a device name too long or with a byte outside printable ASCII
// (0x20..0x7E, all the request frame carries), and an AES key that is not 32 hexadecimal
// digits.
bool SetRecordField(DeviceRecord& record, const RecordField& field, std::string_view value,
                    std::string* error);

// The name of a field whose value the modem's setters would refuse before sending it
// (their ranges, which are wider than the dialog's in places: databit 0..1), a device name
// with a byte outside printable ASCII, or with security on a key that is not 32 printable
// characters; empty when the whole record can be written. The apply step checks this
// before its first write, so that a record it cannot finish never starts.
std::string_view UnwritableField(const DeviceRecord& record);

}  // namespace zb
