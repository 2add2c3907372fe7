#include "jobs/model/record_fields.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <type_traits>

#include "jobs/model/text_escape.h"
#include "protocol/status.h"

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
constexpr FieldDisplay List(const std::array<std::string_view, N>& texts, int column,
                            ListShows shows = ListShows::Always) {
    return {DisplayForm::List, 0, texts, column, false, shows};
}

constexpr FieldDisplay Decimal(std::int32_t offset = 0, int column = 0,
                               ListShows shows = ListShows::Always) {
    return {DisplayForm::Decimal, offset, {}, column, false, shows};
}

// The device list writes these with a 0x prefix.
constexpr FieldDisplay Hex16(int column) {
    return {DisplayForm::Hex16, 0, {}, column, true};
}

constexpr FieldDisplay kHex{DisplayForm::Hex, 0, {}};
constexpr FieldDisplay kText{DisplayForm::Text, 0, {}};

constexpr FieldDisplay Listed(FieldDisplay display, int column) {
    display.column = column;
    return display;
}

constexpr auto kNumber = FieldKind::Number;
constexpr auto kTextField = FieldKind::Text;
using R = DeviceRecord;

// The modem's commands on device address 0, in the table's uniform shapes.
template <std::int32_t (*Get)(ComHandle, std::int32_t, std::int32_t*)>
std::int32_t GetNumber(ComHandle link, std::int32_t* value) {
    return Get(link, 0, value);
}
template <std::int32_t (*Set)(ComHandle, std::int32_t, std::int32_t)>
std::int32_t SetNumber(ComHandle link, std::int32_t value) {
    return Set(link, 0, value);
}
template <std::int32_t (*Get)(ComHandle, std::int32_t, char*, std::size_t)>
std::int32_t GetText(ComHandle link, char* out, std::size_t cap) {
    return Get(link, 0, out, cap);
}
template <std::uint8_t kSelector>
std::int32_t GetNodeid(ComHandle link, std::int32_t* value) {
    return dev_get_nodeid(link, 0, kSelector, value);
}
template <std::uint8_t kSelector>
std::int32_t SetNodeid(ComHandle link, std::int32_t value) {
    return dev_set_nodeid(link, 0, kSelector, value);
}
std::int32_t GetShortAddr(ComHandle link, std::int32_t* value) {
    return dev_get_node_addr(link, 0, 0, value);
}
std::int32_t GetStartbyte(ComHandle link, std::int32_t* value) {
    std::uint8_t byte = 0;
    const std::int32_t st = dev_get_startbyte(link, 0, &byte);
    if (st == ST_OK) *value = byte;
    return st;
}
std::int32_t SetStartbyte(ComHandle link, std::int32_t value) {
    return dev_set_startbyte(link, 0, static_cast<std::uint8_t>(value));
}
std::int32_t SetDevname(ComHandle link, const char* name) {
    return dev_set_devname(link, 0, name);
}
std::int32_t SetSecurity(ComHandle link, const char* key) {
    return key != nullptr ? dev_set_security(link, 0, '1', key)
                          : dev_set_security(link, 0, '0', nullptr);
}

constexpr FieldCommands NumberCommands(NumberGetter get, NumberSetter set, int read, int write) {
    return {WireForm::Number, get, set, nullptr, nullptr, read, write};
}
constexpr FieldCommands TextCommands(TextGetter get, TextSetter set, int read, int write) {
    return {WireForm::Text, nullptr, nullptr, get, set, read, write};
}

constexpr FileKey SerialKey(FileForm form, std::string_view key, int order) {
    return {form, "Serial", key, order};
}
constexpr FileKey ZigBeeKey(FileForm form, std::string_view key, int order, int digits = 0) {
    return {form, "ZigBee", key, order, true, digits};
}

template <std::size_t N>
constexpr std::int64_t IndexOf(const std::array<std::string_view, N>& texts,
                               std::string_view text) {
    for (std::size_t i = 0; i < N; ++i)
        if (texts[i] == text) return static_cast<std::int64_t>(i);
    throw "no such text";  // only ever evaluated at compile time
}

constexpr auto kIndex = FileForm::Index;

