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

// What a file holds for the field.
std::string FileText(const DeviceRecord& r, const RecordField& field) {
    const FileKey& file = field.file;
    switch (file.form) {
        case FileForm::Index:
            return std::to_string(NumberOf(r, field));
        case FileForm::Count:
            return std::to_string(WireValueOf(r, field));
        case FileForm::Hex: {
            const auto mask = (std::uint64_t{1} << (4 * file.digits)) - 1;
            char text[24];
            std::snprintf(text, sizeof text, "0x%0*llx", file.digits,
                          static_cast<unsigned long long>(
                              static_cast<std::uint64_t>(NumberOf(r, field)) & mask));
            return text;
        }
        case FileForm::Text:
        case FileForm::Key:
            return TextFieldOf(r, field);
        case FileForm::Flag:
            return NumberOf(r, field) != 0 ? "1" : "0";
        case FileForm::None:
            break;
    }
    return {};
}

std::string HexText(std::int64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

// Checks the value a file gives the field (std::nullopt: the key is missing) and stores it
// in `s`. The fields before it in the file are in `s` already.
Status TakeKey(ConfigSettings& s, const RecordField& field,
               const std::optional<std::string>& text) {
    const auto store = [&s, &field](std::int64_t number, std::string value = {}) {
        StoreValue(s, FieldValue{field.id, number, std::move(value)});
        return Status();
    };
    switch (field.file.form) {
        case FileForm::Index:
        case FileForm::Count: {
            const std::int64_t offset = field.file.form == FileForm::Count ? field.wire_offset : 0;
            std::int64_t hi = field.max + offset;
            // A coordinator is node 0 and addresses nobody in particular.
            if (field.id == FieldId::Rnodeid && s.devtype == 0) hi = 0;
            // A missing key or one that is no number reads as -1.
            const std::int64_t v = text ? ParseInteger(*text).value_or(-1) : -1;
            if (v < field.min + offset || v > hi)
                return Status::Fail(RangeText(field.min + offset, hi));
            return store(v - offset);
        }
        case FileForm::Text: {
            const std::string value = text.value_or("0");
            // The modem takes printable ASCII only; anything else would be refused, or worse,
            // after the writes before the name.
            const bool printable = std::all_of(value.begin(), value.end(),
                                               [](char ch) { return ch >= 0x20 && ch <= 0x7E; });
            if (value == "0" || static_cast<std::int64_t>(value.size()) > field.max || !printable)
                return Status::Fail("must be at most " + std::to_string(field.max) +
                                    " printable ASCII characters and not \"0\"");
            return store(0, value);
        }
        case FileForm::Hex: {
            const auto v =
                ParsePrefixedHex(text.value_or(""), static_cast<std::size_t>(field.file.digits));
            if (!v || *v > field.max)
                return Status::Fail("must be 0x and hexadecimal digits, 0.." + HexText(field.max));
            return store(*v);
        }
        case FileForm::Flag: {
            // Missing means off; a word such as "on" is refused rather than read as off, which
            // would quietly drop the encryption.
            const auto v = text ? ParseInteger(*text) : std::optional<std::int64_t>(0);
            if (!v) return Status::Fail("must be a whole number");
            return store(*v != 0);
        }
        case FileForm::Key: {
            const std::string key = text.value_or("0");
            const bool full_key =
                static_cast<std::int64_t>(key.size()) == field.max && AllHexDigits(key);
            if (key == "0" || !(full_key || (!s.security && key.empty())))
                return Status::Fail(s.security ? "must be 32 hexadecimal digits"
                                               : "must be empty or 32 hexadecimal digits");
            return store(0, key);
        }
        case FileForm::None:
            break;
    }
    return {};
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

std::string IniText::Text(std::string_view line_end) const {
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += line_end;
    }
    return text;
}

std::string ConfigFileName(std::uint32_t com) {
    return "KRB7310_Config" + std::to_string(com) + ".txt";
}

void PutSettings(IniText& ini, const DeviceRecord& r) {
    for (const RecordField* field : FieldsInFile())
        ini.Set(field->file.section, field->file.key, FileText(r, *field));
}

namespace {

// `new_mode` is what a file that does not exist yet gets; an existing file keeps its own.
Status WriteFileAs(const std::string& path, const DeviceRecord& record, std::uint32_t new_mode) {
    try {
        for (const RecordField* field : FieldsInFile())
            if (field->kind == FieldKind::Text &&
                TextFieldOf(record, *field).find_first_of("\r\n") != std::string::npos)
                return Status::Fail("a text holds a line break");

        const Result<std::string> read = ReadWholeFile(path, kMaxFileSize);
        if (!read && !read.error().missing) return read.error();

        IniText ini = IniText::Parse(read ? *read : std::string());
        PutSettings(ini, record);
        // The network's key makes the file its owner's alone, also one that others could
        // read before it held a key.
        const auto fields = FieldsInFile();
        const bool key = std::any_of(fields.begin(), fields.end(), [&record](const RecordField* f) {
            return f->file.form == FileForm::Key && !FileText(record, *f).empty();
        });
        return ReplaceWholeFile(path, ini.Text(TextLineEnd()), read.ok(), new_mode, true,
                                key ? FileReaders::OwnerOnly : FileReaders::AsBefore);
    } catch (const std::bad_alloc&) {
        return Status::Fail(ErrorText(ENOMEM));
    }
}

}  // namespace

Status WriteConfigFile(const std::string& path, const DeviceRecord& record) {
    return WriteFileAs(path, record, NewFileMode());
}

std::vector<ConfigWriteFailure> WriteConfigFiles(const PortTable& rows, const std::string& folder) {
    // Read once for the whole export rather than once per file.
    const std::uint32_t new_mode = NewFileMode();
    std::vector<ConfigWriteFailure> failures;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const DeviceRecord* r = rows[i].device.get();
        if (r == nullptr || !r->selected) continue;
        const auto com = static_cast<std::uint32_t>(i + 1);
        ConfigWriteFailure failure{com, JoinPath(folder, ConfigFileName(com)), {}};
        // Without a folder the name would land in the file system's root.
        if (folder.empty()) {
            failure.reason = "no folder given";
        } else {
            const Status written = WriteFileAs(failure.path, *r, new_mode);
            if (written) continue;
            failure.reason = written.reason();
        }
        failures.push_back(std::move(failure));
    }
    return failures;
}

