#include "cli/cli_args.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "jobs/model/port_table.h"
#include "jobs/model/text_escape.h"

namespace zbctl {

namespace {

// The help's parts from the usage line to the ports command's line, from there to the
// --ports-dir option, and the rest; the platform's own parts (PlatformHelp) go between.
const char kUsageHead[] = "Usage: zbctl ";
const char kUsageCommands[] =
    "[--json [--show-keys]] [--no-pauses] [--report FILE]\n"
    "             [--tag KEY=VALUE ...] [--retry N] [--all] [-q] COMMAND ...\n"
    "\n"
    "Commands:\n";
const char kUsageBody[] =
    "  read COMa [COMb ...]                  read every setting of the modems\n"
    "  apply [--verify | --dry-run] --set FIELD=VALUE [--set ...] COMa [COMb ...]\n"
    "                                        read, change the fields, write them back\n"
    "  upgrade IMAGE COMa [COMb ...]         load a firmware image into the modems, then\n"
    "                                        read them again\n"
    "  export DIR COMa [COMb ...]            read the modems and write one configuration\n"
    "                                        file per port into DIR (KRB7310_Config<n>.txt)\n"
    "  import [--verify | --dry-run] [--set FIELD=VALUE ...] FILE COMa [COMb ...]\n"
    "                                        write the settings of a configuration file to\n"
    "                                        the modems, then each modem's --set values;\n"
    "                                        each keeps its local node ID\n"
    "  watch [--upgrade IMAGE] [--import FILE] [--set FIELD=VALUE ...] [--verify]\n"
    "        [--dry-run] [--once]            wait for ports to appear and give each modem\n"
    "                                        plugged in a job of its own at once: the\n"
    "                                        upgrade, the settings, the read-back; until\n"
    "                                        Ctrl-C. --once skips a modem that passed\n"
    "  image-info IMAGE                      show a firmware image's type, version and\n"
    "                                        body size and whether its checksum holds\n"
    "\n"
    "Options:\n";
const char kUsageOptions[] =
    "  --json            print one JSON array, one object per port, instead of a table\n"
    "  --show-keys       --json: print the AES key itself; without it the key is shown\n"
    "                    as its fingerprint, as in reports (sha256:1a2b3c4d)\n"
    "  --no-pauses       skip the fixed 500 ms pauses between the phases of a job\n"
    "  --verify          apply, import: read the modems again after writing; a port\n"
    "                    that reports other values than were written fails with\n"
    "                    \"Verify fail\" and the fields that differ\n"
    "  --dry-run         apply, import, watch: read the modems and show per port what\n"
    "                    would change (channel: 11 \u2192 20), or \"no change\"; write\n"
    "                    nothing to any modem and no report row. A port the rules\n"
    "                    refuse fails as it would\n"
    "  --report FILE     append one row per port and try to FILE (CSV, or JSON when\n"
    "                    FILE ends in .json), written atomically; a shift's runs may\n"
    "                    share one file. FILE.db: an SQLite database; a postgresql://\n"
    "                    URI: a PostgreSQL database that a line's stations share\n"
    "  --tag KEY=VALUE   name who or what the run is for (operator=ana, order=WO-17);\n"
    "                    repeatable, each KEY once (letters, digits, _ - ., up to 64),\n"
    "                    VALUE printable text up to 256 bytes; kept in every report row\n"
    "                    and in --json output beside the run's ID\n"
    "  --retry N         run the command again, up to N more times (0..100), on the\n"
    "                    ports that failed; the ports still failing are listed on\n"
    "                    stderr\n"
    "  --all             read, apply, upgrade, export, import: the table shows every\n"
    "                    setting, not only the main ones; --json shows them all anyway\n"
    "  -q, --quiet       show no progress on stderr nor the run's ID at the end\n"
    "  --help            this text; after a command, that command's usage\n"
    "  --version         print the version and exit\n"
    "  --                the words that follow are no options (a file named -x.rom)\n"
    "\n"
    "Ports are written COM3, com3 or 3. Values take the form the window shows, in\n"
    "--set and in every output: baud 115200, parity even (list texts in any case),\n"
    "channel 11..26, panid and startbyte in hexadecimal, devname up to 20 characters,\n"
    "aeskey 32 hexadecimal digits (needed with security=enable), or aeskey=@FILE to read\n"
    "them from FILE, out of sight of other users' ps. Settable fields:\n"
    "baud parity databit stopbit interface devtype topology channel outpower txmode\n"
    "panid lnodeid rnodeid security startbyte aeskey devname. devname takes printable\n"
    "ASCII only.\n"
    "A value may hold {com} (the port's COM number) and {n} (its place in the port list,\n"
    "from 1), each with an optional +K or -K: devname=LINE-{com}, lnodeid={n+10}. Every\n"
    "port's values are checked before any port is touched.\n"
    "apply and import write only to the ports whose read succeeded; apply also refuses\n"
    "a port whose new settings break the configuration rules (node IDs, PAN ID, start\n"
    "byte, key). export writes no file unless every port was read.\n"
    "\n"
    "'zbctl upgrade --help' says where to find an image to try an upgrade with.\n"
    "\n"
    "Progress goes to stderr: on a terminal one line per phase, updated in place, with the\n"
    "ports done, failed and in all, the time taken and, for upgrades, the bytes sent and\n"
    "the time left; elsewhere one line per message. Exit status: 0 when every port\n"
    "succeeded, 1 when any port failed, 2 for bad usage or input (a refused\n"
    "configuration file included).\n";

}  // namespace

Set ReadSet(std::string name, std::string text) {
    const zb::RecordField* field = zb::FindRecordField(name);
    // A name given in another case is the field's own from here on, in every message.
    if (field != nullptr) name = field->name;
    zb::Result<zb::FieldValue> value = field != nullptr
                                           ? zb::ReadDisplayText(*field, text)
                                           : zb::Result<zb::FieldValue>(zb::Error{"unknown field"});
    return {std::move(name), std::move(text), std::move(value)};
}

std::int32_t ParseCom(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 3 && std::tolower(static_cast<unsigned char>(digits[0])) == 'c' &&
        std::tolower(static_cast<unsigned char>(digits[1])) == 'o' &&
        std::tolower(static_cast<unsigned char>(digits[2])) == 'm')
        digits.erase(0, 3);
    if (digits.empty() || digits.size() > 4 || digits[0] == '0') return 0;
    std::int32_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return zb::RowOfCom(n) ? n : 0;
}

