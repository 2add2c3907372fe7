// zbctl's command line: the parser (its option and command tables) and the COM number
// reader.
//
// Input: the arguments after the program's name, separated by NUL bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_args.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// "COM", "com" (any case) or nothing, then 1..1024 without leading zeros.
std::int32_t ExpectedCom(std::string_view text) {
    if (text.size() > 3) {
        const std::string_view prefix = text.substr(0, 3);
        bool com = true;
        for (std::size_t i = 0; i < 3; ++i) com = com && (prefix[i] | 0x20) == "com"[i];
        if (com) text.remove_prefix(3);
    }
    if (text.empty() || text.size() > 4 || text[0] == '0') return 0;
    std::int32_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return n <= 1024 ? n : 0;
}

const char* CommandWord(zbctl::Command c) {
    switch (c) {
        case zbctl::Command::Help:
            return "help";
        case zbctl::Command::Version:
            return "--version";
        case zbctl::Command::Ports:
            return "ports";
        case zbctl::Command::Read:
            return "read";
        case zbctl::Command::Apply:
            return "apply";
        case zbctl::Command::Upgrade:
            return "upgrade";
        case zbctl::Command::Export:
            return "export";
        case zbctl::Command::Import:
            return "import";
        case zbctl::Command::Watch:
            return "watch";
        case zbctl::Command::ImageInfo:
            return "image-info";
    }
    return "";
}

bool TakesPath(zbctl::Command c) {
    return c == zbctl::Command::Upgrade || c == zbctl::Command::Export ||
           c == zbctl::Command::Import || c == zbctl::Command::ImageInfo;
}

// The invocation written as a command line again, in one canonical order.
std::vector<std::string> Render(const zbctl::Invocation& inv) {
    std::vector<std::string> args;
    if (!inv.ports_dir.empty()) args.push_back("--ports-dir=" + inv.ports_dir);
    if (inv.json) args.emplace_back("--json");
    if (inv.no_pauses) args.emplace_back("--no-pauses");
    if (inv.verify) args.emplace_back("--verify");
    if (inv.dry_run) args.emplace_back("--dry-run");
    if (inv.quiet) args.emplace_back("--quiet");
    if (inv.scan) args.emplace_back("--scan");
    if (inv.once) args.emplace_back("--once");
    if (!inv.upgrade.empty()) args.push_back("--upgrade=" + inv.upgrade);
    if (!inv.import.empty()) args.push_back("--import=" + inv.import);
    if (!inv.report.empty()) args.push_back("--report=" + inv.report);
    if (inv.retries != 0) args.push_back("--retry=" + std::to_string(inv.retries));
    for (const auto& [key, value] : inv.tags) args.push_back("--tag=" + key + "=" + value);
    if (inv.all) args.emplace_back("--all");
    args.emplace_back(CommandWord(inv.command));
    for (std::size_t i = 0; i < inv.tags.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (inv.tags[i].first == inv.tags[j].first) Fail("a --tag key is taken twice");
    for (const zbctl::Set& set : inv.sets) args.push_back("--set=" + set.name + "=" + set.text);
    // A path or a port may look like an option ("--x.rom"): the words after "--" are none.
    args.emplace_back("--");
    if (TakesPath(inv.command)) args.push_back(inv.path);
    for (std::int32_t com : inv.coms) args.push_back("COM" + std::to_string(com));
    return args;
}

bool SameSets(const zbctl::Sets& a, const zbctl::Sets& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].name != b[i].name || a[i].text != b[i].text) return false;
    return true;
}

bool Same(const zbctl::Invocation& a, const zbctl::Invocation& b) {
    return a.command == b.command && a.ports_dir == b.ports_dir && a.json == b.json &&
           a.no_pauses == b.no_pauses && SameSets(a.sets, b.sets) && a.path == b.path &&
           a.coms == b.coms && a.verify == b.verify && a.dry_run == b.dry_run &&
           a.report == b.report && a.retries == b.retries && a.scan == b.scan &&
           a.quiet == b.quiet && a.once == b.once && a.upgrade == b.upgrade &&
           a.import == b.import && a.tags == b.tags && a.all == b.all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    for (std::size_t at = 0; at <= input.size() && args.size() < 64;) {
        const std::size_t end = std::min(input.find('\0', at), input.size());
        args.emplace_back(input.substr(at, end - at));
        at = end + 1;
    }

    for (const std::string& arg : args)
        if (zbctl::ParseCom(arg) != ExpectedCom(arg)) Fail("ParseCom misread a port");

    const zb::Result<zbctl::Invocation> parsed = zbctl::ParseArgs(args);
    if (!parsed) {
        if (parsed.error().reason.empty()) Fail("ParseArgs refused without saying why");
        return 0;
    }
    const zbctl::Invocation& inv = *parsed;
    // --help and --version end the parsing wherever they stand; nothing else of the line
    // matters then.
    if (inv.command == zbctl::Command::Help || inv.command == zbctl::Command::Version) return 0;
    const bool needs_ports = inv.command != zbctl::Command::Ports &&
                             inv.command != zbctl::Command::Watch &&
                             inv.command != zbctl::Command::ImageInfo;
    if (needs_ports == inv.coms.empty()) Fail("a command has ports it does not take, or none");
    if (inv.given.size() != inv.coms.size()) Fail("the ports as given and as sorted differ");
    if (inv.retries < 0 || inv.retries > 100) Fail("--retry outside 0..100");
    for (std::size_t i = 0; i < inv.coms.size(); ++i) {
        if (inv.coms[i] < 1 || inv.coms[i] > 1024) Fail("a port lies outside COM1..COM1024");
        if (i > 0 && inv.coms[i - 1] >= inv.coms[i]) Fail("ports are not ascending and distinct");
    }
    if (inv.command == zbctl::Command::Apply && inv.sets.empty()) Fail("apply without --set");
    if (!inv.sets.empty() && inv.command != zbctl::Command::Apply &&
        inv.command != zbctl::Command::Import && inv.command != zbctl::Command::Watch)
        Fail("--set given to a command that takes none");
    for (std::size_t i = 0; i < inv.tags.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (inv.tags[i].first == inv.tags[j].first) Fail("a --tag key is taken twice");
    for (const zbctl::Set& set : inv.sets)
        if (set.name.empty() || set.name.find('=') != std::string::npos)
            Fail("a --set field is malformed");

    const zb::Result<zbctl::Invocation> again = zbctl::ParseArgs(Render(inv));
    if (!again) Fail("a parsed command line, written out again, is refused");
    if (!Same(*again, inv)) Fail("a parsed command line, written out again, reads differently");
    return 0;
}
