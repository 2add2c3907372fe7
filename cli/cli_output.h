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
    std::string message;      // the port's last message in the job
    zb::DeviceRecord record;  // copied after the job; its link is not used
};

// A JSON string literal, quotes included. Bytes outside printable ASCII are escaped, so the
// output stays valid JSON whatever a device sends.
std::string JsonString(std::string_view text);

// One array, one object per result in the given order:
// {"com", "ok", "message", "connected", "upgrade_wait", "settings": {every field}}.
std::string RenderJson(const std::vector<PortResult>& results);

// A table for people: the port, ok or FAILED, the message and the main settings (shown
// as "-" unless the settings were read successfully).
std::string RenderTable(const std::vector<PortResult>& results);

}  // namespace zbctl
