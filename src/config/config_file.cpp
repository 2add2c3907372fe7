#include "config/config_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <system_error>
#include <utility>

#include "config/config_rules.h"
#include "jobs/model/record_fields.h"
#include "jobs/platform/file_storage.h"

namespace zb {
namespace {

constexpr std::string_view kSerial = "Serial";
constexpr std::string_view kZigBee = "ZigBee";
// A configuration file is a few hundred bytes; the cap keeps a wrong choice such as a
// device node or a huge file from hanging or exhausting the program.
constexpr std::size_t kMaxFileSize = 1 << 20;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

enum class LineKind { Other, Blank, Section, Key };

struct Line {
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key
    std::string_view value;  // trimmed, quotes still on
};

Line Classify(std::string_view text) {
    const std::string_view t = Trim(text);
    if (t.empty()) return {LineKind::Blank, {}, {}};
    if (t.front() == ';' || t.front() == '#') return {};
    if (t.front() == '[') {
        const std::size_t close = t.find(']');
        if (close != std::string_view::npos)
            return {LineKind::Section, Trim(t.substr(1, close - 1)), {}};
        return {};
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) return {};
    const std::string_view key = Trim(t.substr(0, eq));
    if (key.empty()) return {};
    return {LineKind::Key, key, Trim(t.substr(eq + 1))};
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

std::string_view Unquoted(std::string_view v) {
    if (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// The reader trims blanks and strips one pair of quotes, so a value that starts or ends with
// a blank, or starts with a quote, is written inside double quotes to come back unchanged.
// A line break cannot live inside a line; it becomes a blank rather than a forged line.
std::string Written(std::string_view value) {
    std::string v(value);
    for (char& c : v)
        if (c == '\n' || c == '\r') c = ' ';
    if (!v.empty() && (IsBlank(v.front()) || IsBlank(v.back()) || IsQuote(v.front())))
        return '"' + v + '"';
    return v;
}

std::string ErrorText(int err) {
    return ErrnoText(err);
}

// Decimal, or hexadecimal after "0x"/"0X"; the whole text must be the number.
std::optional<std::int64_t> ParseInteger(std::string_view text) {
    int base = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
        if (text.empty() || text[0] == '-') return std::nullopt;
    }
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

// PAN ID and start byte: "0x" (lower-case x), then at most `max_digits` hexadecimal digits
// are taken and anything after them is ignored.
std::optional<std::int64_t> ParsePrefixedHex(std::string_view text, std::size_t max_digits) {
    if (text.substr(0, 2) != "0x") return std::nullopt;
    text.remove_prefix(2);
    std::size_t n = 0;
    while (n < text.size() && n < max_digits && AllHexDigits(text.substr(n, 1))) ++n;
    if (n == 0) return std::nullopt;
    return LeadingHex(text.substr(0, n));
}

std::string RangeText(std::int64_t lo, std::int64_t hi) {
    if (lo == hi) return "must be " + std::to_string(lo);
    return "must be " + std::to_string(lo) + ".." + std::to_string(hi);
}

// Runs the checks in reading order; the first refusal is kept and every later check is
// skipped.
class Checker {
public:
    Checker(const IniText& ini, ConfigRefusal* why) : ini_(ini), why_(why) {}

    bool ok() const { return !refused_; }

    std::optional<std::string> Get(std::string_view section, std::string_view key) const {
        return ini_.Get(section, key);
    }

    void Refuse(int step, std::string_view section, std::string_view key,
                std::optional<std::string> value, std::string reason) {
        refused_ = true;
        if (why_ == nullptr) return;
        *why_ = ConfigRefusal{step, std::string(section), std::string(key), std::move(value),
                              std::move(reason)};
    }

    // An integer key within lo..hi; a missing key or one that is no number reads as -1.
    std::int64_t Integer(int step, std::string_view section, std::string_view key, std::int64_t lo,
                         std::int64_t hi) {
        if (refused_) return 0;
        const auto text = Get(section, key);
        const std::int64_t v = text ? ParseInteger(*text).value_or(-1) : -1;
        if (v < lo || v > hi) Refuse(step, section, key, text, RangeText(lo, hi));
        return v;
    }

private:
    const IniText& ini_;
    ConfigRefusal* why_;
    bool refused_ = false;
};

// A number field in the record's encoding, refused outside the range the dialog offers.
std::int64_t Offered(Checker& c, int step, std::string_view section, std::string_view key,
                     FieldId id) {
    const RecordField& field = FieldOf(id);
    return c.Integer(step, section, key, field.min, field.max);
}

}  // namespace

IniText IniText::Parse(std::string_view text) {
    IniText ini;
    // A byte-order mark left by some editors would hide the first section.
    // More than one is dropped too, or each rewrite would lose one and change what is read.
    while (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        // "\r\r\n" as well: a value must not read differently once the line is rewritten.
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ini.lines_.emplace_back(line);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    }
    return ini;
}

std::optional<std::string> IniText::Get(std::string_view section, std::string_view key) const {
    bool inside = false;
    for (const std::string& text : lines_) {
        const Line line = Classify(text);
        if (line.kind == LineKind::Section) inside = SameName(line.name, section);
        if (inside && line.kind == LineKind::Key && SameName(line.name, key))
            return std::string(Unquoted(line.value));
    }
    return std::nullopt;
}

void IniText::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::string entry = std::string(key) + "=" + Written(value);
    bool inside = false;
    std::optional<std::size_t> insert_after;  // last non-blank line of the first such section
    bool first_section_done = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line line = Classify(lines_[i]);
        if (line.kind == LineKind::Section) {
            if (insert_after) first_section_done = true;
            inside = SameName(line.name, section);
        }
        if (!inside) continue;
        if (line.kind == LineKind::Key && SameName(line.name, key)) {
            lines_[i] = std::move(entry);
            return;
        }
        if (!first_section_done && line.kind != LineKind::Blank) insert_after = i;
    }
    if (insert_after) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*insert_after + 1),
                      std::move(entry));
        return;
    }
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(std::move(entry));
}

