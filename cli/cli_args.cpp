#include "cli/cli_args.h"

#include <algorithm>
#include <cctype>

#include "jobs/port_table.h"

namespace zbctl {

const char kUsage[] =
    "Usage: zbctl [--ports-dir DIR] [--json] [--no-pauses] [--report FILE] [--retry N]\n"
    "             COMMAND ...\n"
    "\n"
    "Commands:\n"
    "  ports [--scan]                        list the COM numbers of the port map; with\n"
    "                                        --scan, list the machine's serial ports and\n"
    "                                        give those the map lacks the lowest free\n"
    "                                        numbers\n"
    "  read COMa [COMb ...]                  read every setting of the modems\n"
    "  apply [--verify] --set FIELD=VALUE [--set ...] COMa [COMb ...]\n"
    "                                        read, change the fields, write them back\n"
    "  upgrade IMAGE COMa [COMb ...]         load a firmware image into the modems, then\n"
    "                                        read them again\n"
    "  export DIR COMa [COMb ...]            read the modems and write one configuration\n"
    "                                        file per port into DIR (KRB7310_Config<n>.txt)\n"
    "  import [--verify] FILE COMa [COMb ...]\n"
    "                                        write the settings of a configuration file to\n"
    "                                        the modems; each keeps its local node ID\n"
    "\n"
    "Options:\n"
    "  --ports-dir DIR   the port-map directory (default $ZBCONFIG_PORTS, then\n"
    "                    ~/.config/zbconfig/ports): COMn is its entry \"comN\"\n"
    "  --json            print one JSON array, one object per port, instead of a table\n"
    "  --no-pauses       skip the fixed 500 ms pauses between the phases of a job\n"
    "  --verify          apply, import: read the modems again after writing; a port\n"
    "                    that reports other values than were written fails with\n"
    "                    \"Verify fail\" and the fields that differ\n"
    "  --report FILE     append one row per port and try to FILE (CSV, or JSON when\n"
    "                    FILE ends in .json), written atomically; a shift's runs may\n"
    "                    share one file\n"
    "  --retry N         run the command again, up to N more times (0..100), on the\n"
    "                    ports that failed; the ports still failing are listed on\n"
    "                    stderr\n"
    "  --help            this text\n"
    "  --version         print the version and exit\n"
    "\n"
    "Ports are written COM3, com3 or 3. Fields of --set take the device record's\n"
    "encoding: value-table indexes (baud 16 = 115200), channel 0..15 for channels\n"
    "11..26, panid in decimal or 0x-hexadecimal, devname up to 20 characters, aeskey\n"
    "32 hexadecimal digits (needed with security=1). Settable fields: baud parity\n"
    "databit stopbit interface devtype topology channel outpower txmode panid lnodeid\n"
    "rnodeid security startbyte aeskey devname. devname takes printable ASCII only.\n"
    "A value may hold {com} (the port's COM number) and {n} (its place in the port list,\n"
    "from 1), each with an optional +K or -K: devname=LINE-{com}, lnodeid={n+10}. Every\n"
    "port's values are checked before any port is touched.\n"
    "apply and import write only to the ports whose read succeeded; apply also refuses\n"
    "a port whose new settings break the configuration rules (node IDs, PAN ID, start\n"
    "byte, key). export writes no file unless every port was read.\n"
    "\n"
    "Progress goes to stderr, one line per message. Exit status: 0 when every port\n"
    "succeeded, 1 when any port failed, 2 for bad usage or input (a refused\n"
    "configuration file included).\n";

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

bool ExpandValue(const std::string& value, std::int32_t com, std::int32_t n, std::string* out,
                 std::string* error) {
    std::string text;
    std::size_t i = 0;
    while (i < value.size()) {
        std::size_t j = i + 1;
        std::int64_t number = 0;
        if (value[i] == '{' && value.compare(j, 3, "com") == 0) {
            number = com;
            j += 3;
        } else if (value[i] == '{' && value.compare(j, 1, "n") == 0) {
            number = n;
            j += 1;
        } else {
            text += value[i++];
            continue;
        }
        // "{com" or "{n" not followed by '}', '+' or '-' is ordinary text ("{name}").
        if (j >= value.size() || (value[j] != '}' && value[j] != '+' && value[j] != '-')) {
            text += value[i++];
            continue;
        }
        if (value[j] != '}') {
            const bool minus = value[j] == '-';
            const std::size_t digits = ++j;
            std::int64_t k = 0;
            while (j < value.size() && j - digits < 6 && value[j] >= '0' && value[j] <= '9')
                k = k * 10 + (value[j++] - '0');
            if (j == digits || j >= value.size() || value[j] != '}') {
                const std::size_t end = value.find('}', i);
                *error =
                    "\"" +
                    value.substr(i, end == std::string::npos ? std::string::npos : end - i + 1) +
                    "\" is not a placeholder: write {com}, {n}, {com+K} or {n-K} (K up to "
                    "6 digits)";
                return false;
            }
            number = minus ? number - k : number + k;
        }
        text += std::to_string(number);
        i = j + 1;
    }
    *out = std::move(text);
    return true;
}

bool ParseArgs(const std::vector<std::string>& args, Invocation* out, std::string* error) {
    Invocation inv;
    std::vector<std::string> words;
    bool command_seen = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool has_value = false;
        if (arg.rfind("--", 0) == 0) {
            if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.resize(eq);
                has_value = true;
            }
        }
        const auto take = [&]() -> bool {
            if (has_value) return true;
            if (i + 1 >= args.size()) {
                *error = arg + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h" || arg == "--version") {
            inv.command = arg == "--version" ? Command::Version : Command::Help;
            *out = inv;
            return true;
        } else if (arg == "--ports-dir") {
            if (!take()) return false;
            if (value.empty()) {
                *error = "--ports-dir needs a directory";
                return false;
            }
            inv.ports_dir = value;
        } else if (arg == "--json" && !has_value) {
            inv.json = true;
        } else if (arg == "--no-pauses" && !has_value) {
            inv.no_pauses = true;
        } else if (arg == "--verify" && !has_value) {
            inv.verify = true;
        } else if (arg == "--report") {
            if (!take()) return false;
            if (value.empty()) {
                *error = "--report needs a file";
                return false;
            }
            inv.report = value;
        } else if (arg == "--retry") {
            if (!take()) return false;
            if (value.empty() || value.size() > 3 ||
                value.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(value) > 100) {
                *error = "--retry takes a number from 0 to 100, not \"" + value + "\"";
                return false;
            }
            inv.retries = std::stoi(value);
        } else if (arg == "--scan" && !has_value) {
            inv.scan = true;
        } else if (arg == "--set") {
            if (!take()) return false;
            const std::size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0) {
                *error = "--set takes FIELD=VALUE, not \"" + value + "\"";
                return false;
            }
            inv.sets.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else if (arg.size() > 1 && arg[0] == '-') {
            *error = "unknown option " + args[i];
            return false;
        } else if (!command_seen) {
            command_seen = true;
            if (arg == "ports")
                inv.command = Command::Ports;
            else if (arg == "read")
                inv.command = Command::Read;
            else if (arg == "apply")
                inv.command = Command::Apply;
            else if (arg == "upgrade")
                inv.command = Command::Upgrade;
            else if (arg == "export")
                inv.command = Command::Export;
            else if (arg == "import")
                inv.command = Command::Import;
            else if (arg == "help")
                inv.command = Command::Help;
            else {
                *error = "unknown command \"" + arg + "\"";
                return false;
            }
        } else {
            words.push_back(arg);
        }
    }
    if (!command_seen) {
        *error = "no command given";
        return false;
    }
    if (!inv.sets.empty() && inv.command != Command::Apply) {
        *error = "--set belongs to the apply command";
        return false;
    }
    if (inv.verify && inv.command != Command::Apply && inv.command != Command::Import) {
        *error = "--verify belongs to the apply and import commands";
        return false;
    }
    if ((!inv.report.empty() || inv.retries != 0) &&
        (inv.command == Command::Ports || inv.command == Command::Help ||
         inv.command == Command::Version)) {
        *error = std::string(inv.report.empty() ? "--retry" : "--report") +
                 " belongs to the commands that run jobs";
        return false;
    }
    if (inv.scan && inv.command != Command::Ports) {
        *error = "--scan belongs to the ports command";
        return false;
    }
    switch (inv.command) {
        case Command::Help:
        case Command::Version:
            *out = inv;
            return true;
        case Command::Ports:
            if (!words.empty()) {
                *error = "ports takes no arguments";
                return false;
            }
            *out = inv;
            return true;
        case Command::Apply:
            if (inv.sets.empty()) {
                *error = "apply needs at least one --set FIELD=VALUE";
                return false;
            }
            break;
        case Command::Upgrade:
        case Command::Export:
        case Command::Import:
            if (words.empty()) {
                *error = inv.command == Command::Upgrade
                             ? "upgrade needs an image file and at least one port"
                         : inv.command == Command::Export
                             ? "export needs a folder and at least one port"
                             : "import needs a configuration file and at least one port";
                return false;
            }
            inv.path = words.front();
            words.erase(words.begin());
            break;
        case Command::Read:
            break;
    }
    if (words.empty()) {
        *error = "no port given";
        return false;
    }
    for (const std::string& word : words) {
        const std::int32_t com = ParseCom(word);
        if (com == 0) {
            *error = "\"" + word + "\" is not a port: write COM1 to COM1024";
            return false;
        }
        if (std::find(inv.coms.begin(), inv.coms.end(), com) != inv.coms.end()) {
            *error = "COM" + std::to_string(com) + " is named twice";
            return false;
        }
        inv.coms.push_back(com);
    }
    inv.given = inv.coms;
    std::sort(inv.coms.begin(), inv.coms.end());
    *out = inv;
    return true;
}

}  // namespace zbctl
