// Configuration files: the writer's exact text, the reader's checks, updates of existing
// files, atomic writes and the import into the port table.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>

#include "config/config_file.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kExample =
    "[Serial]\nBaud Rate=16\nParity=0\nData Bit=8\nStop Bit=0\nInterface=0\n"
    "[ZigBee]\nDevice Name=Line 3\nDevice Type=1\nLocal Node ID=5\nDestination Node ID=0\n"
    "PAN ID=0x01a2\nChannel=0\nOutput Power=6\nTopology=0\nMode=0\nStart Byte=0x00\n"
    "Security=0\nAES Key=\n";

// The router on COM3 of the example: 115200 bit/s, node 5, PAN 0x01A2, channel 11, +1 dBm.
zb::DeviceRecord ExampleRecord() {
    zb::DeviceRecord r;
    r.baud = 16;
    r.devtype = 1;
    r.lnodeid = 5;
    r.panid = 0x01A2;
    r.outpower = 6;
    zb::SetText(r.devname, "Line 3");
    return r;
}

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void Spit(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The example with some keys given other values (nullptr: the key removed).
std::string ExampleWith(std::vector<std::pair<std::string, const char*>> edits) {
    std::istringstream in(kExample);
    std::string out, line;
    while (std::getline(in, line)) {
        bool drop = false;
        for (const auto& [key, value] : edits) {
            if (line.rfind(key + "=", 0) != 0) continue;
            drop = value == nullptr;
            if (value != nullptr) line = key + "=" + value;
        }
        if (!drop) out += line + "\n";
    }
    return out;
}

auto Tie(const zb::ConfigSettings& s) {
    return std::tie(s.baud, s.parity, s.databit, s.stopbit, s.interface, s.devname, s.devtype,
                    s.rnodeid, s.panid, s.channel, s.outpower, s.topology, s.txmode, s.startbyte,
                    s.security, s.aeskey);
}

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.path().empty());
        dir_ = scratch_.path();
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    zbtest::ScratchDir scratch_{"zbconfig"};
    fs::path dir_;
};

