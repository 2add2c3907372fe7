// The settings fields of a device record, one table row per field: where the field sits in
// the record, the range the configuration dialog offers, how the modem's get and set
// commands carry it, and how the window shows it. Whatever turns a field's value into wire,
// screen or text form, or back, goes through its row.
//
// The record's own encoding: value-table indexes, channel 0..15 for radio channels 11..26,
// databit 0 for 8 data bits. The accepted ranges are those the configuration dialog offers;
// read-only fields come from the device and are never written to it. Constant data and pure
// functions only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "jobs/model/port_table.h"
#include "protocol/param_commands.h"

namespace zb {

enum class FieldKind { Number, Text };

// The rows in the record's order; a row's id is its position.
enum class FieldId : std::uint8_t {
    FwType,
    Baud,
    Parity,
    Databit,
    Stopbit,
    Interface,
    Devtype,
    Topology,
    Channel,
    Outpower,
    Txmode,
    Panid,
    ParentAddr,
    ShortAddr,
    Lnodeid,
    Rnodeid,
    Security,
    Startbyte,
    Aeskey,
    FwVersion,
    Devname,
};

enum class DisplayForm {
    Decimal,  // the record value plus `offset`
    List,     // the text at the record value's index in `texts`
    Hex16,    // four upper-case hexadecimal digits of the low 16 bits
    Hex,      // upper-case hexadecimal digits, unpadded
    Text,     // a text field, as stored
};

struct FieldDisplay {
    DisplayForm form = DisplayForm::Decimal;
    std::int32_t offset = 0;
    std::span<const std::string_view> texts{};
};

using RecordMember = std::variant<std::uint32_t DeviceRecord::*, std::int32_t DeviceRecord::*,
                                  std::uint8_t DeviceRecord::*, bool DeviceRecord::*,
                                  std::array<char, kAesKeySize> DeviceRecord::*,
                                  std::array<char, kFwVersionSize> DeviceRecord::*,
                                  std::array<char, kDevnameSize> DeviceRecord::*>;

struct RecordField {
    FieldId id;
    std::string_view name;  // the record member's name
    FieldKind kind;
    bool writable;     // false: filled by the read step only
    std::int64_t min;  // Number: accepted range; Text: length range
    std::int64_t max;
    RecordMember member;
    // The modem's get and set commands carry the record value plus this.
    std::int32_t wire_offset;
    // What the modem's setter takes, in the modem's values; none for the fields without a
    // numeric setter.
    std::optional<SetRange> setter;
    FieldDisplay display;
};

// Every settings field, in the record's order.
std::span<const RecordField> RecordFields();
const RecordField& FieldOf(FieldId id);
const RecordField* FindRecordField(std::string_view name);

// The field's value in the record's encoding: numbers as they are stored (security 0 or 1),
// texts up to their terminator. A number field's text and a text field's number are empty
// and 0.
std::int64_t NumberOf(const DeviceRecord& record, const RecordField& field);
std::string TextFieldOf(const DeviceRecord& record, const RecordField& field);

// Parses `value` (decimal, or 0x-hexadecimal for numbers) and stores it. Refuses, with a
// message saying why and the record unchanged, a read-only field, a malformed number, a
// value outside the range, a device name too long or with a byte outside printable ASCII
// (0x20..0x7E, all the request frame carries), and an AES key that is not 32 hexadecimal
// digits.
bool SetRecordField(DeviceRecord& record, const RecordField& field, std::string_view value,
                    std::string* error);

// --- The modem's values ------------------------------------------------------------------

// What the set command carries for a number field: NumberOf plus the wire offset.
std::int64_t WireValueOf(const DeviceRecord& record, const RecordField& field);
// Stores what a get command read for a number field: `wire` less the wire offset, wrapped
// into the member's type. A device's value is kept as it came, never refused.
void StoreWireValue(DeviceRecord& record, const RecordField& field, std::int64_t wire);

// --- What the window shows ---------------------------------------------------------------

// The text the window shows for record value `value` of a number field: "20" for channel 9,
// "115200" for baud 16, "1A2B" for PAN ID 0x1A2B. std::nullopt for an index outside its
// value table (a device may report one), and for a text field.
std::optional<std::string> DisplayTextOf(const RecordField& field, std::int64_t value);
// The same for the record's value; a text field shows as stored.
std::optional<std::string> DisplayText(const DeviceRecord& record, const RecordField& field);
// The record value a display text of a number field stands for: a value table's text, case
// ignored; a decimal number as shown; hexadecimal digits, "0x" allowed before them.
// std::nullopt for anything else, for a value outside the field's range and for a text field.
std::optional<std::int64_t> ParseDisplayText(const RecordField& field, std::string_view text);
// SetRecordField for a display text: a number field takes what ParseDisplayText reads
// (refused otherwise, with the texts or the range the field takes: "channel must be 11 to
// 26, not 27", "parity must be one of None, Odd, Even, not Mark"); a text field is stored
// as SetRecordField stores it.
bool SetDisplayText(DeviceRecord& record, const RecordField& field, std::string_view text,
                    std::string* error);

// DisplayText, with a value outside the field's value table as "?<index>", so that every
// record has a text to print.
std::string ShownText(const DeviceRecord& record, const RecordField& field);
// Whether every text the field shows for a value of its table is a decimal number ("20",
// "115200", "-1.5"), so that machine-readable output may carry it as a number.
bool ShowsNumber(const RecordField& field);

// The name of a field whose value the modem's setters would refuse before sending it
// (their ranges, which are wider than the dialog's in places: databit 0..1), a device name
// with a byte outside printable ASCII, or with security on a key that is not 32 printable
// characters; empty when the whole record can be written. The apply step checks this
// before its first write, so that a record it cannot finish never starts.
std::string_view UnwritableField(const DeviceRecord& record);

}  // namespace zb