std::string IniText::Text() const {
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += '\n';
    }
    return text;
}

std::string ConfigFileName(std::uint32_t com) {
    return "KRB7310_Config" + std::to_string(com) + ".txt";
}

void PutSettings(IniText& ini, const DeviceRecord& r) {
    char panid[8];
    std::snprintf(panid, sizeof panid, "0x%04x", r.panid & 0xFFFFu);
    char startbyte[8];
    std::snprintf(startbyte, sizeof startbyte, "0x%02x", static_cast<unsigned>(r.startbyte));
    const auto dec = [](auto v) { return std::to_string(v); };

    ini.Set(kSerial, "Baud Rate", dec(r.baud));
    ini.Set(kSerial, "Parity", dec(r.parity));
    ini.Set(kSerial, "Data Bit", dec(WireValueOf(r, FieldOf(FieldId::Databit))));
    ini.Set(kSerial, "Stop Bit", dec(r.stopbit));
    ini.Set(kSerial, "Interface", dec(r.interface));
    ini.Set(kZigBee, "Device Name", TextOf(r.devname));
    ini.Set(kZigBee, "Device Type", dec(r.devtype));
    ini.Set(kZigBee, "Local Node ID", dec(r.lnodeid));
    ini.Set(kZigBee, "Destination Node ID", dec(r.rnodeid));
    ini.Set(kZigBee, "PAN ID", panid);
    ini.Set(kZigBee, "Channel", dec(r.channel));
    ini.Set(kZigBee, "Output Power", dec(r.outpower));
    ini.Set(kZigBee, "Topology", dec(r.topology));
    ini.Set(kZigBee, "Mode", dec(r.txmode));
    ini.Set(kZigBee, "Start Byte", startbyte);
    ini.Set(kZigBee, "Security", r.security ? "1" : "0");
    ini.Set(kZigBee, "AES Key", TextOf(r.aeskey));
}

namespace {

// `new_mode` is what a file that does not exist yet gets; an existing file keeps its own.
bool WriteFileAs(const std::string& path, const DeviceRecord& record, std::uint32_t new_mode,
                 std::string* error) {
    const auto fail = [error](std::string reason) {
        if (error != nullptr) *error = std::move(reason);
        return false;
    };
    try {
        for (std::string_view text : {TextOf(record.devname), TextOf(record.aeskey)})
            if (text.find_first_of("\r\n") != std::string_view::npos)
                return fail("a text holds a line break");

        const Result<std::string> read = ReadWholeFile(path, kMaxFileSize);
        if (!read && !read.error().missing) return fail(read.error().reason);

        IniText ini = IniText::Parse(read ? *read : std::string());
        PutSettings(ini, record);
        const Status written = ReplaceWholeFile(path, ini.Text(), read.ok(), new_mode);
        return written.ok() || fail(written.reason());
    } catch (const std::bad_alloc&) {
        return fail(ErrorText(ENOMEM));
    }
}

}  // namespace

