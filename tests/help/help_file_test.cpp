// The built help file: a well-formed compiled HTML help file that holds every page of
// docs/help, whose links all lead somewhere inside it, and whose zbctl page keeps up with
// `zbctl --help`.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::uint64_t Le(const std::string& data, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(data.at(at + static_cast<std::size_t>(i)));
    return value;
}

// Variable-length big-endian number, seven bits a byte, the high bit meaning "more".
std::optional<std::uint64_t> EncInt(const std::string& data, std::size_t& at, std::size_t end) {
    std::uint64_t value = 0;
    for (int n = 0; at < end && n < 9; ++n) {
        const auto byte = static_cast<unsigned char>(data[at++]);
        value = value << 7 | (byte & 0x7Fu);
        if ((byte & 0x80u) == 0) return value;
    }
    return std::nullopt;
}

struct Chm {
    std::string error;  // empty when the file is well-formed
    std::set<std::string> names;
};

// Checks the ITSF header and the ITSP directory, and collects the names of the directory's
// listing chunks (PMGL), following their chain from the first.
Chm ReadChm(const std::string& data) {
    Chm chm;
    const auto fail = [&chm](const std::string& why) {
        chm.error = why;
        return chm;
    };
    if (data.size() < 0x60 || data.compare(0, 4, "ITSF") != 0) return fail("no ITSF signature");
    if (Le(data, 4, 4) != 3) return fail("ITSF version is not 3");
    if (Le(data, 8, 4) != 0x60) return fail("ITSF header length is not 0x60");
    const std::uint64_t dir = Le(data, 0x48, 8);
    const std::uint64_t dir_length = Le(data, 0x50, 8);
    if (dir + dir_length > data.size() || dir_length < 0x54)
        return fail("directory lies outside the file");
    const auto d = static_cast<std::size_t>(dir);
    if (data.compare(d, 4, "ITSP") != 0) return fail("no ITSP signature");
    if (Le(data, d + 8, 4) != 0x54) return fail("ITSP header length is not 0x54");
    const std::uint64_t chunk_size = Le(data, d + 0x10, 4);
    const std::uint64_t chunks = Le(data, d + 0x2C, 4);
    if (chunk_size < 0x20 || 0x54 + chunk_size * chunks != dir_length)
        return fail("directory length does not match its chunks");

    std::uint64_t chunk = Le(data, d + 0x20, 4);
    for (std::uint64_t visited = 0; chunk != 0xFFFFFFFFu; ++visited) {
        if (chunk >= chunks || visited >= chunks) return fail("bad PMGL chunk chain");
        const std::size_t at = d + 0x54 + static_cast<std::size_t>(chunk * chunk_size);
        if (data.compare(at, 4, "PMGL") != 0) return fail("chunk is not a PMGL chunk");
        const std::uint64_t free_space = Le(data, at + 4, 4);
        if (free_space > chunk_size - 0x14) return fail("PMGL free space too large");
        const std::size_t end = at + static_cast<std::size_t>(chunk_size - free_space);
        for (std::size_t p = at + 0x14; p < end;) {
            const auto length = EncInt(data, p, end);
            if (!length || *length > end - p) return fail("bad PMGL entry name");
            chm.names.insert(data.substr(p, static_cast<std::size_t>(*length)));
            p += static_cast<std::size_t>(*length);
            for (int field = 0; field < 3; ++field)  // section, offset, length
                if (!EncInt(data, p, end)) return fail("bad PMGL entry");
        }
        chunk = Le(data, at + 0x10, 4);
    }
    return chm;
}

std::vector<std::string> Matches(const std::string& text, const std::regex& re) {
    std::vector<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
        found.push_back((*it)[1].str());
    return found;
}

std::vector<fs::path> Pages() {
    std::vector<fs::path> pages;
    for (const auto& entry : fs::directory_iterator(HELP_DIR))
        if (entry.path().extension() == ".html") pages.push_back(entry.path());
    return pages;
}

class HelpFile : public ::testing::Test {
protected:
    static void SetUpTestSuite() { chm_ = ReadChm(ReadFile(CHM_PATH)); }
    static Chm chm_;
};
Chm HelpFile::chm_;

