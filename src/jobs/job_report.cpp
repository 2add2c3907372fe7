#include "jobs/job_report.h"

#include <cstdio>
#include <string>

#include "jobs/file_storage.h"
#include "jobs/record_fields.h"
#include "jobs/report_file.h"
#include "jobs/text_escape.h"

namespace zb {
namespace {

// The apply job's sixteen writes, by field; security and its key are compared apart.
constexpr std::string_view kWrittenFields[] = {
    "baud",    "databit", "stopbit", "parity",   "interface", "devname", "channel",   "devtype",
    "lnodeid", "rnodeid", "panid",   "outpower", "topology",  "txmode",  "startbyte",
};

constexpr std::string_view kCsvColumns[] = {"time",   "com",     "device",    "command", "try",
                                            "result", "message", "fw_before", "fw_after"};

std::string FieldValue(const DeviceRecord& record, const RecordField& field) {
    return field.kind == FieldKind::Text ? TextFieldOf(record, field)
                                         : std::to_string(NumberOf(record, field));
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string CsvCell(std::string_view text, bool number = false) {
    std::string cell;
    if (!number && !text.empty() &&
        (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@'))
        cell += '\'';
    bool quote = false;
    for (const char c : Printable(text)) {
        if (c == '"' || c == ',') quote = true;
        cell += c;
        if (c == '"') cell += '"';
    }
    if (!cell.empty() && (cell.front() == ' ' || cell.back() == ' ')) quote = true;
    return quote ? "\"" + cell + "\"" : cell;
}

// A number field's value is written bare only when it is plain digits.
std::string JsonValue(const ReportValue& v) {
    const bool digits = v.number && !v.value.empty() &&
                        v.value.find_first_not_of("0123456789") == std::string::npos;
    return digits ? v.value : JsonString(v.value);
}

std::string DiffsText(const std::vector<ReportDiff>& diffs) {
    std::string text;
    for (const ReportDiff& d : diffs) {
        if (!text.empty()) text += "; ";
        text += d.field + ": sent " + d.sent + ", read " + d.read;
    }
    return text;
}

bool Blank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// Whether the content is a report of this format we may append to.
bool Recognised(const std::string& path, const std::string& content, ReportFormat format,
                std::string* error) {
    if (Blank(content)) return true;
    if (format == ReportFormat::Csv) {
        const std::string header = CsvHeader();
        if (content.compare(0, header.size(), header) == 0) return true;
        *error = path +
                 ": not a report of this program (its first line is not the header "
                 "this version writes)";
        return false;
    }
    const std::size_t first = content.find_first_not_of(" \t\r\n");
    const std::size_t last = content.find_last_not_of(" \t\r\n");
    if (content[first] == '[' && content[last] == ']') return true;
    *error = path + ": not a JSON array";
    return false;
}

}  // namespace

std::string ReportTime(std::chrono::system_clock::time_point when) {
    // The civil calendar of <chrono>: thread-safe, and the same on every platform.
    using namespace std::chrono;
    const auto secs = floor<seconds>(when);
    const auto day = floor<days>(secs);
    const year_month_day date{day};
    const hh_mm_ss time{secs - day};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return buf;
}

std::vector<ReportValue> ReportSettings(const DeviceRecord& record) {
    std::vector<ReportValue> values;
    for (const RecordField& field : RecordFields())
        values.push_back(
            {std::string(field.name), FieldValue(record, field), field.kind == FieldKind::Number});
    return values;
}

std::vector<ReportDiff> WrittenDiffs(const DeviceRecord& sent, const DeviceRecord& read) {
    std::vector<ReportDiff> diffs;
    const auto compare = [&](std::string_view name, bool ignore_case) {
        const RecordField& field = *FindRecordField(name);
        std::string a = FieldValue(sent, field);
        std::string b = FieldValue(read, field);
        if (ignore_case ? !SameIgnoringCase(a, b) : a != b)
            diffs.push_back({std::string(name), std::move(a), std::move(b)});
    };
    for (const std::string_view name : kWrittenFields) compare(name, false);
    compare("security", false);
    if (sent.security && read.security) compare("aeskey", true);
    return diffs;
}

std::string WithOpenNote(const DeviceRecord& record, std::string message) {
    const std::string_view note = TextOf(record.open_note);
    if (message == "Open port fail" && !note.empty()) message += " (" + std::string(note) + ")";
    return message;
}

ReportRow PortReportRow(const DeviceRecord& record, std::int32_t com, bool ok, std::string message,
                        std::string_view command, std::string device, std::string time) {
    ReportRow row;
    row.time = std::move(time);
    row.com = com;
    row.device = std::move(device);
    row.command = std::string(command);
    row.ok = ok;
    row.message = WithOpenNote(record, std::move(message));
    if (command == "upgrade") row.fw_before = std::string(TextOf(record.fw_version));
    if (ok && (command == "read" || command == "export")) row.settings = ReportSettings(record);
    return row;
}

ReportFormat ReportFormatOf(std::string_view path) {
    constexpr std::string_view kJson = ".json";
    return path.size() >= kJson.size() &&
                   SameIgnoringCase(path.substr(path.size() - kJson.size()), kJson)
               ? ReportFormat::Json
               : ReportFormat::Csv;
}

std::string CsvHeader() {
    std::string line;
    for (const std::string_view column : kCsvColumns) line += std::string(column) + ",";
    for (const RecordField& field : RecordFields()) line += std::string(field.name) + ",";
    return line + "verify\n";
}

std::string CsvLine(const ReportRow& row) {
    std::string line = CsvCell(row.time) + "," + "COM" + std::to_string(row.com) + "," +
                       CsvCell(row.device) + "," + CsvCell(row.command) + "," +
                       std::to_string(row.attempt) + "," + (row.ok ? "ok" : "failed") + "," +
                       CsvCell(row.message) + "," + CsvCell(row.fw_before) + "," +
                       CsvCell(row.fw_after) + ",";
    for (const RecordField& field : RecordFields()) {
        for (const ReportValue& v : row.settings)
            if (v.name == field.name) line += CsvCell(v.value, v.number);
        line += ",";
    }
    // Empty: not verified; "ok"; the fields that came back different; or why the device
    // could not be read back.
    if (row.verified)
        line += row.verify_ok       ? "ok"
                : row.diffs.empty() ? "not read back"
                                    : CsvCell(DiffsText(row.diffs));
    return line + "\n";
}

std::string JsonObject(const ReportRow& row) {
    std::string out =
        "{\"time\": " + JsonString(row.time) + ", \"com\": " + std::to_string(row.com) +
        ", \"device\": " + JsonString(row.device) + ", \"command\": " + JsonString(row.command) +
        ", \"try\": " + std::to_string(row.attempt) +
        ", \"result\": " + (row.ok ? "\"ok\"" : "\"failed\"") +
        ", \"message\": " + JsonString(row.message) +
        ", \"fw_before\": " + JsonString(row.fw_before) +
        ", \"fw_after\": " + JsonString(row.fw_after) + ", \"settings\": ";
    if (row.settings.empty()) {
        out += "null";
    } else {
        out += "{";
        for (std::size_t i = 0; i < row.settings.size(); ++i)
            out += (i == 0 ? "" : ", ") + JsonString(row.settings[i].name) + ": " +
                   JsonValue(row.settings[i]);
        out += "}";
    }
    out += ", \"verify\": ";
    if (!row.verified) return out + "null}";
    out += std::string("{\"ok\": ") + (row.verify_ok ? "true" : "false") + ", \"diffs\": [";
    for (std::size_t i = 0; i < row.diffs.size(); ++i) {
        const ReportDiff& d = row.diffs[i];
        out += (i == 0 ? "{" : ", {") + std::string("\"field\": ") + JsonString(d.field) +
               ", \"sent\": " + JsonString(d.sent) + ", \"read\": " + JsonString(d.read) + "}";
    }
    return out + "]}}";
}

bool CheckReportFile(const std::string& path, std::string* error) {
    if (path.empty() || detail::EndsInSeparator(path)) {
        *error = "needs a file name, not \"" + path + "\"";
        return false;
    }
    std::string content;
    bool exists = false;
    return detail::CheckWritableFolder(detail::ReportFolder(path), error) &&
           detail::ReadReportFile(path, &content, &exists, error) &&
           Recognised(path, content, ReportFormatOf(path), error);
}

bool AppendReport(const std::string& path, const std::vector<ReportRow>& rows, std::string* error) {
    // Two programs appending at once would each write the old rows plus their own, and one
    // set of rows would be lost; the folder's lock makes them take turns.
    detail::ReportFolderLock lock;
    if (!lock.Lock(detail::ReportFolder(path), error)) return false;
    std::string content;
    bool exists = false;
    const ReportFormat format = ReportFormatOf(path);
    bool ok = detail::ReadReportFile(path, &content, &exists, error) &&
              Recognised(path, content, format, error);
    if (ok) {
        if (format == ReportFormat::Csv) {
            if (Blank(content)) content = CsvHeader();
            if (content.back() != '\n') content += '\n';
            for (const ReportRow& row : rows) content += CsvLine(row);
        } else {
            bool first = true;
            if (Blank(content)) {
                content = "[";
            } else {
                content.resize(content.find_last_not_of(" \t\r\n"));  // drop the ']'
                const std::size_t end = content.find_last_not_of(" \t\r\n");
                first = content[end] == '[';
                content.resize(end + 1);
            }
            for (const ReportRow& row : rows) {
                content += first ? "\n  " : ",\n  ";
                first = false;
                content += JsonObject(row);
            }
            content += "\n]\n";
        }
        ok = lock.Replace(path, content, error);
    }
    return ok;
}

}  // namespace zb
