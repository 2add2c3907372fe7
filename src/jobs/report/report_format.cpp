#include "jobs/report/report_format.h"

#include <string>

#include "jobs/model/json_line.h"
#include "jobs/model/record_fields.h"
#include "jobs/model/text_escape.h"

namespace zb {
namespace {

constexpr std::string_view kCsvColumns[] = {"time",   "com",     "device",    "command", "try",
                                            "result", "message", "fw_before", "fw_after"};

// `made`: a text the program made itself, stored as StoredText gives it; any other text is
// stored Printable.
std::string CsvCell(std::string_view text, bool number = false, bool made = false) {
    std::string cell;
    if (!number && !text.empty() &&
        (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@'))
        cell += '\'';
    bool quote = false;
    for (const char c : made ? StoredText(text) : Printable(text)) {
        if (c == '"' || c == ',') quote = true;
        cell += c;
        if (c == '"') cell += '"';
    }
    if (!cell.empty() && (cell.front() == ' ' || cell.back() == ' ')) quote = true;
    return quote ? "\"" + cell + "\"" : cell;
}

std::string MadeCell(std::string_view text) {
    return CsvCell(text, false, true);
}

std::string DiffsText(const std::vector<ReportDiff>& diffs) {
    std::string text;
    for (const ReportDiff& d : diffs) text += (text.empty() ? "" : "; ") + DiffText(d);
    return text;
}

}  // namespace

const std::vector<std::string_view> kMadeKeys = {"device",  "command", "run_id",     "tags",
                                                 "port_id", "file",    "file_sha256"};

ReportFormat ReportFormatOf(std::string_view path) {
    return EndsIgnoringCase(path, ".json") ? ReportFormat::Json : ReportFormat::Csv;
}

nlohmann::ordered_json TagsObject(const Tags& tags) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const auto& [key, value] : tags) object[key] = value;
    return object;
}

std::string TagsJson(const Tags& tags) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const auto& [key, value] : tags) object[StoredText(key)] = StoredText(value);
    return object.dump();
}

std::string CsvHeader(bool with_run, bool with_file) {
    std::string line;
    for (const std::string_view column : kCsvColumns) line += std::string(column) + ",";
    for (const RecordField& field : RecordFields()) line += std::string(field.name) + ",";
    if (!with_run) return line + "verify\n";
    return line + (with_file ? "verify,run_id,tags,port_id,file,file_sha256\n"
                             : "verify,run_id,tags,port_id\n");
}

std::string VerifyText(const ReportRow& row) {
    if (!row.verified) return "";
    return row.verify_ok ? "ok" : row.diffs.empty() ? "not read back" : DiffsText(row.diffs);
}

std::string CsvLine(const ReportRow& row, bool with_run, bool with_file) {
    std::string line = CsvCell(row.time) + "," + "COM" + std::to_string(row.com) + "," +
                       MadeCell(row.device) + "," + MadeCell(row.command) + "," +
                       std::to_string(row.attempt) + "," + (row.ok ? "ok" : "failed") + "," +
                       CsvCell(row.message) + "," + CsvCell(row.fw_before) + "," +
                       CsvCell(row.fw_after) + ",";
    for (const RecordField& field : RecordFields()) {
        for (const ReportValue& v : row.settings)
            if (v.name == field.name) line += CsvCell(v.value, v.number);
        line += ",";
    }
    if (row.verified) line += CsvCell(VerifyText(row));
    if (with_run)
        line += "," + MadeCell(row.run_id) + "," + MadeCell(TagsJson(row.tags)) + "," +
                MadeCell(row.port_id);
    if (with_run && with_file) line += "," + MadeCell(row.file) + "," + MadeCell(row.file_sha256);
    return line + "\n";
}

std::string JsonObject(const ReportRow& row) {
    nlohmann::ordered_json out = {{"time", row.time},         {"com", row.com},
                                  {"device", row.device},     {"command", row.command},
                                  {"try", row.attempt},       {"result", row.ok ? "ok" : "failed"},
                                  {"message", row.message},   {"fw_before", row.fw_before},
                                  {"fw_after", row.fw_after}, {"settings", nullptr},
                                  {"verify", nullptr}};
    if (!row.settings.empty()) {
        nlohmann::ordered_json& settings = out["settings"] = nlohmann::ordered_json::object();
        for (const ReportValue& v : row.settings) settings[v.name] = ShownJson(v.value, v.number);
    }
    if (row.verified) {
        nlohmann::ordered_json diffs = nlohmann::ordered_json::array();
        for (const ReportDiff& d : row.diffs)
            diffs.push_back({{"field", d.field}, {"sent", d.sent}, {"read", d.read}});
        out["verify"] = {{"ok", row.verify_ok}, {"diffs", std::move(diffs)}};
    }
    out["run_id"] = row.run_id;
    out["tags"] = TagsObject(row.tags);
    out["port_id"] = row.port_id;
    out["file"] = row.file.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(row.file);
    out["file_sha256"] = row.file_sha256.empty() ? nlohmann::ordered_json()
                                                 : nlohmann::ordered_json(row.file_sha256);
    return JsonLine(out, kMadeKeys);
}

}  // namespace zb
