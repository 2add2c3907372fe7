// zbctl's checks of its input beyond the command line's words, made before any port is
// touched: the key files of --set aeskey=@FILE, the --set values of every port, placeholders
// filled in, and the words of a refused configuration file. Any thread; only ReadKeyFiles
// and KeyFileIsShared look at files.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "cli/cli_args.h"
#include "config/config_file.h"

namespace zbctl {

// A --set value for one port: {com} becomes the COM number and {n} the port's place in the
// port list (from 1), each optionally with +K or -K inside the braces ({com+100}, {n-1}).
// Other text, other braces included, stays as it is. Refused, saying why, for a placeholder
// begun but not finished ("{com+", "{n+x}").
zb::Result<std::string> ExpandValue(const std::string& value, std::int32_t com, std::int32_t n);

// --set aeskey=@FILE: the key comes from FILE, so that it is not on the command line, where
// every user's ps shows it. Replaces each such value with the file's content less the white
// space around it; read once, here, before any port is touched. A file that cannot be read
// or holds anything but 32 hexadecimal digits is refused, its content never quoted. A file
// that other users may read (KeyFileIsShared) is taken, and `warn` told.
zb::Status ReadKeyFiles(Sets* sets, const std::function<void(const std::string&)>& warn);

// Whether users other than the file's owner may read it: the group or others read bits.
// Never on Windows, where a user's files are kept from other users by the folder they are
// in, not by bits of their own (cli_input_posix.cpp, cli_input_win32.cpp).
bool KeyFileIsShared(const std::string& path);

// Checks every --set on a scratch record, so that nothing is refused after a port has been
// touched. The values are those the window shows (SetDisplayText): channel 20, baud 115200,
// parity even, PAN ID 1A2B. A refusal never repeats an aeskey value.
zb::Status CheckSets(const Sets& sets);

// Each port's --set values with {com} and {n} filled in, every one checked, so that one bad
// value refuses the command before any port is touched. A value without placeholders is
// checked once, and refused without naming a port.
zb::Result<std::map<std::int32_t, Sets>> ExpandSets(const Invocation& inv);

// "[ZigBee] PAN ID = 0xFFFE refused (check 9): must be ...". The value comes from a file,
// as it is (an AES key's never: "(not shown)"): whoever shows the text makes it Printable,
// so that it cannot drive the terminal.
std::string RefusalText(const zb::ConfigRefusal& why);

}  // namespace zbctl