bool WriteConfigFile(const std::string& path, const DeviceRecord& record, std::string* error) {
    return WriteFileAs(path, record, NewFileMode(), error);
}

std::vector<ConfigWriteFailure> WriteConfigFiles(const PortTable& rows, const std::string& folder) {
    // Read once for the whole export rather than once per file.
    const std::uint32_t new_mode = NewFileMode();
    std::vector<ConfigWriteFailure> failures;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const DeviceRecord* r = rows[i].device.get();
        if (r == nullptr || !r->selected) continue;
        const auto com = static_cast<std::uint32_t>(i + 1);
        ConfigWriteFailure failure{com, folder + "/" + ConfigFileName(com), {}};
        // Without a folder the name would land in the file system's root.
        if (folder.empty())
            failure.reason = "no folder given";
        else if (WriteFileAs(failure.path, *r, new_mode, &failure.reason))
            continue;
        failures.push_back(std::move(failure));
    }
    return failures;
}

std::optional<ConfigSettings> ParseConfigSettings(std::string_view text, ConfigRefusal* why) {
    const IniText ini = IniText::Parse(text);
    Checker c(ini, why);
    ConfigSettings s;

    s.baud = static_cast<std::uint32_t>(Offered(c, 1, kSerial, "Baud Rate", FieldId::Baud));
    s.parity = static_cast<std::uint32_t>(Offered(c, 2, kSerial, "Parity", FieldId::Parity));
    // The file counts data bits, as the modem does.
    const RecordField& databit = FieldOf(FieldId::Databit);
    s.databit = static_cast<std::int32_t>(c.Integer(3, kSerial, "Data Bit",
                                                    databit.min + databit.wire_offset,
                                                    databit.max + databit.wire_offset) -
                                          databit.wire_offset);
    s.stopbit = static_cast<std::uint32_t>(Offered(c, 4, kSerial, "Stop Bit", FieldId::Stopbit));
    s.interface =
        static_cast<std::uint32_t>(Offered(c, 5, kSerial, "Interface", FieldId::Interface));
    if (!c.ok()) return std::nullopt;

    const auto name = c.Get(kZigBee, "Device Name");
    s.devname = name.value_or("0");
    // The modem takes printable ASCII only; anything else would be refused, or worse, after
    // the writes before the name.
    const bool printable = std::all_of(s.devname.begin(), s.devname.end(),
                                       [](char ch) { return ch >= 0x20 && ch <= 0x7E; });
    if (s.devname == "0" || s.devname.size() > kDevnameSize - 1 || !printable) {
        c.Refuse(6, kZigBee, "Device Name", name,
                 "must be at most 20 printable ASCII characters and not \"0\"");
        return std::nullopt;
    }

    s.devtype = static_cast<std::uint32_t>(Offered(c, 7, kZigBee, "Device Type", FieldId::Devtype));
    // A coordinator is node 0 and addresses nobody in particular.
    const std::int64_t dest_max = (c.ok() && s.devtype == 0) ? 0 : FieldOf(FieldId::Rnodeid).max;
    s.rnodeid =
        static_cast<std::uint32_t>(c.Integer(8, kZigBee, "Destination Node ID", 0, dest_max));
    if (!c.ok()) return std::nullopt;

    const auto panid_text = c.Get(kZigBee, "PAN ID");
    const auto panid = ParsePrefixedHex(panid_text.value_or("0"), 4);
    if (!panid || *panid > FieldOf(FieldId::Panid).max) {
        c.Refuse(9, kZigBee, "PAN ID", panid_text, "must be 0x and hexadecimal digits, 0..0xfffd");
        return std::nullopt;
    }
    s.panid = static_cast<std::uint32_t>(*panid);

    s.channel = static_cast<std::int32_t>(Offered(c, 10, kZigBee, "Channel", FieldId::Channel));
    s.outpower =
        static_cast<std::uint32_t>(Offered(c, 11, kZigBee, "Output Power", FieldId::Outpower));
    s.topology = static_cast<std::uint32_t>(Offered(c, 12, kZigBee, "Topology", FieldId::Topology));
    s.txmode = static_cast<std::uint32_t>(Offered(c, 13, kZigBee, "Mode", FieldId::Txmode));
    if (!c.ok()) return std::nullopt;

    const auto start_text = c.Get(kZigBee, "Start Byte");
    const auto start = ParsePrefixedHex(start_text.value_or("23"), 2);
    if (!start) {
        c.Refuse(14, kZigBee, "Start Byte", start_text,
                 "must be 0x and hexadecimal digits, 0..0xff");
        return std::nullopt;
    }
    s.startbyte = static_cast<std::uint8_t>(*start);

    // Missing means off; a word such as "on" is refused rather than read as off, which
    // would quietly drop the encryption.
    const auto security_text = c.Get(kZigBee, "Security");
    const auto security =
        security_text ? ParseInteger(*security_text) : std::optional<std::int64_t>(0);
    if (!security) {
        c.Refuse(15, kZigBee, "Security", security_text, "must be a whole number");
        return std::nullopt;
    }
    s.security = *security != 0;

    const auto key = c.Get(kZigBee, "AES Key");
    s.aeskey = key.value_or("0");
    const bool full_key = s.aeskey.size() == kAesKeySize - 1 && AllHexDigits(s.aeskey);
    if (s.aeskey == "0" || !(full_key || (!s.security && s.aeskey.empty()))) {
        c.Refuse(16, kZigBee, "AES Key", key,
                 s.security ? "must be 32 hexadecimal digits"
                            : "must be empty or 32 hexadecimal digits");
        return std::nullopt;
    }
    return s;
}

