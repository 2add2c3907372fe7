// What became of one port in a run: the one result that zbctl's table and JSON, watch's
// station lines, the report rows and the window's report all render.
//
// Plain data; any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/engine/port_outcome.h"
#include "jobs/model/port_table.h"
#include "jobs/report/report_row.h"

namespace zb {

struct PortResult {
    std::int32_t com = 0;
    bool ok = false;
    FailureKind failure = FailureKind::None;  // why it failed; None when ok
    std::string message;          // what became of the port, usually its last message in the job
    std::string error;            // why the port could not be opened, in system terms; or empty
    std::int32_t holder_pid = 0;  // the process that held the port, when one was found
    std::string holder_name;
    bool settings = false;  // the record holds settings read from the device in this run
    // Which port it was when its job began: the device path its COM number led to and its
    // stable identity (com_device_path, com_port_id); empty when unknown.
    std::string device;
    std::string port_id;
    // The file the command used (ReportRow::file): export's the file written; empty when none.
    std::string file;
    std::string file_sha256;
    DeviceRecord record;            // copied after the job; its link is not used
    bool verified = false;          // a read-back of the written fields was made
    bool verify_ok = false;         // it found what was written
    std::vector<ReportDiff> diffs;  // the fields it found different
    bool dry_run = false;           // a run that reads and writes nothing
    // A dry run's port that was read: the fields the write would change, "sent" the value
    // it would get, "read" the device's own; unset when the port got no further.
    std::optional<std::vector<ReportDiff>> changes;
    // When the port's part ended: the moment PortRun::Finish ended it; unset when unknown.
    std::chrono::system_clock::time_point updated{};
};

// The result of a port whose part ended with `outcome`: its result, time and message (an
// open failure with the note the record keeps: "Open port fail (held by minicom, pid
// 4242)"), and the open failure's facts and the record as they are now.
PortResult ResultOf(const PortOutcome& outcome, const DeviceRecord& record);

// A failed image check of the type says which types differ: "... (image 0x101, modem 0x202)",
// "(image none, modem 0x202)".
std::string WithFirmwareTypes(std::string message, std::optional<std::uint32_t> image,
                              std::uint32_t modem);

// The port's row: its result, time, message (an open failure without a note gets the
// system's reason after a colon), read-back, device path, identity and file, and what
// `context` adds. Asks nothing of the system.
ReportRow PortReportRow(const PortResult& result, const DeviceRecord& record,
                        const RowContext& context);

}  // namespace zb
