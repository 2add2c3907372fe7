#include "jobs/report_format.h"

#include <string>

#include "jobs/record_fields.h"
#include "jobs/text_escape.h"

namespace zb {
namespace {

constexpr std::string_view kCsvColumns[] = {"time",   "com",     "device",    "command", "try",
                                            "result", "message", "fw_before", "fw_after"};

bool EndsInJson(std::string_view path) {
    constexpr std::string_view kJson = ".json";
    if (path.size() < kJson.size()) return false;
    const std::string_view end = path.substr(path.size() - kJson.size());
    for (std::size_t i = 0; i < kJson.size(); ++i) {
        const char c =
            end[i] >= 'A' && end[i] <= 'Z' ? static_cast<char>(end[i] - 'A' + 'a') : end[i];
        if (c != kJson[i]) return false;
    }
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

}  // namespace

ReportFormat ReportFormatOf(std::string_view path) {
    return EndsInJson(path) ? ReportFormat::Json : ReportFormat::Csv;
}

std::string CsvHeader() {
    std::string line;
    for (const std::string_view column : kCsvColumns) line += std::string(column) + ",";
    for (const RecordField& field : RecordFields()) line += std::string(field.name) + ",";
    return line + "verify\n";
}

std::string VerifyText(const ReportRow& row) {
    if (!row.verified) return "";
    return row.verify_ok ? "ok" : row.diffs.empty() ? "not read back" : DiffsText(row.diffs);
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
    if (row.verified) line += CsvCell(VerifyText(row));
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

}  // namespace zb
