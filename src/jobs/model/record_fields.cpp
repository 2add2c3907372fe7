#include "jobs/model/record_fields.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <type_traits>

#include "jobs/model/text_escape.h"

namespace zb {
namespace {

// Record channel 0 is radio channel 11; record databit 0 is 8 data bits.
constexpr std::int32_t kChannelOffset = 11;
constexpr std::int32_t kDatabitOffset = 8;

template <std::size_t N>
constexpr std::int64_t LastIndex(const std::array<std::string_view, N>&) {
    return static_cast<std::int64_t>(N) - 1;
}

template <std::size_t N>
constexpr FieldDisplay List(const std::array<std::string_view, N>& texts) {
    return {DisplayForm::List, 0, texts};
}

constexpr FieldDisplay Decimal(std::int32_t offset = 0) {
    return {DisplayForm::Decimal, offset, {}};
}

constexpr FieldDisplay kHex16{DisplayForm::Hex16, 0, {}};
constexpr FieldDisplay kHex{DisplayForm::Hex, 0, {}};
constexpr FieldDisplay kText{DisplayForm::Text, 0, {}};

constexpr auto kNumber = FieldKind::Number;
constexpr auto kTextField = FieldKind::Text;
using R = DeviceRecord;

constexpr std::array<RecordField, 21> kFields{{
    {FieldId::FwType, "fw_type", kNumber, false, 0, 0xFFFF, &R::fw_type, 0, std::nullopt,
     Decimal()},
    {FieldId::Baud, "baud", kNumber, true, 0, LastIndex(kBaudTexts), &R::baud, 0, BAUD_RANGE,
     List(kBaudTexts)},
    {FieldId::Parity, "parity", kNumber, true, 0, LastIndex(kParityTexts), &R::parity, 0,
     PARITY_RANGE, List(kParityTexts)},
    {FieldId::Databit, "databit", kNumber, true, 0, LastIndex(kDatabitTexts), &R::databit,
     kDatabitOffset, DATABIT_RANGE, List(kDatabitTexts)},
    // Shown as the number of stop bits, also for a value the list lacks.
    {FieldId::Stopbit, "stopbit", kNumber, true, 0, LastIndex(kStopbitTexts), &R::stopbit, 0,
     STOPBIT_RANGE, Decimal(1)},
    {FieldId::Interface, "interface", kNumber, true, 0, LastIndex(kInterfaceTexts), &R::interface,
     0, INTERFACE_RANGE, List(kInterfaceTexts)},
    {FieldId::Devtype, "devtype", kNumber, true, 0, LastIndex(kDevtypeTexts), &R::devtype, 0,
     DEVTYPE_RANGE, List(kDevtypeTexts)},
    {FieldId::Topology, "topology", kNumber, true, 0, LastIndex(kTopologyTexts), &R::topology, 0,
     TOPOLOGY_RANGE, List(kTopologyTexts)},
    // The dialog offers every channel the modem takes.
    {FieldId::Channel, "channel", kNumber, true, CHANNEL_RANGE.min - kChannelOffset,
     CHANNEL_RANGE.max - kChannelOffset, &R::channel, kChannelOffset, CHANNEL_RANGE,
     Decimal(kChannelOffset)},
    {FieldId::Outpower, "outpower", kNumber, true, 0, LastIndex(kOutpowerTexts), &R::outpower, 0,
     OUTPOWER_RANGE, List(kOutpowerTexts)},
    {FieldId::Txmode, "txmode", kNumber, true, 0, LastIndex(kTxmodeTexts), &R::txmode, 0,
     TXMODE_RANGE, List(kTxmodeTexts)},
    {FieldId::Panid, "panid", kNumber, true, 0, 0xFFFD, &R::panid, 0, PANID_RANGE, kHex16},
    {FieldId::ParentAddr, "parent_addr", kNumber, false, 0, 0xFFFF, &R::parent_addr, 0,
     std::nullopt, kHex16},
    {FieldId::ShortAddr, "short_addr", kNumber, false, 0, 0xFFFF, &R::short_addr, 0, std::nullopt,
     kHex16},
    {FieldId::Lnodeid, "lnodeid", kNumber, true, NODEID_RANGE.min, NODEID_RANGE.max, &R::lnodeid, 0,
     NODEID_RANGE, Decimal()},
    {FieldId::Rnodeid, "rnodeid", kNumber, true, NODEID_RANGE.min, NODEID_RANGE.max, &R::rnodeid, 0,
     NODEID_RANGE, Decimal()},
    {FieldId::Security, "security", kNumber, true, 0, LastIndex(kSecurityTexts), &R::security, 0,
     std::nullopt, List(kSecurityTexts)},
    {FieldId::Startbyte, "startbyte", kNumber, true, STARTBYTE_RANGE.min, STARTBYTE_RANGE.max,
     &R::startbyte, 0, STARTBYTE_RANGE, kHex},
    {FieldId::Aeskey, "aeskey", kTextField, true, kAesKeySize - 1, kAesKeySize - 1, &R::aeskey, 0,
     std::nullopt, kText},
    {FieldId::FwVersion, "fw_version", kTextField, false, 0, kFwVersionSize - 1, &R::fw_version, 0,
     std::nullopt, kText},
    {FieldId::Devname, "devname", kTextField, true, 0, kDevnameSize - 1, &R::devname, 0,
     std::nullopt, kText},
}};

constexpr bool IdsArePositions() {
    for (std::size_t i = 0; i < kFields.size(); ++i)
        if (static_cast<std::size_t>(kFields[i].id) != i) return false;
    return true;
}
static_assert(IdsArePositions());

// The integer member's value; 0 for a text member.
template <class T>
std::int64_t Number(const T& member) {
    if constexpr (std::is_integral_v<T>)
        return static_cast<std::int64_t>(member);
    else
        return 0;
}

// Stores `value` wrapped into an integer member's type; a text member is left alone.
void StoreNumber(DeviceRecord& r, const RecordField& field, std::int64_t value) {
    std::visit(
        [&r, value](auto member) {
            using T = std::remove_cvref_t<decltype(r.*member)>;
            if constexpr (std::is_same_v<T, bool>)
                r.*member = value != 0;
            else if constexpr (std::is_integral_v<T>)
                r.*member = static_cast<T>(value);
        },
        field.member);
}

void StoreText(DeviceRecord& r, const RecordField& field, std::string_view text) {
    std::visit(
        [&r, text](auto member) {
            using T = std::remove_cvref_t<decltype(r.*member)>;
            if constexpr (!std::is_integral_v<T>) SetText(r.*member, text);
        },
        field.member);
}

// Digits of `base` only, at most twelve of them: no sign, no blanks, nothing around them.
std::optional<std::int64_t> ParseDigits(std::string_view text, int base) {
    if (text.empty() || text.size() > 12 || text[0] == '-' || text[0] == '+') return std::nullopt;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool HasHexPrefix(std::string_view text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// Decimal or 0x-hexadecimal, nothing else around it.
bool ParseNumber(std::string_view text, std::int64_t* out) {
    const bool hex = HasHexPrefix(text);
    const auto value = ParseDigits(hex ? text.substr(2) : text, hex ? 16 : 10);
    if (!value) return false;
    *out = *value;
    return true;
}

std::string HexDigits(std::uint64_t value, std::size_t width) {
    char buf[24];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, 16);
    std::string text(buf, end);
    for (char& c : text)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (text.size() < width) text.insert(0, width - text.size(), '0');
    return text;
}

// "-1.5", "115200": an optional minus, digits, and a fraction after a point.
bool IsDecimalNumber(std::string_view text) {
    if (!text.empty() && text[0] == '-') text.remove_prefix(1);
    const std::size_t point = text.find('.');
    const auto digits = [](std::string_view d) {
        return !d.empty() &&
               std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return point == std::string_view::npos
               ? digits(text)
               : digits(text.substr(0, point)) && digits(text.substr(point + 1));
}

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// What a request frame carries unchanged: the frame ends at a newline and the modem reads
// its data as ASCII text.
bool IsFrameChar(char c) {
    return c >= 0x20 && c <= 0x7E;
}

bool IsFrameText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), IsFrameChar);
}

std::string Describe(const RecordField& field) {
    return std::to_string(field.min) + " to " + std::to_string(field.max);
}

// The display texts a number field takes, for a refusal.
std::string DescribeDisplay(const RecordField& field) {
    if (field.display.form != DisplayForm::List)
        return DisplayTextOf(field, field.min).value_or("") + " to " +
               DisplayTextOf(field, field.max).value_or("");
    std::string texts = "one of ";
    for (std::int64_t v = field.min; v <= field.max; ++v)
        texts += (v == field.min ? "" : ", ") + DisplayTextOf(field, v).value_or("");
    return texts;
}

bool Refuse(std::string* error, std::string text) {
    if (error != nullptr) *error = std::move(text);
    return false;
}

}  // namespace

