// The --fault syntax: KIND[:WHERE][:ARG], WHERE being COMn or "all".
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace zbsim {
namespace {

enum class Arg { None, Required, Optional, Code, CodeAndCount };

struct KindInfo {
    const char* name;
    FaultKind kind;
    Arg arg;
    int fallback;  // Optional: the value when the argument is left out
    int min;
    int max;
    const char* help;
};

constexpr KindInfo kKinds[] = {
    {"silent", FaultKind::Silent, Arg::None, 0, 0, 0, "never answers anything"},
    {"stop-after", FaultKind::StopAfter, Arg::Required, 0, 0, 1000000,
     "answers K commands, then falls silent (K required)"},
    {"refuse", FaultKind::Refuse, Arg::Code, 0, 0, 0,
     "answers command CODE (two characters, e.g. ZP or @V) with\n"
     "status '1' and does not carry it out"},
    {"noise", FaultKind::Noise, Arg::Optional, 2, 1, 64,
     "sends N bytes 0x78 before the '!' of every reply line\n"
     "(default 2; they count towards the line's 49 characters)"},
    {"long-line", FaultKind::LongLine, Arg::None, 0, 0, 0,
     "pads every reply line to 50 characters with the newline"},
    {"no-bang", FaultKind::NoBang, Arg::None, 0, 0, 0, "sends reply lines without the '!'"},
    {"gap", FaultKind::Gap, Arg::Optional, 2500, 0, 600000,
     "pauses MS milliseconds in the middle of every reply line\n"
     "(default 2500)"},
    {"loader", FaultKind::LoaderAnswer, Arg::None, 0, 0, 0,
     "in application mode, answers every command with the\n"
     "loader's 'C'"},
    {"loader-ds", FaultKind::LoaderAnswer, Arg::None, 1, 0, 0,
     "in application mode, answers every command with the\n"
     "loader's \"DS\" line"},
    {"nak-block", FaultKind::NakBlock, Arg::Required, 0, 1, 1000000,
     "answers XMODEM block K of a transfer with NAK, once"},
    {"can-block", FaultKind::CanBlock, Arg::Required, 0, 1, 1000000,
     "answers XMODEM block K of a transfer with CAN and drops\n"
     "the transfer"},
    {"mute-block", FaultKind::MuteBlock, Arg::Required, 0, 1, 1000000,
     "does not answer XMODEM block K of a transfer"},
    {"nak-all", FaultKind::NakAll, Arg::None, 0, 0, 0,
     "answers every XMODEM block with NAK, for ever"},
    {"sync-junk", FaultKind::SyncJunk, Arg::Optional, 100, 1, 600000,
     "while its loader waits for a transfer, sends the byte\n"
     "0x78 every MS milliseconds (default 100) instead of 'C'"},
    {"keep-old", FaultKind::KeepOld, Arg::CodeAndCount, 0, 1, 1000000,
     "answers writes (of command CODE only, when given) with\n"
     "success but keeps the old value; with N, only the first\n"
     "N such writes"},
};

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(sep, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

bool parse_decimal(const std::string& text, int max, int* value) {
    if (text.empty() || text.size() > 9) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v > max) return false;
    *value = v;
    return true;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "COMn" (any case) or "all"; false when the field is neither.
bool parse_where(const std::string& field, int* com) {
    const std::string f = lower(field);
    if (f == "all") {
        *com = 0;
        return true;
    }
    int n = 0;
    if (f.size() > 3 && f.compare(0, 3, "com") == 0 && parse_decimal(f.substr(3), 1000000, &n) &&
        n >= 1) {
        *com = n;
        return true;
    }
    return false;
}

}  // namespace

bool parse_fault(const std::string& text, int* com, Fault* fault, std::string* error) {
    const std::vector<std::string> fields = split(text, ':');
    const KindInfo* info = nullptr;
    for (const auto& k : kKinds)
        if (lower(fields[0]) == k.name) info = &k;
    if (info == nullptr) {
        *error = "unknown fault kind \"" + fields[0] + "\"";
        return false;
    }

    std::size_t next = 1;
    int where = 0;
    if (next < fields.size()) {
        if (parse_where(fields[next], &where)) {
            ++next;
        } else if (lower(fields[next]).compare(0, 3, "com") == 0) {
            *error = "fault \"" + text + "\": \"" + fields[next] + "\" is not a COM port";
            return false;
        }
    }
    const std::size_t args = fields.size() - next;
    const std::size_t max_args = info->arg == Arg::None           ? 0
                                 : info->arg == Arg::CodeAndCount ? 2
                                                                  : 1;
    if (args > max_args) {
        *error = "fault \"" + text + "\": unexpected \"" + fields[next + max_args] + "\"";
        return false;
    }
    if (args == 0 && (info->arg == Arg::Required || info->arg == Arg::Code)) {
        *error = "fault \"" + text + "\": missing its argument";
        return false;
    }

    Fault f;
    f.kind = info->kind;
    if (info->kind == FaultKind::LoaderAnswer) f.count = info->fallback;
    const auto parse_code = [&](const std::string& field) {
        std::string code = field;
        for (char& c : code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (code.size() != 2 ||
            !(std::isupper(static_cast<unsigned char>(code[0])) || code[0] == '@') ||
            !std::isupper(static_cast<unsigned char>(code[1]))) {
            *error = "fault \"" + text + "\": \"" + field + "\" is not a command code";
            return false;
        }
        f.code = code;
        return true;
    };
    if (info->arg == Arg::Code) {
        if (!parse_code(fields[next])) return false;
    } else if (info->arg == Arg::CodeAndCount) {
        // [CODE][:N]: a field of digits is the count, anything else the code.
        for (std::size_t i = next; i < fields.size(); ++i) {
            const std::string& field = fields[i];
            const bool digits =
                !field.empty() && std::all_of(field.begin(), field.end(),
                                              [](char c) { return c >= '0' && c <= '9'; });
            if (digits && i + 1 == fields.size()) {
                if (!parse_decimal(field, info->max, &f.count) || f.count < info->min) {
                    *error = "fault \"" + text + "\": \"" + field + "\" is not a number from " +
                             std::to_string(info->min) + " to " + std::to_string(info->max);
                    return false;
                }
            } else if (digits || i != next) {
                *error = "fault \"" + text + "\": unexpected \"" + field + "\"";
                return false;
            } else if (!parse_code(field)) {
                return false;
            }
        }
    } else if (info->arg == Arg::Required || info->arg == Arg::Optional) {
        int value = info->fallback;
        if (args == 1 && (!parse_decimal(fields[next], info->max, &value) || value < info->min)) {
            *error = "fault \"" + text + "\": \"" + fields[next] + "\" is not a number from " +
                     std::to_string(info->min) + " to " + std::to_string(info->max);
            return false;
        }
        if (info->kind == FaultKind::Gap || info->kind == FaultKind::SyncJunk)
            f.ms = value;
        else
            f.count = value;
    }
    *com = where;
    *fault = f;
    return true;
}

std::string fault_help() {
    std::string help =
        "Faults: --fault KIND[:WHERE][:ARG], repeatable. WHERE is COMn (any case) or \"all\";\n"
        "left out, the fault applies to every modem. Faults add up; they apply from the next\n"
        "request on.\n";
    for (const auto& k : kKinds) {
        std::string usage = std::string("  ") + k.name + "[:WHERE]";
        switch (k.arg) {
            case Arg::None:
                break;
            case Arg::Required:
                usage += ":K";
                break;
            case Arg::Optional:
                usage +=
                    k.kind == FaultKind::Gap || k.kind == FaultKind::SyncJunk ? "[:MS]" : "[:N]";
                break;
            case Arg::Code:
                usage += ":CODE";
                break;
            case Arg::CodeAndCount:
                usage += "[:CODE][:N]";
                break;
        }
        constexpr std::size_t kColumn = 26;
        // A usage too wide for the column puts its description on the next line.
        if (usage.size() >= kColumn)
            usage += "\n" + std::string(kColumn, ' ');
        else
            usage.append(kColumn - usage.size(), ' ');
        for (char c : std::string(k.help)) {
            usage += c;
            if (c == '\n') usage.append(kColumn, ' ');
        }
        help += usage + "\n";
    }
    help += "Examples: silent:COM3  stop-after:COM3:10  refuse:all:ZP  noise:2  gap:COM7:3000\n";
    return help;
}

}  // namespace zbsim
