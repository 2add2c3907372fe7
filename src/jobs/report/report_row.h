// A job report's row: what became of one port in one try of a job, as the report files and
// databases keep it. Also the read-back comparison of an apply job, whose result a row
// carries. A run makes its rows from each port's result (jobs/run/port_result.h), so a port
// reads the same in the window's report and in zbctl's.
//
// Plain data, and pure functions; any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jobs/model/port_table.h"

namespace zb {

// One settings field as the report shows it: as the window shows it (ShownText, "20" for
// channel 20, "Even", "1A2B" for a PAN ID), texts as stored. `number`: the field shows
// decimal numbers (ShowsNumber).
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

// "channel: sent 20, read 11"; for the key, "aeskey: differs from the key sent".
std::string DiffText(const ReportDiff& diff);
// A change a write would make: "channel: 11 → 20" (read → sent); for the key, "aeskey: would
// change". The values come Printable, the arrow as UTF-8: not to be made Printable again.
std::string ChangeText(const ReportDiff& diff);

// A read-back of the written fields: whether it read the device and found what was
// written, and the fields that came back different.
struct ReadBack {
    bool ok = false;
    std::vector<ReportDiff> diffs;
};

// A run's --tag KEY=VALUE pairs, in the order given; a key at most once.
using Tags = std::vector<std::pair<std::string, std::string>>;

// Which run a row comes from, and who ran it: the same for every row of one run or one
// watch session.
struct RunLabel {
    std::string run_id;  // NewRunId
    Tags tags;
};

// A random run ID: 32 lower-case hexadecimal digits.
std::string NewRunId();

struct ReportRow {
    std::string time;  // when the port's part ended, ISO 8601 in UTC (ReportTime)
    std::string run_id;
    Tags tags;
    std::string port_id;  // com_port_id when the port's job began: its stable identity
    std::int32_t com = 0;
    std::string device;   // the device path the port map gave for the COM number then
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
    // The file the command used: an upgrade's image, an import's configuration file, the
    // file an export wrote; and the SHA-256 of its content (64 lower-case hex digits).
    // Empty when none, or when it could not be read.
    std::string file;
    std::string file_sha256;
};

// What a row says beyond the port's result and record.
struct RowContext {
    std::string_view command;         // read, apply, upgrade, export, import
    const RunLabel* label = nullptr;  // none: the row names no run
    std::string time;                 // ReportTime; for a port whose result has no time
    std::int32_t attempt = 1;
    // The record holds the device's settings at the end of the port's part: those a read
    // or export found, those an apply or import wrote; an upgrade gives the version it
    // reads afterwards as fw_after.
    bool device_read = false;
    std::string fw_before;  // upgrade: the version the device had before
    // Upgrade: the device as read before, whose settings the row carries when it was not
    // read afterwards; null when it was not read.
    const DeviceRecord* read_before = nullptr;
};

// "2025-03-04T05:06:07Z".
std::string ReportTime(std::chrono::system_clock::time_point when);

// What reports show of the network's AES key, which a line's shared database must not hold:
// "sha256:" and the first 8 hexadecimal digits (lower case) of the SHA-256 of the key's
// digits in upper case, as ASCII; "" for no key. A line checks that every modem got the
// key it expects without reading it:
//   printf %s 00112233445566778899aabbccddeeff | tr a-f A-F | sha256sum | cut -c1-8
std::string KeyFingerprint(std::string_view key);

// Every settings field of the record (RecordFields order), the key as its KeyFingerprint
// unless `show_key`.
std::vector<ReportValue> ReportSettings(const DeviceRecord& record, bool show_key = false);

// The fields an apply job writes, compared between the record it wrote (`sent`) and the
// record a read job filled afterwards: the serial and radio settings, the device name,
// both node IDs, the start byte, and security with, when on, the key (hex digits compared
// without regard to case; a diff holds the keys' fingerprints). Empty when the device holds
// what was sent.
std::vector<ReportDiff> WrittenDiffs(const DeviceRecord& sent, const DeviceRecord& read);

}  // namespace zb