std::optional<ConfigSettings> LoadConfigFile(const std::string& path, ConfigRefusal* why) {
    Result<std::string> read = std::string();
    try {
        read = ReadWholeFile(path, kMaxFileSize);
    } catch (const std::bad_alloc&) {
        read = Error{ErrorText(ENOMEM)};
    }
    auto settings =
        ParseConfigSettings(read.ok() ? std::string_view(*read) : std::string_view(), why);
    if (!read.ok() && why != nullptr) {
        why->reason = "cannot read " + path + ": " + read.error().reason;
        why->unreadable = true;
    }
    return settings;
}

namespace {

void GiveSettings(DeviceRecord& r, const ConfigSettings& s) {
    r.baud = s.baud;
    r.parity = s.parity;
    r.databit = s.databit;
    r.stopbit = s.stopbit;
    r.interface = s.interface;
    SetText(r.devname, s.devname);
    r.devtype = s.devtype;
    r.rnodeid = s.rnodeid;
    r.panid = s.panid;
    r.channel = s.channel;
    r.outpower = s.outpower;
    r.topology = s.topology;
    r.txmode = s.txmode;
    r.startbyte = s.startbyte;
    r.security = s.security;
    SetText(r.aeskey, s.aeskey);
}

}  // namespace

std::vector<ConfigImportRefusal> ApplyConfigSettings(PortTable& rows, const ConfigSettings& s) {
    std::vector<ConfigImportRefusal> refused;
    for (PortRow& row : rows) {
        DeviceRecord* r = row.device.get();
        if (r == nullptr || !r->selected) continue;
        DeviceRecord would_be = *r;
        GiveSettings(would_be, s);
        if (std::optional<std::string> why = RecordRefusal(would_be)) {
            refused.push_back({r->com_no, std::move(*why)});
            continue;
        }
        *r = std::move(would_be);
        r->apply_pending = true;
    }
    return refused;
}

bool ReadConfigFile(const std::string& path, PortTable& rows, ConfigRefusal* why,
                    std::vector<ConfigImportRefusal>* refused) {
    const auto settings = LoadConfigFile(path, why);
    if (!settings) return false;
    std::vector<ConfigImportRefusal> left = ApplyConfigSettings(rows, *settings);
    if (refused != nullptr) *refused = std::move(left);
    return true;
}

}  // namespace zb
