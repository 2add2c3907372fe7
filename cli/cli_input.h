// zbctl's checks of its input beyond the command line's words, made before any port is
// touched: the --set values of every port, placeholders filled in, and the words of a
// refused configuration file. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "cli/cli_args.h"
#include "config/config_file.h"

namespace zbctl {

// A --set value for one port: {com} becomes the COM number and {n} the port's place in the
// port list (from 1), each optionally with +K or -K inside the braces ({com+100}, {n-1}).
// Other text, other braces included, stays as it is. False, with *error saying why, for a
// placeholder begun but not finished ("{com+", "{n+x}"); *out is then unchanged.
bool ExpandValue(const std::string& value, std::int32_t com, std::int32_t n, std::string* out,
                 std::string* error);

// Checks every --set on a scratch record, so that nothing is refused after a port has been
// touched. The values are those the window shows (SetDisplayText): channel 20, baud 115200,
// parity even, PAN ID 1A2B.
bool CheckSets(const Sets& sets, std::string* error);

// Each port's --set values with {com} and {n} filled in, every one checked, so that one bad
// value refuses the command before any port is touched. A value without placeholders is
// checked once, and refused without naming a port.
bool ExpandSets(const Invocation& inv, std::map<std::int32_t, Sets>* out, std::string* error);

// "[ZigBee] PAN ID = 0xFFFE refused (check 9): must be ...". The value comes from a file,
// as it is: whoever shows the text makes it Printable, so that it cannot drive the terminal.
std::string RefusalText(const zb::ConfigRefusal& why);

}  // namespace zbctl