Result<ConfigSettings, ConfigRefusal> ParseConfigSettings(std::string_view text) {
    const IniText ini = IniText::Parse(text);
    ConfigSettings s;
    int step = 0;
    for (const RecordField* field : FieldsInFile()) {
        if (!field->file.read) continue;
        ++step;
        const FileKey& key = field->file;
        std::optional<std::string> value = ini.Get(key.section, key.key);
        if (const Status taken = TakeKey(s, *field, value); !taken) {
            // Refusals are shown and logged: the network's key is named, never quoted.
            if (value && field->file.form == FileForm::Key) value = "(not shown)";
            return ConfigRefusal{step, std::string(key.section), std::string(key.key),
                                 std::move(value), taken.reason()};
        }
    }
    return s;
}

Result<ConfigSettings, ConfigRefusal> LoadConfigFile(const std::string& path) {
    Result<std::string> read = std::string();
    try {
        read = ReadWholeFile(path, kMaxFileSize);
    } catch (const std::bad_alloc&) {
        read = Error{ErrorText(ENOMEM)};
    }
    auto settings = ParseConfigSettings(read.ok() ? std::string_view(*read) : std::string_view());
    if (settings || read.ok()) return settings;
    ConfigRefusal why = settings.error();
    why.reason = "cannot read " + path + ": " + read.error().reason;
    why.unreadable = true;
    return why;
}

namespace {

// The fields a file is read for; each record keeps the rest.
void GiveSettings(DeviceRecord& r, const ConfigSettings& s) {
    for (const RecordField* field : FieldsInFile())
        if (field->file.read) CopyField(r, s, *field);
}

}  // namespace

std::vector<ConfigImportRefusal> ApplyConfigSettings(
    PortTable& rows, const ConfigSettings& s,
    const std::map<std::int32_t, std::vector<FieldValue>>& values) {
    std::vector<ConfigImportRefusal> refused;
    for (PortRow& row : rows) {
        DeviceRecord* r = row.device.get();
        if (r == nullptr || !r->selected) continue;
        DeviceRecord would_be = *r;
        GiveSettings(would_be, s);
        if (const auto own = values.find(static_cast<std::int32_t>(r->com_no)); own != values.end())
            for (const FieldValue& value : own->second) StoreValue(would_be, value);
        if (std::optional<std::string> why = RecordRefusal(would_be)) {
            refused.push_back({r->com_no, std::move(*why)});
            continue;
        }
        *r = std::move(would_be);
        r->apply_pending = true;
    }
    return refused;
}

Result<std::vector<ConfigImportRefusal>, ConfigRefusal> ReadConfigFile(const std::string& path,
                                                                       PortTable& rows) {
    const auto settings = LoadConfigFile(path);
    if (!settings) return settings.error();
    return ApplyConfigSettings(rows, *settings);
}

}  // namespace zb