TEST_F(HelpFile, IsWellFormedAndHoldsEveryPage) {
    ASSERT_EQ(chm_.error, "") << CHM_PATH;
    const std::vector<fs::path> pages = Pages();
    ASSERT_GE(pages.size(), 10u);
    for (const fs::path& page : pages)
        EXPECT_TRUE(chm_.names.contains("/" + page.filename().string()))
            << page.filename() << " is not in the help file: list it in qdlradio.hhp";
    for (const char* name : {"/help.css", "/toc.hhc", "/index.hhk", "/#SYSTEM"})
        EXPECT_TRUE(chm_.names.contains(name)) << name;
}

// A link to a file the help file lacks, or to an anchor its page lacks, is a dead link in
// the viewer. Pages, contents and index are checked alike.
TEST_F(HelpFile, EveryLinkLeadsInsideIt) {
    ASSERT_EQ(chm_.error, "");
    const std::regex link(R"re((?:href|src)\s*=\s*"([^"]*)")re", std::regex::icase);
    const std::regex local(R"re(<param name="Local" value="([^"]*)")re", std::regex::icase);
    const std::regex anchor(R"re(<a name="([^"]*)")re", std::regex::icase);
    std::vector<fs::path> sources = Pages();
    sources.push_back(fs::path(HELP_DIR) / "toc.hhc");
    sources.push_back(fs::path(HELP_DIR) / "index.hhk");
    for (const fs::path& source : sources) {
        const std::string text = ReadFile(source);
        std::vector<std::string> targets = Matches(text, link);
        for (const std::string& t : Matches(text, local)) targets.push_back(t);
        for (const std::string& target : targets) {
            if (target.starts_with("http:") || target.starts_with("https:")) continue;
            const std::size_t hash = target.find('#');
            const std::string file = target.substr(0, hash);
            EXPECT_TRUE(chm_.names.contains("/" + file))
                << source.filename() << " links to " << target;
            if (hash == std::string::npos || file.empty()) continue;
            const std::vector<std::string> names =
                Matches(ReadFile(fs::path(HELP_DIR) / file), anchor);
            EXPECT_NE(std::find(names.begin(), names.end(), target.substr(hash + 1)), names.end())
                << source.filename() << " links to " << target << ", which has no such anchor";
        }
    }
}

// Old help viewers take the pages as Latin-1 whatever they declare: anything beyond ASCII
// is written as an entity.
TEST_F(HelpFile, PagesArePlainAscii) {
    for (const fs::path& page : Pages()) {
        const std::string text = ReadFile(page);
        const auto bad = std::find_if(text.begin(), text.end(),
                                      [](char c) { return static_cast<unsigned char>(c) > 0x7F; });
        EXPECT_EQ(bad, text.end())
            << page.filename() << " has a non-ASCII byte at offset " << (bad - text.begin());
    }
}

TEST_F(HelpFile, ZbctlPageNamesEveryCommandAndOption) {
    std::string usage;
    {
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(ZBCTL_PATH " --help", "r"), pclose);
        ASSERT_TRUE(pipe);
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) usage += buffer;
    }
    const std::string page = ReadFile(fs::path(HELP_DIR) / "zbctl.html");
    std::istringstream lines(usage);
    std::string line;
    bool in_commands = false;
    int commands = 0;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] != ' ') in_commands = line == "Commands:";
        if (!in_commands || line.size() < 3 || line.compare(0, 2, "  ") != 0 ||
            !std::islower(static_cast<unsigned char>(line[2])))
            continue;
        const std::string command = line.substr(2, line.find(' ', 2) - 2);
        ++commands;
        EXPECT_NE(page.find("<code>" + command + " "), std::string::npos)
            << "zbctl.html lacks the command " << command;
    }
    EXPECT_GE(commands, 6);
    const std::vector<std::string> found = Matches(usage, std::regex(R"((--[a-z][a-z-]*))"));
    for (const std::string& option : std::set<std::string>(found.begin(), found.end()))
        EXPECT_NE(page.find(option), std::string::npos) << "zbctl.html lacks " << option;
}

}  // namespace