constexpr std::array<RecordField, 21> kFields{{
    {.id = FieldId::FwType,
     .name = "fw_type",
     .kind = kNumber,
     .writable = false,
     .min = 0,
     .max = 0xFFFF,
     .member = &R::fw_type,
     .display = Decimal(),
     .commands = NumberCommands(GetNumber<dev_get_fw_type>, nullptr, 6, 0)},
    {.id = FieldId::Baud,
     .name = "baud",
     .kind = kNumber,
     .writable = true,
     .min = 0,
     .max = LastIndex(kBaudTexts),
     .member = &R::baud,
     .setter = BAUD_RANGE,
     .display = List(kBaudTexts, 615),
     .commands = NumberCommands(GetNumber<dev_get_baud>, SetNumber<dev_set_baud>, 1, 1),
     .file = SerialKey(kIndex, "Baud Rate", 1),
     .initial = IndexOf(kBaudTexts, "115200")},
    {.id = FieldId::Parity,
     .name = "parity",
     .kind = kNumber,
     .writable = true,
     .min = 0,
     .max = LastIndex(kParityTexts),
     .member = &R::parity,
     .setter = PARITY_RANGE,
     .display = List(kParityTexts, 616),
     .commands = NumberCommands(GetNumber<dev_get_parity>, SetNumber<dev_set_parity>, 4, 4),
     .file = SerialKey(kIndex, "Parity", 2)},
    // The configuration file counts data bits, as the modem does.
    {.id = FieldId::Databit,
     .name = "databit",
     .kind = kNumber,
     .writable = true,
     .min = 0,
     .max = LastIndex(kDatabitTexts),
     .member = &R::databit,
     .wire_offset = kDatabitOffset,
     .setter = DATABIT_RANGE,
     .display = List(kDatabitTexts, 617),
     .commands = NumberCommands(GetNumber<dev_get_databit>, SetNumber<dev_set_databit>, 2, 2),
     .file = SerialKey(FileForm::Count, "Data Bit", 3)},
    // Shown as the number of stop bits, also for a value the list lacks.
    {.id = FieldId::Stopbit,
     .name = "stopbit",
     .kind = kNumber,
     .writable = true,
     .min = 0,
     .max = LastIndex(kStopbitTexts),
     .member = &R::stopbit,
     .setter = STOPBIT_RANGE,
     .display = Decimal(1, 618),
     .commands = NumberCommands(GetNumber<dev_get_stopbit>, SetNumber<dev_set_stopbit>, 3, 3),
     .file = SerialKey(kIndex, "Stop Bit", 4)},
    {.id = FieldId::Interface,
     .name = "interface",
     .kind = kNumber,
     .writable = true,
     .min = 0,
     .max = LastIndex(kInterfaceTexts),
     .member = &R::interface,
     .setter = INTERFACE_RANGE,
     .display = List(kInterfaceTexts, 620),
     .commands = NumberCommands(GetNumber<dev_get_interface>, SetNumber<dev_set_interface>, 5, 5),
     .file = SerialKey(kIndex, "Interface", 5)},
    {.id = FieldId::Devtype,
     .name = "devtype",
     .kind = kNumber,
     .writable = true,
     .min = 0,
     .max = LastIndex(kDevtypeTexts),
     .member = &R::devtype,
     .setter = DEVTYPE_RANGE,
     .display = List(kDevtypeTexts, 622),
     .commands = NumberCommands(GetNumber<dev_get_devtype>, SetNumber<dev_set_devtype>, 9, 8),
     .file = ZigBeeKey(kIndex, "Device Type", 7)},
    {.id = FieldId::Topology,
     .name = "topology",
     .kind = kNumber,
     .writable = true,
     .min = 0,
     .max = LastIndex(kTopologyTexts),
     .member = &R::topology,
     .setter = TOPOLOGY_RANGE,
     .display = List(kTopologyTexts, 623),
     .commands = NumberCommands(GetNumber<dev_get_topology>, SetNumber<dev_set_topology>, 12, 13),
     .file = ZigBeeKey(kIndex, "Topology", 13)},
    // The dialog offers every channel the modem takes.
    {.id = FieldId::Channel,
     .name = "channel",
     .kind = kNumber,
     .writable = true,
     .min = CHANNEL_RANGE.min - kChannelOffset,
     .max = CHANNEL_RANGE.max - kChannelOffset,
     .member = &R::channel,
     .wire_offset = kChannelOffset,
     .setter = CHANNEL_RANGE,
     .display = Decimal(kChannelOffset, 629),
     .commands = NumberCommands(GetNumber<dev_get_channel>, SetNumber<dev_set_channel>, 8, 7),
     .file = ZigBeeKey(kIndex, "Channel", 11)},
    {.id = FieldId::Outpower,
     .name = "outpower",
     .kind = kNumber,
     .writable = true,
     .min = 0,
     .max = LastIndex(kOutpowerTexts),
     .member = &R::outpower,
     .setter = OUTPOWER_RANGE,
     .display = List(kOutpowerTexts, 630),
     .commands = NumberCommands(GetNumber<dev_get_outpower>, SetNumber<dev_set_outpower>, 11, 12),
     .file = ZigBeeKey(kIndex, "Output Power", 12),
     .initial = IndexOf(kOutpowerTexts, "1")},
    {.id = FieldId::Txmode,
     .name = "txmode",
     .kind = kNumber,
     .writable = true,
     .min = 0,
     .max = LastIndex(kTxmodeTexts),
     .member = &R::txmode,
     .setter = TXMODE_RANGE,
     .display = List(kTxmodeTexts, 624, ListShows::Coordinator),
     .commands = NumberCommands(GetNumber<dev_get_txmode>, SetNumber<dev_set_txmode>, 13, 14),
     .file = ZigBeeKey(kIndex, "Mode", 14)},
    {.id = FieldId::Panid,
     .name = "panid",
     .kind = kNumber,
     .writable = true,
     .min = 0,
     .max = 0xFFFD,
     .member = &R::panid,
     .setter = PANID_RANGE,
     .display = Hex16(625),
     .commands = NumberCommands(GetNumber<dev_get_panid>, SetNumber<dev_set_panid>, 10, 11),
     .file = ZigBeeKey(FileForm::Hex, "PAN ID", 10, 4)},
    {.id = FieldId::ParentAddr,
     .name = "parent_addr",
     .kind = kNumber,
     .writable = false,
     .min = 0,
     .max = 0xFFFF,
     .member = &R::parent_addr,
     .display = Hex16(626),
     .commands = NumberCommands(GetNumber<dev_get_parent_addr>, nullptr, 14, 0)},
    {.id = FieldId::ShortAddr,
     .name = "short_addr",
     .kind = kNumber,
     .writable = false,
     .min = 0,
     .max = 0xFFFF,
     .member = &R::short_addr,
     .display = Hex16(627),
     .commands = NumberCommands(GetShortAddr, nullptr, 15, 0)},
    // Each record keeps its own local node ID: a file gives one to every selected port.
    {.id = FieldId::Lnodeid,
     .name = "lnodeid",
     .kind = kNumber,
     .writable = true,
     .min = NODEID_RANGE.min,
     .max = NODEID_RANGE.max,
     .member = &R::lnodeid,
     .setter = NODEID_RANGE,
     .display = Decimal(0, 628, ListShows::UnlessTransparentCoord),
     .commands = NumberCommands(GetNodeid<0>, SetNodeid<0>, 16, 9),
     .file = {kIndex, "ZigBee", "Local Node ID", 8, false}},
    {.id = FieldId::Rnodeid,
     .name = "rnodeid",
     .kind = kNumber,
     .writable = true,
     .min = NODEID_RANGE.min,
     .max = NODEID_RANGE.max,
     .member = &R::rnodeid,
     .setter = NODEID_RANGE,
     .display = Decimal(),
     .commands = NumberCommands(GetNodeid<1>, SetNodeid<1>, 17, 10),
     .file = ZigBeeKey(kIndex, "Destination Node ID", 9)},
    // Read and written with its key.
    {.id = FieldId::Security,
     .name = "security",
     .kind = kNumber,
     .writable = true,
     .min = 0,
     .max = LastIndex(kSecurityTexts),
     .member = &R::security,
     .display = List(kSecurityTexts, 631),
     .commands = {WireForm::SecurityKey, nullptr, nullptr, GetText<dev_get_security>, SetSecurity,
                  19, 16},
     .file = ZigBeeKey(FileForm::Flag, "Security", 16)},
    {.id = FieldId::Startbyte,
     .name = "startbyte",
     .kind = kNumber,
     .writable = true,
     .min = STARTBYTE_RANGE.min,
     .max = STARTBYTE_RANGE.max,
     .member = &R::startbyte,
     .setter = STARTBYTE_RANGE,
     .display = kHex,
     .commands = NumberCommands(GetStartbyte, SetStartbyte, 18, 15),
     .file = ZigBeeKey(FileForm::Hex, "Start Byte", 15, 2)},
    {.id = FieldId::Aeskey,
     .name = "aeskey",
     .kind = kTextField,
     .writable = true,
     .min = kAesKeySize - 1,
     .max = kAesKeySize - 1,
     .member = &R::aeskey,
     .display = kText,
     .file = ZigBeeKey(FileForm::Key, "AES Key", 17)},
    {.id = FieldId::FwVersion,
     .name = "fw_version",
     .kind = kTextField,
     .writable = false,
     .min = 0,
     .max = kFwVersionSize - 1,
     .member = &R::fw_version,
     .display = Listed(kText, 632),
     .commands = TextCommands(GetText<dev_get_fw_version>, nullptr, 20, 0)},
    {.id = FieldId::Devname,
     .name = "devname",
     .kind = kTextField,
     .writable = true,
     .min = 0,
     .max = kDevnameSize - 1,
     .member = &R::devname,
     .display = Listed(kText, 621),
     .commands = TextCommands(GetText<dev_get_devname>, SetDevname, 7, 6),
     .file = ZigBeeKey(FileForm::Text, "Device Name", 6)},
}};