std::span<const RecordField> RecordFields() {
    return kFields;
}

const RecordField& FieldOf(FieldId id) {
    return kFields[static_cast<std::size_t>(id)];
}

const RecordField* FindRecordField(std::string_view name) {
    for (const RecordField& field : kFields)
        if (field.name == name) return &field;
    return nullptr;
}

std::int64_t NumberOf(const DeviceRecord& r, const RecordField& field) {
    return std::visit([&r](auto member) { return Number(r.*member); }, field.member);
}

std::string TextFieldOf(const DeviceRecord& r, const RecordField& field) {
    return std::visit(
        [&r](auto member) {
            using T = std::remove_cvref_t<decltype(r.*member)>;
            if constexpr (std::is_integral_v<T>)
                return std::string();
            else
                return std::string(TextOf(r.*member));
        },
        field.member);
}

bool SetRecordField(DeviceRecord& r, const RecordField& field, std::string_view value,
                    std::string* error) {
    const std::string name(field.name);
    if (!field.writable) return Refuse(error, name + " is read from the device and cannot be set");

    if (field.kind == FieldKind::Text) {
        const auto length = static_cast<std::int64_t>(value.size());
        if (field.id == FieldId::Aeskey) {
            if (length != field.max)
                return Refuse(error, "aeskey must be exactly 32 hexadecimal digits, not " +
                                         std::to_string(length) + " characters");
            for (char c : value)
                if (!IsHex(c)) return Refuse(error, "aeskey must be 32 hexadecimal digits");
            StoreText(r, field, value);
            return true;
        }
        if (length > field.max)
            return Refuse(error, name + " is at most " + std::to_string(field.max) +
                                     " characters, not " + std::to_string(length));
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (IsFrameChar(value[i])) continue;
            char byte[8];
            std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(value[i]));
            return Refuse(error, name + " must be printable ASCII (0x20 to 0x7E); byte " +
                                     std::to_string(i + 1) + " is " + byte);
        }
        StoreText(r, field, value);
        return true;
    }

    std::int64_t v = 0;
    if (!ParseNumber(value, &v))
        return Refuse(error, name + " needs a number (decimal or 0x-hexadecimal), not \"" +
                                 std::string(value) + "\"");
    if (v < field.min || v > field.max)
        return Refuse(error, name + " must be " + Describe(field) + ", not " + std::string(value));
    StoreNumber(r, field, v);
    return true;
}

