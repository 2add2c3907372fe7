// The settings fields of a device record, one table row per field: where the field sits in
// the record, the range the configuration dialog offers, how the modem's get and set
// commands carry it, where a configuration file keeps it, how the window shows it and what a
// new port starts with. Whatever turns a field's value into wire, file, screen or text form,
// or back, goes through its row; a new field is a record member and a row.
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
#include "jobs/model/result.h"
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

// When the device list's cell shows the value; "N/A" otherwise.
enum class ListShows {
    Always,
    Coordinator,             // the device is a coordinator
    UnlessTransparentCoord,  // not a coordinator in Transparent mode
};

struct FieldDisplay {
    DisplayForm form = DisplayForm::Decimal;
    std::int32_t offset = 0;
    std::span<const std::string_view> texts{};
    int column = 0;           // the device list's column (its heading's string id); 0: not listed
    bool hex_prefix = false;  // the list writes "0x" before the text
    ListShows shows = ListShows::Always;
};

// How the modem's get and set commands carry a field.
enum class WireForm {
    None,         // no command of its own (the key travels with security)
    Number,       // a number: the record value plus wire_offset
    Text,         // a text payload
    SecurityKey,  // the flag character '0' or '1', then (when on) the key's characters
};

// The modem's commands for one field, on the link's device address 0.
using NumberGetter = std::int32_t (*)(ComHandle link, std::int32_t* value);
using NumberSetter = std::int32_t (*)(ComHandle link, std::int32_t value);
using TextGetter = std::int32_t (*)(ComHandle link, char* out, std::size_t cap);
// SecurityKey: the key, or nullptr for security off.
using TextSetter = std::int32_t (*)(ComHandle link, const char* text);

struct FieldCommands {
    WireForm form = WireForm::None;
    NumberGetter get_number = nullptr;
    NumberSetter set_number = nullptr;
    TextGetter get_text = nullptr;
    TextSetter set_text = nullptr;
    int read_order = 0;   // 1..: its place among the read step's reads; 0: not read
    int write_order = 0;  // 1..: its place among the apply step's writes; 0: not written
};

// How a configuration file writes a field and reads it back.
enum class FileForm {
    None,   // not in the file
    Index,  // decimal record value, within the offered range
    Count,  // decimal modem value (the record value plus wire_offset)
    Hex,    // "0x" and `digits` lower-case hexadecimal digits
    Text,   // printable ASCII, not "0"
    Flag,   // a whole number, 0 for off; missing is off
    Key,    // 32 hexadecimal digits, or empty while the flag before it is off
};

struct FileKey {
    FileForm form = FileForm::None;
    std::string_view section;
    std::string_view key;
    int order = 0;     // 1..: its place in a written file
    bool read = true;  // false: written, never taken from a file
    int digits = 0;    // Hex
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
    std::int32_t wire_offset = 0;
    // What the modem's setter takes, in the modem's values; none for the fields without a
    // numeric setter.
    std::optional<SetRange> setter{};
    FieldDisplay display{};
    FieldCommands commands{};
    FileKey file{};
    // A new port's value, in the record's encoding.
    std::int64_t initial = 0;
};

// Every settings field, in the record's order.
std::span<const RecordField> RecordFields();
const RecordField& FieldOf(FieldId id);
// The field called `name`, in any case (--set Channel=12); nullptr when there is none.
const RecordField* FindRecordField(std::string_view name);
// The fields the read step reads, the apply step writes and a configuration file holds,
// each in its own order.
std::span<const RecordField* const> FieldsRead();
std::span<const RecordField* const> FieldsWritten();
std::span<const RecordField* const> FieldsInFile();
// The field the device list shows in column `column`, or nullptr.
const RecordField* FieldOfColumn(int column);

// Gives a record every field's initial value (115200 baud, output power "1", the rest zero).
void SetInitialValues(DeviceRecord& record);
// Copies one field's value from `from` to `to`.
void CopyField(DeviceRecord& to, const DeviceRecord& from, const RecordField& field);

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
Status SetRecordField(DeviceRecord& record, const RecordField& field, std::string_view value);

// One field's value, read once from what a user gave, to be stored in any number of records.
struct FieldValue {
    FieldId field = FieldId::FwType;
    std::int64_t number = 0;  // a number field's value in the record's encoding
    std::string text;         // a text field's value
};
// Stores the value in its field (a text cut to the field's size).
void StoreValue(DeviceRecord& record, const FieldValue& value);

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
// The value a display text stands for: a number field takes what ParseDisplayText reads
// (refused otherwise, with the texts or the range the field takes: "channel must be 11 to
// 26, not 27", "parity must be one of None, Odd, Even, not Mark"); a text field takes what
// SetRecordField takes. Read-only fields are refused.
Result<FieldValue> ReadDisplayText(const RecordField& field, std::string_view text);
// ReadDisplayText, then StoreValue on success; the record is unchanged on a refusal.
Status SetDisplayText(DeviceRecord& record, const RecordField& field, std::string_view text);

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
