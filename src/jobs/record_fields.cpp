#include "jobs/record_fields.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

#include "protocol/param_commands.h"

namespace zb {
namespace {

constexpr std::array<RecordField, 21> kFields{{
    {"fw_type", FieldKind::Number, false, 0, 0xFFFF},
    {"baud", FieldKind::Number, true, 0, kBaudTexts.size() - 1},
    {"parity", FieldKind::Number, true, 0, kParityTexts.size() - 1},
    {"databit", FieldKind::Number, true, 0, kDatabitTexts.size() - 1},
    {"stopbit", FieldKind::Number, true, 0, kStopbitTexts.size() - 1},
    {"interface", FieldKind::Number, true, 0, kInterfaceTexts.size() - 1},
    {"devtype", FieldKind::Number, true, 0, kDevtypeTexts.size() - 1},
    {"topology", FieldKind::Number, true, 0, kTopologyTexts.size() - 1},
    {"channel", FieldKind::Number, true, 0, 15},
    {"outpower", FieldKind::Number, true, 0, kOutpowerTexts.size() - 1},
    {"txmode", FieldKind::Number, true, 0, kTxmodeTexts.size() - 1},
    {"panid", FieldKind::Number, true, 0, 0xFFFD},
    {"parent_addr", FieldKind::Number, false, 0, 0xFFFF},
    {"short_addr", FieldKind::Number, false, 0, 0xFFFF},
    {"lnodeid", FieldKind::Number, true, 0, 99},
    {"rnodeid", FieldKind::Number, true, 0, 99},
    {"security", FieldKind::Number, true, 0, 1},
    {"startbyte", FieldKind::Number, true, 0, 0xFF},
    {"aeskey", FieldKind::Text, true, kAesKeySize - 1, kAesKeySize - 1},
    {"fw_version", FieldKind::Text, false, 0, kFwVersionSize - 1},
    {"devname", FieldKind::Text, true, 0, kDevnameSize - 1},
}};

// Decimal or 0x-hexadecimal, nothing else around it.
bool ParseNumber(std::string_view text, std::int64_t* out) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 12 || text[0] == '-' || text[0] == '+') return false;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0) return false;
    *out = value;
    return true;
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

}  // namespace

std::span<const RecordField> RecordFields() {
    return kFields;
}

const RecordField* FindRecordField(std::string_view name) {
    for (const RecordField& field : kFields)
        if (field.name == name) return &field;
    return nullptr;
}

std::int64_t NumberOf(const DeviceRecord& r, const RecordField& field) {
    const std::string_view n = field.name;
    if (n == "fw_type") return r.fw_type;
    if (n == "baud") return r.baud;
    if (n == "parity") return r.parity;
    if (n == "databit") return r.databit;
    if (n == "stopbit") return r.stopbit;
    if (n == "interface") return r.interface;
    if (n == "devtype") return r.devtype;
    if (n == "topology") return r.topology;
    if (n == "channel") return r.channel;
    if (n == "outpower") return r.outpower;
    if (n == "txmode") return r.txmode;
    if (n == "panid") return r.panid;
    if (n == "parent_addr") return r.parent_addr;
    if (n == "short_addr") return r.short_addr;
    if (n == "lnodeid") return r.lnodeid;
    if (n == "rnodeid") return r.rnodeid;
    if (n == "security") return r.security ? 1 : 0;
    if (n == "startbyte") return r.startbyte;
    return 0;
}

std::string TextFieldOf(const DeviceRecord& r, const RecordField& field) {
    if (field.name == "aeskey") return std::string(TextOf(r.aeskey));
    if (field.name == "fw_version") return std::string(TextOf(r.fw_version));
    if (field.name == "devname") return std::string(TextOf(r.devname));
    return {};
}

bool SetRecordField(DeviceRecord& r, const RecordField& field, std::string_view value,
                    std::string* error) {
    const auto refuse = [&](std::string text) {
        if (error != nullptr) *error = std::move(text);
        return false;
    };
    const std::string name(field.name);
    if (!field.writable) return refuse(name + " is read from the device and cannot be set");

    if (field.kind == FieldKind::Text) {
        const auto length = static_cast<std::int64_t>(value.size());
        if (field.name == "aeskey") {
            if (length != field.max)
                return refuse("aeskey must be exactly 32 hexadecimal digits, not " +
                              std::to_string(length) + " characters");
            for (char c : value)
                if (!IsHex(c)) return refuse("aeskey must be 32 hexadecimal digits");
            SetText(r.aeskey, value);
            return true;
        }
        if (length > field.max)
            return refuse(name + " is at most " + std::to_string(field.max) + " characters, not " +
                          std::to_string(length));
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (IsFrameChar(value[i])) continue;
            char byte[8];
            std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(value[i]));
            return refuse(name + " must be printable ASCII (0x20 to 0x7E); byte " +
                          std::to_string(i + 1) + " is " + byte);
        }
        SetText(r.devname, value);
        return true;
    }

    std::int64_t v = 0;
    if (!ParseNumber(value, &v))
        return refuse(name + " needs a number (decimal or 0x-hexadecimal), not \"" +
                      std::string(value) + "\"");
    if (v < field.min || v > field.max)
        return refuse(name + " must be " + Describe(field) + ", not " + std::string(value));
    const auto u = static_cast<std::uint32_t>(v);
    const std::string_view n = field.name;
    if (n == "baud")
        r.baud = u;
    else if (n == "parity")
        r.parity = u;
    else if (n == "databit")
        r.databit = static_cast<std::int32_t>(v);
    else if (n == "stopbit")
        r.stopbit = u;
    else if (n == "interface")
        r.interface = u;
    else if (n == "devtype")
        r.devtype = u;
    else if (n == "topology")
        r.topology = u;
    else if (n == "channel")
        r.channel = static_cast<std::int32_t>(v);
    else if (n == "outpower")
        r.outpower = u;
    else if (n == "txmode")
        r.txmode = u;
    else if (n == "panid")
        r.panid = u;
    else if (n == "lnodeid")
        r.lnodeid = u;
    else if (n == "rnodeid")
        r.rnodeid = u;
    else if (n == "security")
        r.security = v != 0;
    else if (n == "startbyte")
        r.startbyte = static_cast<std::uint8_t>(v);
    return true;
}

std::string_view UnwritableField(const DeviceRecord& r) {
    struct Limit {
        std::string_view field;
        std::int64_t value, min, max;
    };
    // The ranges of the dev_set_* operations, in the values they are given.
    const Limit limits[] = {
        {"baud", r.baud, 0, 17},          {"databit", std::int64_t{r.databit} + 8, 8, 9},
        {"stopbit", r.stopbit, 0, 1},     {"parity", r.parity, 0, 2},
        {"interface", r.interface, 0, 3}, {"channel", std::int64_t{r.channel} + 11, 11, 26},
        {"devtype", r.devtype, 0, 2},     {"lnodeid", r.lnodeid, 0, 99},
        {"rnodeid", r.rnodeid, 0, 99},    {"panid", r.panid, 0, 0xFFFF},
        {"outpower", r.outpower, 0, 7},   {"topology", r.topology, 0, 2},
        {"txmode", r.txmode, 0, 1},
    };
    for (const Limit& l : limits)
        if (l.value < l.min || l.value > l.max) return l.field;
    const std::string_view devname = TextOf(r.devname);
    if (devname.size() > DEVNAME_MAX || !IsFrameText(devname)) return "devname";
    const std::string_view key = TextOf(r.aeskey);
    if (r.security && (key.size() != AES_KEY_LEN || !IsFrameText(key))) return "aeskey";
    return {};
}

}  // namespace zb