constexpr bool IdsArePositions() {
    for (std::size_t i = 0; i < kFields.size(); ++i)
        if (static_cast<std::size_t>(kFields[i].id) != i) return false;
    return true;
}
static_assert(IdsArePositions());

// The rows that have a place in some order, by that place.
struct Ordered {
    std::array<const RecordField*, kFields.size()> rows{};
    std::size_t size = 0;
};

template <class Place>
constexpr Ordered OrderBy(Place place) {
    Ordered order;
    for (int p = 1; p <= static_cast<int>(kFields.size()); ++p)
        for (const RecordField& field : kFields)
            if (place(field) == p) order.rows[order.size++] = &field;
    return order;
}

// Places 1, 2, 3, ... with neither a gap nor a place twice.
template <class Place>
constexpr bool Contiguous(const Ordered& order, Place place) {
    std::size_t placed = 0;
    for (const RecordField& field : kFields) placed += place(field) > 0 ? 1 : 0;
    for (std::size_t i = 0; i < order.size; ++i)
        if (place(*order.rows[i]) != static_cast<int>(i + 1)) return false;
    return order.size == placed;
}

constexpr auto kReadPlace = [](const RecordField& f) { return f.commands.read_order; };
constexpr auto kWritePlace = [](const RecordField& f) { return f.commands.write_order; };
constexpr auto kFilePlace = [](const RecordField& f) { return f.file.order; };
constexpr Ordered kRead = OrderBy(kReadPlace);
constexpr Ordered kWritten = OrderBy(kWritePlace);
constexpr Ordered kInFile = OrderBy(kFilePlace);
static_assert(Contiguous(kRead, kReadPlace));
static_assert(Contiguous(kWritten, kWritePlace));
static_assert(Contiguous(kInFile, kFilePlace));

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

