// Texts that come from devices or the system, made safe to show or to store: on a terminal
// or in a CSV cell, and in JSON. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace zb {

// The text with every byte outside printable ASCII (0x20..0x7E) written as \xHH, line
// breaks included, so that nothing a device or the system hands us can drive a terminal.
std::string Printable(std::string_view text);

// A JSON string literal, quotes included. Bytes outside printable ASCII are escaped, so the
// output stays valid JSON whatever a device sends.
std::string JsonString(std::string_view text);

}  // namespace zb
