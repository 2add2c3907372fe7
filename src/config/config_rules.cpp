#include "config/config_rules.h"

#include <algorithm>

#include "jobs/model/record_fields.h"
#include "jobs/model/text_escape.h"

namespace zb {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::optional<std::int64_t> Leading(std::string_view text, int base) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    std::size_t digits = 0;
    for (; i < text.size(); ++i, ++digits) {
        const int d = HexDigitValue(text[i]);
        if (d < 0 || d >= base) break;
        value = value * base + d;
        if (value > 0xFFFFFFFFll) return std::nullopt;
    }
    if (digits == 0) return std::nullopt;
    return negative ? -value : value;
}

template <std::size_t N>
std::string Text(const std::array<char, N>& field) {
    return std::string(TextOf(field));
}

// A box shows its field's display text.
std::string Shown(const DeviceRecord& record, FieldId id) {
    return DisplayText(record, FieldOf(id)).value_or("");
}

// The range of a number the dialog offers.
bool Offered(FieldId id, std::int64_t value) {
    const RecordField& field = FieldOf(id);
    return value >= field.min && value <= field.max;
}

}  // namespace

std::optional<std::int64_t> LeadingDecimal(std::string_view text) {
    return Leading(text, 10);
}

std::optional<std::int64_t> LeadingHex(std::string_view text) {
    return Leading(text, 16);
}

bool AllHexDigits(std::string_view text) {
    for (char c : text)
        if (HexDigitValue(c) < 0) return false;
    return true;
}

bool HexKeyAllowed(char32_t c) {
    return c == kBackspace || (c < 0x80 && HexDigitValue(static_cast<char>(c)) >= 0);
}

bool DecimalKeyAllowed(char32_t c) {
    return c == kBackspace || (c >= '0' && c <= '9');
}

NodeBoxes ModeBoxes(const DeviceRecord& record, int txmode) {
    NodeBoxes boxes;
    boxes.mode_list_full = true;
    boxes.mode_enabled = true;
    boxes.mode_choice = txmode;
    if (txmode == 0) {
        boxes.lnodeid = boxes.rnodeid = boxes.startbyte = std::string(kNotApplicable);
    } else {
        // An addressable coordinator is always node 0 and talks to whoever addresses it.
        boxes.lnodeid = "0";
        boxes.rnodeid = "-";
        boxes.startbyte = Shown(record, FieldId::Startbyte);
        boxes.startbyte_enabled = true;
    }
    return boxes;
}

NodeBoxes DevtypeBoxes(const DeviceRecord& record, int devtype) {
    if (devtype == 0) {
        // A mode the list lacks leaves it without a choice (-1), as loading any other list.
        const int mode = record.txmode < 2 ? static_cast<int>(record.txmode) : -1;
        NodeBoxes boxes = ModeBoxes(record, mode == 1 ? 1 : 0);
        boxes.mode_choice = mode;
        return boxes;
    }
    NodeBoxes boxes;
    boxes.mode_list_full = false;
    boxes.mode_choice = 0;
    boxes.lnodeid = std::to_string(record.lnodeid);
    boxes.rnodeid = std::to_string(record.rnodeid);
    boxes.startbyte = std::string(kNotApplicable);
    boxes.lnodeid_enabled = boxes.rnodeid_enabled = true;
    return boxes;
}

SettingsBoxes BoxesOf(const DeviceRecord& record) {
    SettingsBoxes boxes;
    boxes.devtype = record.devtype < kDevtypeTexts.size() ? static_cast<int>(record.devtype) : -1;
    const NodeBoxes nodes = DevtypeBoxes(record, boxes.devtype);
    boxes.txmode = nodes.mode_choice;
    boxes.lnodeid = nodes.lnodeid;
    boxes.rnodeid = nodes.rnodeid;
    boxes.startbyte = nodes.startbyte;
    boxes.panid = Shown(record, FieldId::Panid);
    boxes.security = record.security;
    boxes.aeskey = Text(record.aeskey);
    boxes.devname = Text(record.devname);
    return boxes;
}