Status Refuse(std::string text) {
    return Status::Fail(std::move(text));
}

std::span<const RecordField* const> Rows(const Ordered& order) {
    return std::span<const RecordField* const>(order.rows.data(), order.size);
}

// Why a text field cannot take `value`; the aeskey must be 32 hexadecimal digits.
Status CheckText(const RecordField& field, std::string_view value) {
    const std::string name(field.name);
    const auto length = static_cast<std::int64_t>(value.size());
    if (field.id == FieldId::Aeskey) {
        if (length != field.max)
            return Refuse("aeskey must be exactly 32 hexadecimal digits, not " +
                          std::to_string(length) + " characters");
        for (char c : value)
            if (!IsHex(c)) return Refuse("aeskey must be 32 hexadecimal digits");
        return {};
    }
    if (length > field.max)
        return Refuse(name + " is at most " + std::to_string(field.max) + " characters, not " +
                      std::to_string(length));
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (IsFrameChar(value[i])) continue;
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(value[i]));
        return Refuse(name + " must be printable ASCII (0x20 to 0x7E); byte " +
                      std::to_string(i + 1) + " is " + byte);
    }
    return {};
}

Status ReadOnly(const RecordField& field) {
    return Refuse(std::string(field.name) + " is read from the device and cannot be set");
}

}  // namespace