std::int64_t WireValueOf(const DeviceRecord& record, const RecordField& field) {
    return NumberOf(record, field) + field.wire_offset;
}

void StoreWireValue(DeviceRecord& record, const RecordField& field, std::int64_t wire) {
    StoreNumber(record, field, wire - field.wire_offset);
}

std::optional<std::string> DisplayTextOf(const RecordField& field, std::int64_t value) {
    const FieldDisplay& shown = field.display;
    switch (shown.form) {
        case DisplayForm::Decimal:
            return std::to_string(value + shown.offset);
        case DisplayForm::List:
            if (value < 0 || static_cast<std::uint64_t>(value) >= shown.texts.size())
                return std::nullopt;
            return std::string(shown.texts[static_cast<std::size_t>(value)]);
        case DisplayForm::Hex16:
            return HexDigits(static_cast<std::uint64_t>(value) & 0xFFFFu, 4);
        case DisplayForm::Hex:
            return HexDigits(static_cast<std::uint64_t>(value), 1);
        case DisplayForm::Text:
            break;
    }
    return std::nullopt;
}

std::optional<std::string> DisplayText(const DeviceRecord& record, const RecordField& field) {
    if (field.kind == FieldKind::Text) return TextFieldOf(record, field);
    return DisplayTextOf(field, NumberOf(record, field));
}

std::optional<std::int64_t> ParseDisplayText(const RecordField& field, std::string_view text) {
    const FieldDisplay& shown = field.display;
    std::optional<std::int64_t> value;
    switch (shown.form) {
        case DisplayForm::Decimal:
            value = ParseDigits(text, 10);
            if (value) *value -= shown.offset;
            break;
        case DisplayForm::List:
            for (std::size_t i = 0; i < shown.texts.size(); ++i)
                if (SameIgnoringCase(shown.texts[i], text)) value = static_cast<std::int64_t>(i);
            break;
        case DisplayForm::Hex16:
        case DisplayForm::Hex:
            value = ParseDigits(HasHexPrefix(text) ? text.substr(2) : text, 16);
            break;
        case DisplayForm::Text:
            break;
    }
    if (!value || *value < field.min || *value > field.max) return std::nullopt;
    return value;
}

bool SetDisplayText(DeviceRecord& record, const RecordField& field, std::string_view text,
                    std::string* error) {
    if (field.kind == FieldKind::Text) return SetRecordField(record, field, text, error);
    const std::string name(field.name);
    if (!field.writable) return Refuse(error, name + " is read from the device and cannot be set");
    const auto value = ParseDisplayText(field, text);
    if (!value)
        return Refuse(error,
                      name + " must be " + DescribeDisplay(field) + ", not " + std::string(text));
    StoreNumber(record, field, *value);
    return true;
}

std::string ShownText(const DeviceRecord& record, const RecordField& field) {
    if (auto text = DisplayText(record, field)) return *std::move(text);
    return "?" + std::to_string(NumberOf(record, field));
}

bool ShowsNumber(const RecordField& field) {
    switch (field.display.form) {
        case DisplayForm::Decimal:
            return true;
        case DisplayForm::List:
            return std::all_of(field.display.texts.begin(), field.display.texts.end(),
                               IsDecimalNumber);
        case DisplayForm::Hex16:
        case DisplayForm::Hex:
        case DisplayForm::Text:
            break;
    }
    return false;
}

std::string_view UnwritableField(const DeviceRecord& r) {
    for (const RecordField& field : kFields) {
        if (!field.setter) continue;
        const std::int64_t wire = WireValueOf(r, field);
        if (wire < field.setter->min || wire > field.setter->max) return field.name;
    }
    const std::string_view devname = TextOf(r.devname);
    if (devname.size() > DEVNAME_MAX || !IsFrameText(devname)) return "devname";
    const std::string_view key = TextOf(r.aeskey);
    if (r.security && (key.size() != AES_KEY_LEN || !IsFrameText(key))) return "aeskey";
    return {};
}

}  // namespace zb
