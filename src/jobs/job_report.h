// Per-port job reports: one row per port and try of a job, kept in a CSV or JSON file that
// grows over a whole shift. Also the read-back comparison of an apply job, whose result a
// row carries.
//
// Standard C++ and POSIX only. The functions keep no state. AppendReport serialises
// writers of one folder, other processes included, with a lock on the folder; the rest
// are pure.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/port_table.h"

namespace zb {

// One settings field as the report shows it: numbers as decimal digits, texts as stored.
struct ReportValue {
    std::string name;
    std::string value;
    bool number = false;
};

// A written field that the device reports otherwise: the value sent and the one read back,
// both as ReportValue shows them.
struct ReportDiff {
    std::string field;
    std::string sent;
    std::string read;
};

struct ReportRow {
    std::string time;  // when the port's part ended, ISO 8601 in UTC (ReportTime)
    std::int32_t com = 0;
    std::string device;   // the device path the port map gave for the COM number
    std::string command;  // read, apply, upgrade, export, import
    std::int32_t attempt = 1;
    bool ok = false;
    std::string message;
    std::string fw_before;  // upgrade: the version before and after; otherwise empty
    std::string fw_after;
    std::vector<ReportValue> settings;  // empty: none were read
    bool verified = false;              // a read-back of the written fields was made
    bool verify_ok = false;             // it read the device and found what was written
    std::vector<ReportDiff> diffs;      // the fields that came back different
};

// "2025-03-04T05:06:07Z".
std::string ReportTime(std::chrono::system_clock::time_point when);

// Every settings field of the record (RecordFields order).
std::vector<ReportValue> ReportSettings(const DeviceRecord& record);

// The fields an apply job writes, compared between the record it wrote (`sent`) and the
// record a read job filled afterwards: the serial and radio settings, the device name,
// both node IDs, the start byte, and security with, when on, the key (hex digits compared
// without regard to case). Empty when the device holds what was sent.
std::vector<ReportDiff> WrittenDiffs(const DeviceRecord& sent, const DeviceRecord& read);

// A port's last message as the operator reads it: an open failure gets the note that the
// record keeps ("Open port fail (held by minicom, pid 4242)").
std::string WithOpenNote(const DeviceRecord& record, std::string message);

// The row of a port after a job of `command` ran on it, from its record and the last message
// the job showed for it. An open failure's message gets the operator's note that the record
// keeps ("Open port fail (held by minicom, pid 4242)"); a read or export that succeeded
// gives the settings; an upgrade gives the version the record held before (fw_before),
// since the upgrade itself reads nothing back. `device` is the path the port map gives.
ReportRow PortReportRow(const DeviceRecord& record, std::int32_t com, bool ok, std::string message,
                        std::string_view command, std::string device, std::string time);

enum class ReportFormat { Csv, Json };

// JSON for a path ending in ".json" (any case), CSV otherwise.
ReportFormat ReportFormatOf(std::string_view path);

// The CSV header line and one row's line, each ending in a newline. Every byte outside
// printable ASCII is written as \xHH, so a row stays one line; a text cell that begins
// with = + - or @ gets a leading ' so that a spreadsheet takes it as text, never as a
// formula.
std::string CsvHeader();
std::string CsvLine(const ReportRow& row);
// One row as a JSON object on one line, no newline.
std::string JsonObject(const ReportRow& row);

// Whether rows can be appended to `path`: its folder exists and is writable, and a file
// already there is a regular file holding a report of this format (for CSV, our header
// first; for JSON, one array). Says why not in *error, in words that follow the name of
// what gave the path ("--report needs a file name, not ...").
bool CheckReportFile(const std::string& path, std::string* error);

// Appends the rows to the report at `path`, creating it (with the CSV header) when it is
// missing or empty. The new file is written beside the old one under a temporary name,
// flushed to disk and renamed over it, so a reader or a crash sees the old report or the
// new one, never a part; an existing file keeps its permissions. Refuses, changing
// nothing, a file that CheckReportFile would refuse. False with the reason in *error.
bool AppendReport(const std::string& path, const std::vector<ReportRow>& rows, std::string* error);

}  // namespace zb