std::span<const RecordField> RecordFields() {
    return kFields;
}

const RecordField& FieldOf(FieldId id) {
    return kFields[static_cast<std::size_t>(id)];
}

const RecordField* FindRecordField(std::string_view name) {
    const auto same = [name](std::string_view field) {
        return field.size() == name.size() &&
               std::equal(field.begin(), field.end(), name.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) ==
                          std::tolower(static_cast<unsigned char>(b));
               });
    };
    for (const RecordField& field : kFields)
        if (same(field.name)) return &field;
    return nullptr;
}

std::span<const RecordField* const> FieldsRead() {
    return Rows(kRead);
}

std::span<const RecordField* const> FieldsWritten() {
    return Rows(kWritten);
}

std::span<const RecordField* const> FieldsInFile() {
    return Rows(kInFile);
}

const RecordField* FieldOfColumn(int column) {
    for (const RecordField& field : kFields)
        if (column != 0 && field.display.column == column) return &field;
    return nullptr;
}

void SetInitialValues(DeviceRecord& record) {
    for (const RecordField& field : kFields)
        if (field.kind == FieldKind::Number) StoreNumber(record, field, field.initial);
}

void CopyField(DeviceRecord& to, const DeviceRecord& from, const RecordField& field) {
    std::visit([&to, &from](auto member) { to.*member = from.*member; }, field.member);
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

Status SetRecordField(DeviceRecord& r, const RecordField& field, std::string_view value) {
    if (!field.writable) return ReadOnly(field);
    if (field.kind == FieldKind::Text) {
        Status checked = CheckText(field, value);
        if (checked) StoreText(r, field, value);
        return checked;
    }
    const std::string name(field.name);
    std::int64_t v = 0;
    if (!ParseNumber(value, &v))
        return Refuse(name + " needs a number (decimal or 0x-hexadecimal), not \"" +
                      std::string(value) + "\"");
    if (v < field.min || v > field.max)
        return Refuse(name + " must be " + Describe(field) + ", not " + std::string(value));
    StoreNumber(r, field, v);
    return {};
}

void StoreValue(DeviceRecord& record, const FieldValue& value) {
    const RecordField& field = FieldOf(value.field);
    if (field.kind == FieldKind::Text)
        StoreText(record, field, value.text);
    else
        StoreNumber(record, field, value.number);
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

Result<FieldValue> ReadDisplayText(const RecordField& field, std::string_view text) {
    if (!field.writable) return ReadOnly(field).error();
    if (field.kind == FieldKind::Text) {
        if (Status checked = CheckText(field, text); !checked) return checked.error();
        return FieldValue{field.id, 0, std::string(text)};
    }
    const auto value = ParseDisplayText(field, text);
    if (!value)
        return Refuse(std::string(field.name) + " must be " + DescribeDisplay(field) + ", not " +
                      std::string(text))
            .error();
    return FieldValue{field.id, *value, {}};
}

Status SetDisplayText(DeviceRecord& record, const RecordField& field, std::string_view text) {
    Result<FieldValue> value = ReadDisplayText(field, text);
    if (!value) return value.error();
    StoreValue(record, *value);
    return {};
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
