#include "modem_host_wire.h"

#include <charconv>

namespace zbtest::wire {
namespace {

constexpr std::size_t kSettingsFields = 21;

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IntField(const std::vector<std::string>& fields, std::size_t i, int* out) {
    long long v = 0;
    if (i >= fields.size() || !ParseInt(fields[i], &v)) return false;
    *out = static_cast<int>(v);
    return true;
}

bool U64Field(const std::vector<std::string>& fields, std::size_t i, std::uint64_t* out) {
    long long v = 0;
    if (i >= fields.size() || !ParseInt(fields[i], &v) || v < 0) return false;
    *out = static_cast<std::uint64_t>(v);
    return true;
}

bool TextField(const std::vector<std::string>& fields, std::size_t i, std::string* out) {
    return i < fields.size() && Unhex(fields[i], out);
}

}  // namespace

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2 + 1);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    // An empty string is one field all the same.
    return out.empty() ? "-" : out;
}

bool Unhex(std::string_view hex, std::string* bytes) {
    bytes->clear();
    if (hex == "-") return true;
    if (hex.empty() || hex.size() % 2 != 0) return false;
    bytes->reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = Nibble(hex[i]);
        const int lo = Nibble(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes->push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

std::vector<std::string> Fields(std::string_view line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t space = line.find(' ', start);
        out.emplace_back(line.substr(start, space - start));
        if (space == std::string_view::npos) return out;
        start = space + 1;
    }
}

bool ParseInt(std::string_view text, long long* value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end;
}

std::string EncodeFault(const zbsim::Fault& fault) {
    return std::to_string(static_cast<int>(fault.kind)) + ' ' + std::to_string(fault.count) + ' ' +
           std::to_string(fault.ms) + ' ' + Hex(fault.code);
}

bool DecodeFault(const std::vector<std::string>& fields, std::size_t first, zbsim::Fault* fault) {
    int kind = 0;
    if (!IntField(fields, first, &kind) || kind < 0 ||
        kind > static_cast<int>(zbsim::FaultKind::KeepOld))
        return false;
    fault->kind = static_cast<zbsim::FaultKind>(kind);
    return IntField(fields, first + 1, &fault->count) && IntField(fields, first + 2, &fault->ms) &&
           TextField(fields, first + 3, &fault->code);
}

std::string EncodeSettings(const zbsim::ModemSettings& s) {
    std::string out;
    for (const int v : {s.baud, s.databits, s.stopbit, s.parity, s.iface, s.channel, s.outpower,
                        s.topology, s.txmode, s.panid, s.devtype, s.lnodeid, s.rnodeid, s.startbyte,
                        s.security ? 1 : 0, s.parent_addr, s.short_addr, s.fw_type})
        out += std::to_string(v) + ' ';
    return out + Hex(s.aeskey) + ' ' + Hex(s.devname) + ' ' + Hex(s.fw_version);
}

bool DecodeSettings(const std::vector<std::string>& fields, std::size_t first,
                    zbsim::ModemSettings* s) {
    if (fields.size() < first + kSettingsFields) return false;
    int security = 0;
    int* const ints[] = {&s->baud,        &s->databits,   &s->stopbit,  &s->parity,    &s->iface,
                         &s->channel,     &s->outpower,   &s->topology, &s->txmode,    &s->panid,
                         &s->devtype,     &s->lnodeid,    &s->rnodeid,  &s->startbyte, &security,
                         &s->parent_addr, &s->short_addr, &s->fw_type};
    std::size_t i = first;
    for (int* v : ints)
        if (!IntField(fields, i++, v)) return false;
    s->security = security != 0;
    return TextField(fields, i, &s->aeskey) && TextField(fields, i + 1, &s->devname) &&
           TextField(fields, i + 2, &s->fw_version);
}

std::string EncodeSnapshot(const zbsim::ModemSnapshot& s) {
    const std::string image(s.image.begin(), s.image.end());
    return EncodeSettings(s.settings) + ' ' +
           (s.mode == zbsim::ModemMode::Loader ? "loader" : "application") + ' ' +
           std::to_string(s.commands) + ' ' + std::to_string(s.restarts) + ' ' +
           std::to_string(s.blocks_acked) + ' ' + std::to_string(s.upgrades) + ' ' + Hex(image);
}

bool DecodeSnapshot(std::string_view payload, zbsim::ModemSnapshot* s) {
    const std::vector<std::string> f = Fields(payload);
    const std::size_t i = kSettingsFields;
    std::string image;
    if (!DecodeSettings(f, 0, &s->settings) || f.size() != i + 6 ||
        (f[i] != "loader" && f[i] != "application") || !U64Field(f, i + 1, &s->commands) ||
        !U64Field(f, i + 2, &s->restarts) || !U64Field(f, i + 3, &s->blocks_acked) ||
        !U64Field(f, i + 4, &s->upgrades) || !TextField(f, i + 5, &image))
        return false;
    s->mode = f[i] == "loader" ? zbsim::ModemMode::Loader : zbsim::ModemMode::Application;
    s->image.assign(image.begin(), image.end());
    return true;
}

std::string EncodeLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        if (!out.empty()) out += ' ';
        out += Hex(line);
    }
    return out;
}

bool DecodeLines(std::string_view payload, std::vector<std::string>* lines) {
    lines->clear();
    if (payload.empty()) return true;
    for (const std::string& field : Fields(payload)) {
        std::string line;
        if (!Unhex(field, &line)) return false;
        lines->push_back(std::move(line));
    }
    return true;
}

}  // namespace zbtest::wire
