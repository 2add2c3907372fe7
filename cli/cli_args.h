// zbctl's command line, parsed without touching any port or file.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jobs/model/record_fields.h"
#include "jobs/model/result.h"
#include "jobs/report/report_row.h"

namespace zbctl {

enum class Command { Help, Version, Ports, Read, Apply, Upgrade, Export, Import, Watch, ImageInfo };

// One --set FIELD=VALUE: the words as given, and the field's value they stand for, read once
// (ReadSet), or why they stand for none. A value with {com} or {n} in it is read again once
// they are filled in (cli_input.h).
struct Set {
    std::string name;
    std::string text;
    zb::Result<zb::FieldValue> value;
};
// The --set values, in the order given.
using Sets = std::vector<Set>;

// Reads `text` as the value the window shows for field `name` (SetDisplayText's rules).
Set ReadSet(std::string name, std::string text);

struct Invocation {
    Command command = Command::Help;
    Command help_on = Command::Help;  // Help: the command whose usage is asked for
    std::string ports_dir;            // empty: leave the port map as the environment says
    bool json = false;
    bool show_keys = false;  // --json shows the AES key itself, not its fingerprint
    bool no_pauses = false;
    bool quiet = false;  // no progress on stderr
    bool scan = false;   // ports: also number the machine's serial devices the map lacks
    Sets sets;
    std::string path;  // upgrade, image-info: the image; export: the folder; import: the file
    std::vector<std::int32_t> coms;   // ascending, no repeats
    std::vector<std::int32_t> given;  // the same, in the order given ({n} of --set)
    bool verify = false;              // apply, import: read the written fields back
    bool dry_run = false;             // apply, import, watch: read and show, write nothing
    std::string report;               // append one row per port and try to this file
    int retries = 0;                  // further tries for the ports that failed
    std::string upgrade;              // watch: the image each modem gets first; or empty
    std::string import;               // watch: the configuration file each modem gets
    bool once = false;                // watch: a modem that passed is not done again
    bool all = false;                 // read: the table shows every setting
    zb::Tags tags;                    // --tag KEY=VALUE, in order: every report row's tags
};

// Parses argv[1..], or says what is wrong with it.
// Field values are not checked here (see cli_input.h).
zb::Result<Invocation> ParseArgs(const std::vector<std::string>& args);

// "COM3", "com3" or "3": the COM number, or 0 when the text is none of these or lies
// outside 1..1024.
std::int32_t ParseCom(const std::string& text);

// `zbctl --help`.
std::string Usage();
// The usage of one command (`zbctl COMMAND --help`); Usage() for Help and Version.
std::string CommandUsage(Command command);

// What the help says of the platform's ports and images: Linux numbers its ports through a
// port map, Windows numbers them itself and ships no virtual modem. From the platform's part
// of zbctl_core (cli_input_posix.cpp, cli_input_win32.cpp).
struct PlatformHelp {
    const char* usage_ports_dir;   // in the usage line: "[--ports-dir DIR] ", or ""
    const char* ports_line;        // the ports command in the list of commands
    const char* ports_dir_option;  // the --ports-dir option's lines, or ""
    const char* ports_dir_word;    // in a command's options: "--ports-dir DIR, ", or ""
    const char* ports_usage;       // `ports --help` after its usage line
    const char* image_hint;        // `upgrade --help`: where to find an image to try
};
const PlatformHelp& ThisPlatformHelp();

// The words the line takes, for a shell's completion: the commands, and every option with
// whether it takes a value.
struct OptionWord {
    std::string name;
    bool takes_value;
};
enum class PathKind { None, File, Folder };  // what a command takes before its ports
struct CommandWord {
    std::string name;
    PathKind path;
};
std::vector<CommandWord> CommandWords();
std::vector<OptionWord> OptionWords();

}  // namespace zbctl
