// zbctl's output: the results, one per port, and the port list, printed as a table or as
// JSON. Pure formatting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/engine/firmware_image.h"
#include "jobs/model/port_table.h"
#include "jobs/model/text_escape.h"
#include "jobs/report/report_row.h"
#include "jobs/run/port_result.h"

namespace zbctl {

using zb::PortResult;

using zb::Printable;

// --show-keys: RenderJson shows the AES key itself rather than its fingerprint
// (zb::KeyFingerprint). Set once, before any job runs.
void ShowKeysInJson(bool show);

// One array, one object per result in the given order, one object per line, valid UTF-8
// (json_line.h):
// {"com", "ok", "message", "connected", "upgrade_wait", "settings": {every field as the
// window shows it, the key as the reports show it unless ShowKeysInJson; numbers where the
// field shows numbers} or null},
// with `files` "file": the file the command used or wrote (ReportRow::file) or null and
// "file_sha256": its SHA-256 or null, with `verify` "verify": {"ok", "diffs": [{"field",
// "sent", "read"}]} or null when the port was not read back, "holder": {"pid", "name"} of
// the process that held the port or null, and last "error": the open failure's reason or "".
// A dry run's object has "changes": [{"field", "from", "to"}] before "holder", null when the
// port was not compared. With a `label`, "run_id" and, when it has tags, "tags": {KEY: VALUE}
// come between "holder" and "error". The tags and the file are written as the reports store
// them (zb::StoredText).
std::string RenderJson(const std::vector<PortResult>& results, bool files = false,
                       bool verify = false, const zb::RunLabel* label = nullptr);

// A table for people: the port, ok or FAILED, the message and the main settings ("-" unless
// they were read), or with `all` every setting under its field's name in capitals (an empty
// one as "-"), and with `files` the file written. An open failure's reason follows the
// message, the fields a read-back found different follow a "Verify fail", and a dry run's
// changes follow its "would change" (zb::ChangeText). Every cell is one line of Printable
// text; each column is as wide as its widest cell.
std::string RenderTable(const std::vector<PortResult>& results, bool files = false,
                        bool all = false);

struct ListedPort;  // zbctl_system.h
// The list of `zbctl ports`: a line "COM<n> <path> [<description>]" per port, or one array
// of {"com", "path"} objects, with `scan` also "description".
// What a scan that gave COM `com` its number says: "COM17 is new: <the device its entry names>
// (port map: <the entry>)", made Printable.
std::string NewPortNote(std::int32_t com);

std::string RenderPortList(const std::vector<ListedPort>& ports, bool json, bool scan);

// What `zbctl image-info` shows of an image that passed every check but, perhaps, its
// checksum: lines "path: ", "type: 0x0101", "version: ", "body size: <n> bytes",
// "checksum: yes|no"; or one JSON object {"path", "type" (a number), "version", "body_size",
// "checksum_ok"} on one line.
std::string RenderImageInfo(const std::string& path, const zb::ImageFile& image, bool json);

}  // namespace zbctl