TEST_F(ConfigFileTest, ExportWritesTheExampleByteForByteOneFilePerSelectedPort) {
    zb::PortTable rows;
    for (std::uint32_t com : {3u, 6u, 12u}) {
        auto r = zb::AddPort(rows[com - 1], com);
        *r = ExampleRecord();
        r->selected = com != 6;
    }
    const mode_t old_mask = ::umask(027);
    const auto failures = zb::WriteConfigFiles(rows, dir_.string());
    ::umask(old_mask);

    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(Names(), (std::vector<std::string>{"KRB7310_Config12.txt", "KRB7310_Config3.txt"}));
    EXPECT_EQ(Slurp(dir_ / "KRB7310_Config3.txt"), kExample);
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / "KRB7310_Config3.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

struct ReadCase {
    const char* what;
    std::vector<std::pair<std::string, const char*>> edits;
    int step;  // 0: accepted
    const char* refused_key;
};

TEST(ConfigReader, ChecksEachKeyInOrder) {
    const std::string key32 = "00112233445566778899aabbccddEEFF";
    const ReadCase cases[] = {
        {"the example", {}, 0, ""},
        {"Data Bit 7", {{"Data Bit", "7"}}, 3, "Data Bit"},
        {"Channel 16", {{"Channel", "16"}}, 10, "Channel"},
        {"Baud Rate in hex", {{"Baud Rate", "0x10"}}, 0, ""},
        {"Baud Rate with junk", {{"Baud Rate", "16x"}}, 1, "Baud Rate"},
        {"Baud Rate missing", {{"Baud Rate", nullptr}}, 1, "Baud Rate"},
        {"PAN ID 0xfffd", {{"PAN ID", "0xfffd"}}, 0, ""},
        {"PAN ID 0xFFFE", {{"PAN ID", "0xFFFE"}}, 9, "PAN ID"},
        {"PAN ID with upper-case X", {{"PAN ID", "0X01a2"}}, 9, "PAN ID"},
        {"PAN ID without 0x", {{"PAN ID", "1234"}}, 9, "PAN ID"},
        {"PAN ID missing", {{"PAN ID", nullptr}}, 9, "PAN ID"},
        {"Start Byte missing", {{"Start Byte", nullptr}}, 14, "Start Byte"},
        {"Start Byte 0xff", {{"Start Byte", "0xff"}}, 0, ""},
        {"coordinator with a destination",
         {{"Device Type", "0"}, {"Destination Node ID", "3"}},
         8,
         "Destination Node ID"},
        {"router with a destination", {{"Destination Node ID", "3"}}, 0, ""},
        {"security on without key", {{"Security", "1"}}, 16, "AES Key"},
        {"security on with key", {{"Security", "1"}, {"AES Key", key32.c_str()}}, 0, ""},
        {"security off with key", {{"AES Key", key32.c_str()}}, 0, ""},
        {"AES Key 0", {{"AES Key", "0"}}, 16, "AES Key"},
        {"AES Key missing", {{"AES Key", nullptr}}, 16, "AES Key"},
        {"Device Name 0", {{"Device Name", "0"}}, 6, "Device Name"},
        {"Device Name of 21", {{"Device Name", "abcdefghijklmnopqrstu"}}, 6, "Device Name"},
        {"Device Name of 20", {{"Device Name", "abcdefghijklmnopqrst"}}, 0, ""},
        {"empty Device Name", {{"Device Name", ""}}, 0, ""},
        {"Security as a word", {{"Security", "on"}}, 15, "Security"},
        {"Security missing", {{"Security", nullptr}}, 0, ""},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        zb::ConfigRefusal why;
        const auto settings = zb::ParseConfigSettings(ExampleWith(c.edits), &why);
        EXPECT_EQ(settings.has_value(), c.step == 0);
        if (c.step == 0) continue;
        EXPECT_EQ(why.step, c.step);
        EXPECT_EQ(why.key, c.refused_key);
        EXPECT_FALSE(why.reason.empty());
        const bool missing = std::any_of(c.edits.begin(), c.edits.end(), [&](const auto& e) {
            return e.first == c.refused_key && e.second == nullptr;
        });
        EXPECT_EQ(why.value.has_value(), !missing);
    }

    const auto hex = zb::ParseConfigSettings(
        ExampleWith({{"Baud Rate", "0x10"}, {"PAN ID", "0xfffd"}, {"Start Byte", "0xff"}}),
        nullptr);
    ASSERT_TRUE(hex);
    EXPECT_EQ(hex->baud, 16u);
    EXPECT_EQ(hex->panid, 0xFFFDu);
    EXPECT_EQ(hex->startbyte, 0xFF);
}

TEST(ConfigReader, ToleratesCrlfCaseCommentsQuotesAndExtras) {
    const auto example = zb::ParseConfigSettings(kExample, nullptr);
    ASSERT_TRUE(example);

    std::string crlf;
    for (const char* p = kExample; *p != '\0'; ++p)
        crlf += *p == '\n' ? std::string("\r\n") : std::string(1, *p);
    std::string lower = kExample;
    for (const auto& [from, to] : {std::pair{"[Serial]", "[ serial ]"},
                                   {"Baud Rate", "baud rate"},
                                   {"Device Name", "DEVICE NAME"},
                                   {"PAN ID", "pan id"}})
        lower.replace(lower.find(from), std::strlen(from), to);
    const std::string extras = "[Other]\nBaud Rate=99\n; Channel=9\n" +
                               ExampleWith({{"Channel", "  0  "}, {"Device Name", "'Line 3'"}}) +
                               "# note\nColour = blue\n[More]\nChannel=16\n";
    for (const std::string& text : {crlf, lower, extras}) {
        const auto settings = zb::ParseConfigSettings(text, nullptr);
        ASSERT_TRUE(settings) << text;
        EXPECT_EQ(Tie(*settings), Tie(*example)) << text;
    }
}

TEST(ConfigWriter, TextsWithBlanksOrQuotesComeBackAsWritten) {
    for (const char* name : {"  pump 7", "pump 7 ", "\"quoted\"", "'x", "it's"}) {
        zb::DeviceRecord r = ExampleRecord();
        zb::SetText(r.devname, name);
        zb::IniText ini;
        zb::PutSettings(ini, r);
        const auto settings = zb::ParseConfigSettings(ini.Text(), nullptr);
        ASSERT_TRUE(settings) << name;
        EXPECT_EQ(settings->devname, name);
    }
}

TEST_F(ConfigFileTest, UpdateKeepsOtherLinesModeAndOrder) {
    const fs::path path = dir_ / "KRB7310_Config3.txt";
    Spit(path,
         "; kept by hand\r\n[serial]\r\nbaud rate = 3\r\nColour=blue\r\n\r\n"
         "[Notes]\r\ntext=keep me\r\n[ZigBee]\r\nDevice Name=old\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    std::string error;
    ASSERT_TRUE(zb::WriteConfigFile(path.string(), ExampleRecord(), &error)) << error;

    EXPECT_EQ(Slurp(path),
              "; kept by hand\n[serial]\nBaud Rate=16\nColour=blue\nParity=0\nData Bit=8\n"
              "Stop Bit=0\nInterface=0\n\n[Notes]\ntext=keep me\n[ZigBee]\nDevice Name=Line 3\n"
              "Device Type=1\nLocal Node ID=5\nDestination Node ID=0\nPAN ID=0x01a2\nChannel=0\n"
              "Output Power=6\nTopology=0\nMode=0\nStart Byte=0x00\nSecurity=0\nAES Key=\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(Names(), std::vector<std::string>{"KRB7310_Config3.txt"});
}

TEST_F(ConfigFileTest, FailedWriteSaysWhyAndLeavesNothingBehind) {
    std::string error;
    EXPECT_FALSE(
        zb::WriteConfigFile((dir_ / "absent" / "x.txt").string(), ExampleRecord(), &error));
    EXPECT_EQ(error, "No such file or directory");

    fs::create_directory(dir_ / "KRB7310_Config1.txt");
    zb::PortTable rows;
    zb::AddPort(rows[0], 1);
    const auto failures = zb::WriteConfigFiles(rows, dir_.string());
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].com, 1u);
    EXPECT_EQ(failures[0].path, (dir_ / "KRB7310_Config1.txt").string());
    EXPECT_EQ(failures[0].reason, "Is a directory");
    EXPECT_EQ(Names(), std::vector<std::string>{"KRB7310_Config1.txt"});

    zb::DeviceRecord broken = ExampleRecord();
    zb::SetText(broken.devname, "a\n[Serial]");
    EXPECT_FALSE(zb::WriteConfigFile((dir_ / "b.txt").string(), broken, &error));
    EXPECT_EQ(Names(), std::vector<std::string>{"KRB7310_Config1.txt"});

    // A write that fails half-way (a full disk, here a file size limit, which also binds
    // root) leaves the old file as it was and no temporary file.
    const fs::path kept = dir_ / "kept.txt";
    Spit(kept, "[Serial]\nBaud Rate=3\n");
    rlimit old_limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old_limit;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_FALSE(zb::WriteConfigFile(kept.string(), ExampleRecord(), &error));
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(error, "File too large");
    EXPECT_EQ(Slurp(kept), "[Serial]\nBaud Rate=3\n");
    EXPECT_EQ(Names(), (std::vector<std::string>{"KRB7310_Config1.txt", "kept.txt"}));
}

TEST_F(ConfigFileTest, ImportGivesEverySelectedRecordTheSettingsButItsOwnNode) {
    zb::PortTable rows;
    for (std::uint32_t i = 0; i < 4; ++i) {
        auto r = zb::AddPort(rows[i], i + 1);
        r->lnodeid = 10 + i;
        r->startbyte = 0x7E;
        zb::SetText(r->aeskey, "00112233445566778899AABBCCDDEEFF");
    }
    rows[3].device->selected = false;
    const fs::path file = dir_ / "in.txt";

    // Refused or unreadable: nothing changes.
    Spit(file, ExampleWith({{"Channel", "16"}}));
    zb::ConfigRefusal why;
    EXPECT_FALSE(zb::ReadConfigFile(file.string(), rows, &why));
    EXPECT_EQ(why.step, 10);
    EXPECT_FALSE(zb::ReadConfigFile((dir_ / "none.txt").string(), rows, &why));
    EXPECT_EQ(why.step, 1);
    EXPECT_NE(why.reason.find("cannot read " + (dir_ / "none.txt").string() +
                              ": No such file or directory"),
              std::string::npos);
    EXPECT_FALSE(rows[0].device->apply_pending);
    EXPECT_EQ(rows[0].device->panid, 0u);

    Spit(file, ExampleWith({{"Destination Node ID", "42"}}));
    ASSERT_TRUE(zb::ReadConfigFile(file.string(), rows, &why));
    for (std::uint32_t i = 0; i < 3; ++i) {
        const zb::DeviceRecord& r = *rows[i].device;
        EXPECT_TRUE(r.apply_pending);
        EXPECT_EQ(std::tie(r.lnodeid, r.rnodeid, r.devtype, r.panid),
                  std::make_tuple(10 + i, 42u, 1u, 0x01A2u));
        EXPECT_EQ(r.startbyte, 0);
        EXPECT_EQ(zb::TextOf(r.devname), "Line 3");
        EXPECT_EQ(zb::TextOf(r.aeskey), "");  // the empty key of the file clears it
    }
    EXPECT_FALSE(rows[3].device->apply_pending);
    EXPECT_EQ(rows[3].device->startbyte, 0x7E);
}

}  // namespace