std::optional<CheckFailure> CheckSettings(const SettingsBoxes& b) {
    const auto fail = [](int step, const char* message) {
        return std::optional<CheckFailure>(CheckFailure{step, message});
    };
    if (b.devtype != 0) {
        constexpr const char* kLocal = "The local node ID is invalid.";
        constexpr const char* kDest = "The Dest. node ID is invalid.";
        if (b.lnodeid.empty()) return fail(1, kLocal);
        const auto local = LeadingDecimal(b.lnodeid);
        // A text without a number fails where its range is checked.
        if (local && *local == 0)
            return fail(2, "The local node ID is invalid.\nOnly coordinator can set it to 0.");
        if (!local || !Offered(FieldId::Lnodeid, *local)) return fail(3, kLocal);
        if (b.rnodeid.empty()) return fail(4, kDest);
        const auto dest = LeadingDecimal(b.rnodeid);
        if (!dest || !Offered(FieldId::Rnodeid, *dest)) return fail(5, kDest);
        if (*local == *dest) return fail(6, "The Local Node ID and Dest. Node ID are the same.");
    }
    constexpr const char* kPanid = "The PAN ID is invalid.";
    if (b.panid.empty()) return fail(7, kPanid);
    if (!AllHexDigits(b.panid)) return fail(8, kPanid);
    const auto panid = LeadingHex(b.panid);
    if (!panid || !Offered(FieldId::Panid, *panid)) return fail(9, kPanid);
    // A mode list without a choice (-1) keeps the record's mode and start byte.
    if (b.devtype == 0 && b.txmode > 0) {
        constexpr const char* kStart = "The start byte is invalid.";
        if (b.startbyte.empty()) return fail(10, kStart);
        if (!AllHexDigits(b.startbyte)) return fail(11, kStart);
    }
    if (b.security) {
        if (b.aeskey.size() < kAesKeySize - 1)
            return fail(12, "The AES key is less than 32 bytes.");
        if (!AllHexDigits(b.aeskey)) return fail(13, "The AES key is invalid.");
    }
    // The request frame carries the name as ASCII text; any other character would reach the
    // modem changed or make the apply fail.
    if (!std::all_of(b.devname.begin(), b.devname.end(),
                     [](char c) { return c >= 0x20 && c <= 0x7E; }))
        return fail(14,
                    "The device name is invalid.\nOnly printable ASCII characters can be used.");
    return std::nullopt;
}

std::optional<std::string> RecordRefusal(const DeviceRecord& record) {
    const std::optional<CheckFailure> failure = CheckSettings(BoxesOf(record));
    if (!failure) return std::nullopt;
    std::string message = failure->message;
    std::replace(message.begin(), message.end(), '\n', ' ');
    return message;
}

SettingsValues ValuesOf(std::string_view devname, const ListPositions& lists,
                        const SettingsBoxes& boxes) {
    SettingsValues v;
    const auto give = [&v](FieldId id, std::int64_t value) { v.push_back({id, value, {}}); };
    v.push_back({FieldId::Devname, 0, std::string(devname.substr(0, kDevnameSize - 1))});
    // A router's mode list holds only "N/A" at position 0, which stores Transparent.
    const std::pair<FieldId, int> chosen[] = {
        {FieldId::Baud, lists.baud},           {FieldId::Parity, lists.parity},
        {FieldId::Databit, lists.databit},     {FieldId::Stopbit, lists.stopbit},
        {FieldId::Interface, lists.interface}, {FieldId::Devtype, lists.devtype},
        {FieldId::Channel, lists.channel},     {FieldId::Outpower, lists.outpower},
        {FieldId::Topology, lists.topology},   {FieldId::Txmode, lists.txmode},
    };
    for (const auto& [id, position] : chosen)
        if (position >= 0) give(id, position);
    // A coordinator's node boxes show "N/A", "0" or "-", none of them its own values: each
    // record keeps the node IDs it has.
    if (boxes.devtype != 0) {
        for (const auto& [id, text] : {std::pair{FieldId::Lnodeid, &boxes.lnodeid},
                                       std::pair{FieldId::Rnodeid, &boxes.rnodeid}})
            if (const int node = static_cast<int>(LeadingDecimal(*text).value_or(-1)); node >= 0)
                give(id, node);
    }
    give(FieldId::Panid, LeadingHex(boxes.panid).value_or(0) & 0xFFFF);
    if (lists.txmode > 0)
        if (const auto start = LeadingHex(boxes.startbyte); start && *start >= 0)
            give(FieldId::Startbyte, *start & 0xFF);
    give(FieldId::Security, boxes.security ? 1 : 0);
    if (boxes.security) v.push_back({FieldId::Aeskey, 0, boxes.aeskey.substr(0, kAesKeySize - 1)});
    return v;
}

std::uint32_t SaveSettings(PortTable& rows, const SettingsValues& values) {
    std::uint32_t saved = 0;
    for (PortRow& row : rows) {
        DeviceRecord* r = row.device.get();
        if (r == nullptr || !r->selected) continue;
        for (const FieldValue& value : values) StoreValue(*r, value);
        r->apply_pending = true;
        ++saved;
    }
    return saved;
}

}  // namespace zb
