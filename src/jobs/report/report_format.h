// A job report's file formats: the CSV header and lines, and the JSON objects, of the rows
// that report_append.h adds to a file. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "jobs/model/json_line.h"
#include "jobs/report/report_row.h"

namespace zb {

enum class ReportFormat { Csv, Json };

// JSON for a path ending in ".json" (any case), CSV otherwise.
ReportFormat ReportFormatOf(std::string_view path);

// A run's tags as a JSON object, in the order given; for JsonLine, which makes its texts
// valid UTF-8.
nlohmann::ordered_json TagsObject(const Tags& tags);
// A run's tags as one JSON object on one line, compact, valid UTF-8, each text as
// StoredText gives it: {"operator":"ana","order":"WO-17"}; "{}" for none.
std::string TagsJson(const Tags& tags);

// The CSV header line and one row's line, each ending in a newline. The texts are
// Printable: every byte outside printable ASCII is written as \xHH, so a row stays one line,
// and a backslash as \\; but the texts the program made itself (device, command, run_id,
// tags, port_id, file, file_sha256) are StoredText. A text cell that begins with = + - or @
// gets a leading ' so that a spreadsheet takes it as text, never as a formula. The run's
// columns (run_id, tags as TagsJson, port_id) come last, then the file's (file,
// file_sha256); a file begun by an earlier release keeps its header, and its rows are
// written without the columns it lacks (`with_run`, `with_file`).
std::string CsvHeader(bool with_run = true, bool with_file = true);
std::string CsvLine(const ReportRow& row, bool with_run = true, bool with_file = true);
// The CSV report's verify cell before quoting: empty when not verified; "ok"; the fields
// that came back different; or "not read back".
std::string VerifyText(const ReportRow& row);
// One row as a JSON object on one line, no newline, valid UTF-8 (json_line.h); settings as
// the window shows them, numbers where the field shows numbers; the texts the program made
// itself (kMadeKeys) as StoredText gives them; file and file_sha256 null when none.
std::string JsonObject(const ReportRow& row);
// The keys of a row's object, and of zbctl's results, whose texts the program made itself.
extern const std::vector<std::string_view> kMadeKeys;

}  // namespace zb
