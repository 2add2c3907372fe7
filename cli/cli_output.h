// zbctl's results: one per port, printed as a table or as JSON. Pure formatting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "port_table.h"

namespace zbctl {

struct PortResult {
    std::int32_t com = 0;
    bool ok = false;
    std::string message;      // what became of the port, usually its last message in the job
    bool settings = false;    // the record holds settings read from the device in this run
    std::string file;         // export: the file written; empty when none was
    zb::DeviceRecord record;  // copied after the job; its link is not used
};

// A JSON string literal, quotes included. Bytes outside printable ASCII are escaped, so the
// output stays valid JSON whatever a device sends.
std::string JsonString(std::string_view text);

// One array, one object per result in the given order:
// {"com", "ok", "message", "connected", "upgrade_wait", "settings": {every field} or null}
// and, with `files`, "file": the path or null.
std::string RenderJson(const std::vector<PortResult>& results, bool files = false);

// A table for people: the port, ok or FAILED, the message and the main settings ("-" unless
// they were read), and with `files` the file written. Every cell is one line of printable
// text: a line break becomes a blank, any other control byte a '?'.
std::string RenderTable(const std::vector<PortResult>& results, bool files = false);

}  // namespace zbctl
