#include "sim/sim_args.h"

#include <algorithm>

namespace zbsim {
namespace {

constexpr int kMaxCount = 4096;

bool parse_int(const std::string& text, int min, int max, int* value) {
    if (text.empty() || text.size() > 9) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < min || v > max) return false;
    *value = v;
    return true;
}

}  // namespace

const char kUsage[] =
    "Usage: zbsim --count N [--first-com C] [--ports-dir DIR] [--no-pacing] [--log FILE]\n"
    "             [--fault KIND[:WHERE][:ARG]]...\n"
    "       zbsim --make-image FILE [--version TEXT] [--type HEX] [--size BYTES]\n"
    "Runs N virtual ZigBee modems, COM C .. COM C+N-1, each on its own pseudo-terminal, and\n"
    "prints \"COM<n> <device path>\" per modem and then \"ready\". Runs until SIGINT or\n"
    "SIGTERM.\n"
    "\n"
    "  --count N         number of modems, 1 to 4096 (required)\n"
    "  --first-com C     COM number of the first modem (default 1)\n"
    "  --ports-dir DIR   write symbolic links comC .. com<C+N-1> in DIR (created if missing)\n"
    "                    pointing at the devices; stale links of those names are replaced,\n"
    "                    and the links are removed on exit\n"
    "  --no-pacing       answer at once instead of at 115200 baud line speed\n"
    "  --log FILE        append one line per request and per XMODEM event, e.g.\n"
    "                    \"COM3 ?GSB00001\" or \"COM3 block 5 ack\"\n"
    "  --fault FAULT     inject a fault (see below); repeatable\n"
    "  --make-image FILE write a firmware image the modems take to FILE and exit: type\n"
    "                    --type (1 to 4 hexadecimal digits, 0x allowed; default 0x0101,\n"
    "                    the modems' own), version --version (up to 12 characters,\n"
    "                    default \"SIM 2.0.0\"), a body of --size bytes (1 to 16777216,\n"
    "                    default 16384)\n"
    "  --help            this text\n"
    "  --version         print the version and exit\n"
    "\n";

zb::Result<SimArgs> parse_args(const std::vector<std::string>& args) {
    SimArgs parsed;
    SimOptions& options = parsed.options;
    options.count = 0;
    // Nothing in the program reads the request lists; --log is the way to see requests.
    options.record_requests = false;
    const auto refuse = [](std::string why) { return zb::Error{std::move(why)}; };

    // With --make-image, wherever it stands, --version names the image's version.
    const bool making = std::any_of(args.begin(), args.end(), [](const std::string& arg) {
        return arg.rfind("--make-image", 0) == 0;
    });
    bool image_option = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool has_value = false;
        if (const std::size_t eq = name.find('=');
            name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            has_value = true;
        }
        const auto take = [&](std::string* taken) {
            if (has_value) {
                *taken = value;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            *taken = args[++i];
            return true;
        };
        std::string text;
        if (name == "--version" && !has_value && !making) {
            parsed.action = SimAction::Version;
            return parsed;
        }
        if (name == "--help" || name == "-h") {
            parsed.action = SimAction::Help;
            return parsed;
        } else if (name == "--no-pacing" && !has_value) {
            options.pacing = false;
        } else if (name == "--count") {
            if (!take(&text) || !parse_int(text, 1, kMaxCount, &options.count))
                return refuse("--count needs a number from 1 to " + std::to_string(kMaxCount));
        } else if (name == "--first-com") {
            if (!take(&text) || !parse_int(text, 1, 1000000, &options.first_com))
                return refuse("--first-com needs a number of 1 or more");
        } else if (name == "--ports-dir") {
            if (!take(&options.ports_dir) || options.ports_dir.empty())
                return refuse("--ports-dir needs a directory");
        } else if (name == "--log") {
            if (!take(&options.log_path) || options.log_path.empty())
                return refuse("--log needs a file name");
        } else if (name == "--make-image") {
            if (!take(&parsed.image.path) || parsed.image.path.empty())
                return refuse("--make-image needs a file name");
            parsed.action = SimAction::MakeImage;
        } else if (name == "--version" && making) {
            image_option = true;
            if (!take(&text) || text.empty() || text.size() > 12 ||
                text.find_first_not_of(" !\"#$%&'()*+,-./0123456789:;<=>?@"
                                       "ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`"
                                       "abcdefghijklmnopqrstuvwxyz{|}~") != std::string::npos)
                return refuse("--version needs 1 to 12 printable characters");
            parsed.image.version = text;
        } else if (name == "--type") {
            image_option = true;
            const bool taken = take(&text);
            if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
                text.erase(0, 2);
            if (!taken || text.empty() || text.size() > 4 ||
                text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                return refuse("--type needs 1 to 4 hexadecimal digits, 0x allowed: 0x0101");
            parsed.image.type = std::stoi(text, nullptr, 16);
        } else if (name == "--size") {
            image_option = true;
            if (!take(&text) || !parse_int(text, 1, 16 << 20, &parsed.image.size))
                return refuse("--size needs a number from 1 to 16777216");
        } else if (name == "--fault") {
            if (!take(&text)) return refuse("--fault needs KIND[:WHERE][:ARG]");
            int com = 0;
            Fault fault;
            std::string why;
            if (!parse_fault(text, &com, &fault, &why)) return refuse(why);
            parsed.faults.emplace_back(com, fault);
        } else {
            return refuse("unknown argument \"" + args[i] + "\"");
        }
    }
    if (parsed.action == SimAction::MakeImage) {
        if (options.count != 0 || !parsed.faults.empty())
            return refuse("--make-image runs no modems");
        return parsed;
    }
    if (image_option) return refuse("--type and --size belong to --make-image");
    if (options.count == 0) return refuse("--count is required");
    const long last = static_cast<long>(options.first_com) + options.count - 1;
    for (const auto& [com, fault] : parsed.faults) {
        if (com != 0 && (com < options.first_com || com > last))
            return refuse("a fault names COM" + std::to_string(com) +
                          ", which is not one of the simulated ports");
    }
    return parsed;
}

}  // namespace zbsim