namespace {

// The grammar is a hand-written one, read through the two tables below. A library parser
// (CLI11 2.1) reads "--report=" as "take the next word" rather than as an empty value,
// takes "---x" for a word and words its own errors; scripts rely on ours.

// What a value option does with its value, or why it refuses it.
using TakeValue = zb::Status (*)(const std::string& value, Invocation* inv);

struct OptionRule {
    std::string_view name;
    bool Invocation::*flag = nullptr;         // an option without a value sets this
    std::string Invocation::*text = nullptr;  // an option taking any text but the empty one
    const char* needs = nullptr;              // what is said when that text is empty
    TakeValue take = nullptr;                 // another option with a value hands it here
};

zb::Status TakeTag(const std::string& value, Invocation* inv) {
    constexpr std::size_t kMostKey = 64;
    constexpr std::size_t kMostValue = 256;
    const std::size_t eq = value.find('=');
    if (eq == std::string::npos || eq == 0)
        return zb::Status::Fail("--tag takes KEY=VALUE, not \"" + value + "\"");
    const std::string key = value.substr(0, eq);
    const bool key_ok = key.size() <= kMostKey && std::all_of(key.begin(), key.end(), [](char c) {
                            return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' ||
                                   c == '-' || c == '.';
                        });
    if (!key_ok)
        return zb::Status::Fail("--tag " + key +
                                ": a key is 1 to 64 letters, digits, '_', '-' or '.'");
    std::string text = value.substr(eq + 1);
    // A tag's value lands in report files and databases as it is, and on the screens that
    // show them: UTF-8 without control characters, whatever the terminal it came from.
    if (text.size() > kMostValue || !zb::IsPrintableUtf8(text))
        return zb::Status::Fail("--tag " + key +
                                ": the value must be printable text of at most 256 bytes");
    for (const auto& [given, unused] : inv->tags)
        if (given == key) return zb::Status::Fail("--tag " + key + " is given twice");
    inv->tags.emplace_back(key, std::move(text));
    return {};
}

const OptionRule kOptions[] = {
    {.name = "--ports-dir",
     .text = &Invocation::ports_dir,
     .needs = "--ports-dir needs a directory"},
    {.name = "--json", .flag = &Invocation::json},
    {.name = "--show-keys", .flag = &Invocation::show_keys},
    {.name = "--no-pauses", .flag = &Invocation::no_pauses},
    {.name = "--verify", .flag = &Invocation::verify},
    {.name = "--dry-run", .flag = &Invocation::dry_run},
    {.name = "--report", .text = &Invocation::report, .needs = "--report needs a file"},
    {.name = "--retry",
     .take = [](const std::string& value, Invocation* inv) -> zb::Status {
         if (value.empty() || value.size() > 3 ||
             value.find_first_not_of("0123456789") != std::string::npos || std::stoi(value) > 100)
             return zb::Status::Fail("--retry takes a number from 0 to 100, not \"" + value + "\"");
         inv->retries = std::stoi(value);
         return {};
     }},
    {.name = "--scan", .flag = &Invocation::scan},
    {.name = "--once", .flag = &Invocation::once},
    {.name = "--upgrade", .text = &Invocation::upgrade, .needs = "--upgrade needs an image file"},
    {.name = "--import",
     .text = &Invocation::import,
     .needs = "--import needs a configuration file"},
    {.name = "--quiet", .flag = &Invocation::quiet},
    {.name = "--set",
     .take = [](const std::string& value, Invocation* inv) -> zb::Status {
         const std::size_t eq = value.find('=');
         if (eq == std::string::npos || eq == 0)
             return zb::Status::Fail("--set takes FIELD=VALUE, not \"" + value + "\"");
         inv->sets.push_back(ReadSet(value.substr(0, eq), value.substr(eq + 1)));
         return {};
     }},
    {.name = "--tag", .take = TakeTag},
    {.name = "--all", .flag = &Invocation::all},
};

zb::Status TakeOptionValue(const OptionRule& rule, const std::string& value, Invocation* inv) {
    if (rule.take != nullptr) return rule.take(value, inv);
    if (value.empty()) return zb::Status::Fail(rule.needs);
    inv->*rule.text = value;
    return {};
}

// Upgrade, export and import take a file or folder before their ports.
struct CommandRule {
    std::string_view word;
    Command command;
    const char* missing_path;  // what is said when the path and the ports are missing
    PathKind path;
    // The usage: `usage`, for ports and upgrade the platform's text (PlatformHelp), then
    // `options_lead`, the platform's "--ports-dir DIR, " and `options` when there are any.
    const char* usage;
    const char* options_lead;
    const char* options;
};

const char kCommonOptions[] =
    "--json, --show-keys, --no-pauses, -q; of those\nthat run jobs: --report FILE, --tag "
    "KEY=VALUE, --retry N, --all. See 'zbctl --help'.\n";

const CommandRule kCommands[] = {
    {"ports", Command::Ports, nullptr, PathKind::None,
     "Usage: zbctl ports [--scan]\n"
     "\n",
     "\nOptions of every command: ", kCommonOptions},
    {"read", Command::Read, nullptr, PathKind::None,
     "Usage: zbctl [--all] read COMa [COMb ...]\n"
     "\n"
     "Read every setting of the modems. The table shows the main ones; with --all, every\n"
     "one.\n",
     "\nOptions of every command: ", kCommonOptions},
    {"apply", Command::Apply, nullptr, PathKind::None,
     "Usage: zbctl apply [--verify | --dry-run] --set FIELD=VALUE [--set ...]\n"
     "                   COMa [COMb ...]\n"
     "\n"
     "Read the modems, change the fields, write them back and restart the modems. With\n"
     "--verify, read them again and fail a port that reports other values. With --dry-run,\n"
     "only read them and show what would change. A value may\n"
     "hold {com} and {n}: --set devname=LINE-{com}. --set aeskey=@FILE reads the key from\n"
     "FILE.\n",
     "\nOptions of every command: ", kCommonOptions},
    {"upgrade", Command::Upgrade, "upgrade needs an image file and at least one port",
     PathKind::File,
     "Usage: zbctl upgrade IMAGE COMa [COMb ...]\n"
     "\n"
     "Load a firmware image into the modems, then read them again. The image is checked\n"
     "once before any port is touched; its type is checked against each modem's.\n",
     "\nOptions of every command: ", kCommonOptions},
    {"export", Command::Export, "export needs a folder and at least one port", PathKind::Folder,
     "Usage: zbctl export DIR COMa [COMb ...]\n"
     "\n"
     "Read the modems and write one configuration file per port into DIR\n"
     "(KRB7310_Config<n>.txt); none unless every port was read.\n",
     "\nOptions of every command: ", kCommonOptions},
    {"import", Command::Import, "import needs a configuration file and at least one port",
     PathKind::File,
     "Usage: zbctl import [--verify | --dry-run] [--set FIELD=VALUE ...] FILE COMa [COMb ...]\n"
     "\n"
     "Write the settings of a configuration file to the modems; each keeps its local node\n"
     "ID. Each modem then gets the --set values, which may hold {com} and {n} as in apply\n"
     "(the file's own values are taken as written). With --verify, read them again and fail\n"
     "a port that reports other values.\n"
     "With --dry-run, only read them and show what would change.\n",
     "\nOptions of every command: ", kCommonOptions},
    {"watch", Command::Watch, nullptr, PathKind::None,
     "Usage: zbctl watch [--upgrade IMAGE] [--import FILE] [--set FIELD=VALUE ...] [--verify]\n"
     "                   [--dry-run] [--once]\n"
     "\n"
     "Wait for serial ports to appear and give each modem plugged in a job of its own at\n"
     "once, beside the jobs still running: the upgrade, then the settings of --set or\n"
     "--import, then with --verify the read-back. The ports present at the start are left\n"
     "alone. With --once a modem that passed is skipped when plugged in again. The first\n"
     "Ctrl-C stops taking new ports and waits for the running jobs, the second stops them.\n"
     "--set values may hold {com} and {n} (the modem's place in the order they "
     "appeared).\n"
     "--set aeskey=@FILE reads the key from FILE. With --dry-run each modem is only read\n"
     "and what would change is shown.\n",
     "\nOptions: ",
     "--json (one line per modem), --show-keys, --no-pauses, -q,\n--report FILE (one row per "
     "modem), --tag KEY=VALUE. See 'zbctl --help'.\n"},
    {"image-info", Command::ImageInfo, "image-info needs an image file", PathKind::File,
     "Usage: zbctl image-info IMAGE\n"
     "\n"
     "Show what a firmware image's header holds: its firmware type, its version text and its\n"
     "body size, and whether the body matches its checksum. No port is touched. Exit status\n"
     "0 for a valid image, 1 for one whose checksum does not hold, 2 for a file that is no\n"
     "image.\n",
     "\nOptions: --json (one object). See 'zbctl --help'.\n", nullptr},
    {"help", Command::Help, nullptr, PathKind::None, nullptr, nullptr, nullptr},
};

bool RunsJobs(Command c) {
    return c != Command::Ports && c != Command::Help && c != Command::Version &&
           c != Command::ImageInfo;
}

// The options that belong to some commands only, checked in this order.
struct BelongRule {
    bool (*given)(const Invocation&);
    bool (*belongs)(Command);
    const char* refusal;
};

const BelongRule kBelongs[] = {
    {[](const Invocation& inv) { return !inv.sets.empty(); },
     [](Command c) { return c == Command::Apply || c == Command::Import || c == Command::Watch; },
     "--set belongs to the apply, import and watch commands"},
    {[](const Invocation& inv) { return inv.verify; },
     [](Command c) { return c == Command::Apply || c == Command::Import || c == Command::Watch; },
     "--verify belongs to the apply, import and watch commands"},
    {[](const Invocation& inv) { return inv.dry_run; },
     [](Command c) { return c == Command::Apply || c == Command::Import || c == Command::Watch; },
     "--dry-run belongs to the apply, import and watch commands"},
    {[](const Invocation& inv) { return inv.dry_run && inv.verify; }, [](Command) { return false; },
     "--dry-run writes nothing to read back: it takes no --verify"},
    {[](const Invocation& inv) { return !inv.upgrade.empty() || !inv.import.empty() || inv.once; },
     [](Command c) { return c == Command::Watch; },
     "--upgrade, --import and --once belong to the watch command"},
    {[](const Invocation& inv) { return !inv.report.empty(); }, RunsJobs,
     "--report belongs to the commands that run jobs"},
    {[](const Invocation& inv) { return inv.retries != 0; }, RunsJobs,
     "--retry belongs to the commands that run jobs"},
    {[](const Invocation& inv) { return !inv.tags.empty(); }, RunsJobs,
     "--tag belongs to the commands that run jobs"},
    {[](const Invocation& inv) { return inv.all; },
     [](Command c) { return RunsJobs(c) && c != Command::Watch; },
     "--all belongs to the commands that print a table of settings: read, apply, upgrade, "
     "export and import"},
    {[](const Invocation& inv) { return inv.retries != 0; },
     [](Command c) { return c != Command::Watch; },
     "watch takes no --retry: a modem plugged in again is tried again"},
    {[](const Invocation& inv) { return inv.scan; }, [](Command c) { return c == Command::Ports; },
     "--scan belongs to the ports command"},
};

// The options in the order given, anywhere on the line; the first word that is not an
// option is the command, the others go to *words. Errors are found in the order of the
// line. --help and --version end the reading wherever they stand; *help is then set.
zb::Status ReadOptions(const std::vector<std::string>& args, Invocation* inv, bool* help,
                       const CommandRule** command, std::vector<std::string>* words) {
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool has_value = false;
        if (arg == "--" && !options_ended) {
            options_ended = true;
            continue;
        }
        if (!options_ended && arg == "-q") arg = "--quiet";
        if (options_ended) {
            // A word, whatever it looks like.
        } else if (arg.rfind("--", 0) == 0) {
            if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.resize(eq);
                has_value = true;
            }
        }
        if (options_ended) {
            // Taken as a word below.
        } else if (arg == "--help" || arg == "-h" || arg == "--version") {
            if (*command != nullptr) inv->help_on = (*command)->command;
            inv->command = arg == "--version" ? Command::Version : Command::Help;
            *help = true;
            return {};
        }
        const auto rule = options_ended
                              ? std::end(kOptions)
                              : std::find_if(std::begin(kOptions), std::end(kOptions),
                                             [&](const OptionRule& r) { return r.name == arg; });
        if (rule != std::end(kOptions) && rule->flag != nullptr && !has_value) {
            inv->*rule->flag = true;
        } else if (rule != std::end(kOptions) && rule->flag == nullptr) {
            if (!has_value && i + 1 >= args.size()) return zb::Status::Fail(arg + " needs a value");
            if (zb::Status taken = TakeOptionValue(*rule, has_value ? value : args[++i], inv);
                !taken)
                return taken;
        } else if (!options_ended && arg.size() > 1 && arg[0] == '-') {
            return zb::Status::Fail("unknown option " + args[i]);
        } else if (*command == nullptr) {
            *command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&](const CommandRule& r) { return r.word == arg; });
            if (*command == std::end(kCommands))
                return zb::Status::Fail("unknown command \"" + arg + "\"");
            inv->command = (*command)->command;
        } else {
            words->push_back(arg);
        }
    }
    return {};
}

