// zbctl's command line, parsed without touching any port or file.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zbctl {

enum class Command { Help, Version, Ports, Read, Apply, Upgrade, Export, Import };

struct Invocation {
    Command command = Command::Help;
    std::string ports_dir;  // empty: leave the port map as the environment says
    bool json = false;
    bool no_pauses = false;
    bool scan = false;  // ports: also number the machine's serial devices the map lacks
    std::vector<std::pair<std::string, std::string>> sets;  // FIELD, VALUE, in order given
    std::string path;                 // upgrade: the image; export: the folder; import: the file
    std::vector<std::int32_t> coms;   // ascending, no repeats
    std::vector<std::int32_t> given;  // the same, in the order given ({n} of --set)
    bool verify = false;              // apply, import: read the written fields back
    std::string report;               // append one row per port and try to this file
    int retries = 0;                  // further tries for the ports that failed
};

// Parses argv[1..]. On failure returns false and says what is wrong in *error.
// Field values are not checked here (see ExpandSets and CheckSets in zbctl.cpp).
bool ParseArgs(const std::vector<std::string>& args, Invocation* out, std::string* error);

// "COM3", "com3" or "3": the COM number, or 0 when the text is none of these or lies
// outside 1..1024.
std::int32_t ParseCom(const std::string& text);

// A --set value for one port: {com} becomes the COM number and {n} the port's place in the
// port list (from 1), each optionally with +K or -K inside the braces ({com+100}, {n-1}).
// Other text, other braces included, stays as it is. False, with *error saying why, for a
// placeholder begun but not finished ("{com+", "{n+x}"); *out is then unchanged.
bool ExpandValue(const std::string& value, std::int32_t com, std::int32_t n, std::string* out,
                 std::string* error);

extern const char kUsage[];

}  // namespace zbctl