// The path of upgrade, export and import, and the ports, from the words after the command.
zb::Status ReadOperands(const CommandRule& rule, std::vector<std::string> words, Invocation* inv) {
    if (rule.command == Command::Ports) {
        if (words.empty()) return {};
        return zb::Status::Fail("ports takes no arguments");
    }
    if (rule.command == Command::Watch) {
        const bool settings = !inv->sets.empty() || !inv->import.empty();
        const char* refusal = nullptr;
        if (!words.empty())
            refusal = "watch takes no ports: it waits for them to appear";
        else if (!settings && inv->upgrade.empty())
            refusal = "watch needs --upgrade IMAGE, --set FIELD=VALUE or --import FILE";
        else if (inv->verify && !settings)
            refusal = "watch --verify needs --set or --import";
        else if (inv->dry_run && (!settings || !inv->upgrade.empty()))
            refusal = "watch --dry-run needs --set or --import, and takes no --upgrade";
        if (refusal != nullptr) return zb::Status::Fail(refusal);
        return {};
    }
    if (rule.command == Command::ImageInfo) {
        if (words.empty()) return zb::Status::Fail(rule.missing_path);
        if (words.size() > 1) return zb::Status::Fail("image-info takes one image file");
        inv->path = words.front();
        return {};
    }
    if (rule.command == Command::Apply && inv->sets.empty())
        return zb::Status::Fail("apply needs at least one --set FIELD=VALUE");
    if (rule.missing_path != nullptr) {
        if (words.empty()) return zb::Status::Fail(rule.missing_path);
        inv->path = words.front();
        words.erase(words.begin());
    }
    if (words.empty()) return zb::Status::Fail("no port given");
    for (const std::string& word : words) {
        const std::int32_t com = ParseCom(word);
        if (com == 0)
            return zb::Status::Fail("\"" + word + "\" is not a port: write COM1 to COM1024");
        if (std::find(inv->coms.begin(), inv->coms.end(), com) != inv->coms.end())
            return zb::Status::Fail("COM" + std::to_string(com) + " is named twice");
        inv->coms.push_back(com);
    }
    inv->given = inv->coms;
    std::sort(inv->coms.begin(), inv->coms.end());
    return {};
}

}  // namespace

zb::Result<Invocation> ParseArgs(const std::vector<std::string>& args) {
    Invocation inv;
    bool help = false;
    const CommandRule* command = nullptr;
    std::vector<std::string> words;
    if (zb::Status read = ReadOptions(args, &inv, &help, &command, &words); !read)
        return read.error();
    if (help) return inv;
    if (command == nullptr) return zb::Error{"no command given"};
    for (const BelongRule& belong : kBelongs)
        if (belong.given(inv) && !belong.belongs(inv.command)) return zb::Error{belong.refusal};
    // "help" ignores whatever follows a command's name; a word that names none is refused
    // as it is in the command's place.
    if (inv.command == Command::Help && !words.empty()) {
        const auto named =
            std::find_if(std::begin(kCommands), std::end(kCommands),
                         [&](const CommandRule& r) { return r.word == words.front(); });
        if (named == std::end(kCommands))
            return zb::Error{"unknown command \"" + words.front() + "\""};
        inv.help_on = named->command;
    }
    if (inv.command != Command::Help)
        if (zb::Status read = ReadOperands(*command, std::move(words), &inv); !read)
            return read.error();
    return inv;
}

std::string Usage() {
    const PlatformHelp& p = ThisPlatformHelp();
    return std::string(kUsageHead) + p.usage_ports_dir + kUsageCommands + p.ports_line +
           kUsageBody + p.ports_dir_option + kUsageOptions;
}

std::string CommandUsage(Command command) {
    const PlatformHelp& p = ThisPlatformHelp();
    for (const CommandRule& rule : kCommands) {
        if (rule.command != command || rule.usage == nullptr) continue;
        std::string text = rule.usage;
        if (command == Command::Ports) text += p.ports_usage;
        if (command == Command::Upgrade) text += p.image_hint;
        text += rule.options_lead;
        if (rule.options != nullptr) text += std::string(p.ports_dir_word) + rule.options;
        return text;
    }
    return Usage();
}

std::vector<CommandWord> CommandWords() {
    std::vector<CommandWord> words;
    for (const CommandRule& rule : kCommands) words.push_back({std::string(rule.word), rule.path});
    return words;
}

std::vector<OptionWord> OptionWords() {
    std::vector<OptionWord> words;
    for (const OptionRule& rule : kOptions)
        words.push_back({std::string(rule.name), rule.flag == nullptr});
    for (const char* name : {"-q", "--help", "--version"}) words.push_back({name, false});
    return words;
}

}  // namespace zbctl
