// Configuration files on every platform: the reader's checks, texts that come back as
// written, and an update on disk that keeps what it does not touch.
#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "config/config_file.h"
#include "config_examples.h"
#include "jobs/platform/file_storage.h"
#include "scratch_dir.h"

namespace {

using namespace zbtest;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

std::string CrlfOf(const std::string& text) {
    std::string crlf;
    for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return crlf;
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
        {"PAN ID read as its first four digits", {{"PAN ID", "0x12345"}}, 0, ""},
        {"PAN ID 0xFFFE and a fifth digit", {{"PAN ID", "0xFFFE1"}}, 9, "PAN ID"},
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
        const auto settings = zb::ParseConfigSettings(ExampleWith(c.edits));
        EXPECT_EQ(settings.ok(), c.step == 0);
        if (settings.ok()) continue;
        const zb::ConfigRefusal& why = settings.error();
        EXPECT_EQ(why.step, c.step);
        EXPECT_EQ(why.key, c.refused_key);
        EXPECT_FALSE(why.reason.empty());
        const bool missing = std::any_of(c.edits.begin(), c.edits.end(), [&](const auto& e) {
            return e.first == c.refused_key && e.second == nullptr;
        });
        EXPECT_EQ(why.value.has_value(), !missing);
        EXPECT_TRUE(why.key != "AES Key" || why.value.value_or("(not shown)") == "(not shown)");
    }

    const auto hex = zb::ParseConfigSettings(
        ExampleWith({{"Baud Rate", "0x10"}, {"PAN ID", "0xfffd"}, {"Start Byte", "0xff"}}));
    ASSERT_TRUE(hex);
    EXPECT_EQ(hex->baud, 16u);
    EXPECT_EQ(hex->panid, 0xFFFDu);
    EXPECT_EQ(hex->startbyte, 0xFF);
}

TEST(ConfigReader, ToleratesCrlfCaseCommentsQuotesAndExtras) {
    const auto example = zb::ParseConfigSettings(kExample);
    ASSERT_TRUE(example);

    const std::string crlf = CrlfOf(kExample);
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
        const auto settings = zb::ParseConfigSettings(text);
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
        const auto settings = zb::ParseConfigSettings(ini.Text());
        ASSERT_TRUE(settings) << name;
        EXPECT_EQ(zb::TextOf(settings->devname), name);
    }
}

TEST(ConfigFileOnDisk, UpdateKeepsOtherLinesAndAFailureLeavesNothing) {
    const zbtest::ScratchDir scratch("zbconfig");
    ASSERT_FALSE(scratch.path().empty());
    const fs::path dir = scratch.path();
    const fs::path path = dir / "KRB7310_Config3.txt";
    Spit(path, "; kept\r\n[ZigBee]\r\nDevice Name=old\r\nColour=blue\r\n");
    const zb::Status written = zb::WriteConfigFile(path.string(), ExampleRecord());
    ASSERT_TRUE(written) << written.reason();
    // Written with the line ends of the system's editors, whatever the file had.
    std::string expected = "; kept\n[ZigBee]\nDevice Name=Line 3\nColour=blue\n";
    if (kWindows) expected = CrlfOf(expected);
    const std::string text = Slurp(path);
    EXPECT_EQ(text.rfind(expected, 0), 0u) << text;
    const auto settings = zb::LoadConfigFile(path.string());
    ASSERT_TRUE(settings) << settings.error().reason;
    EXPECT_EQ(zb::TextOf(settings->devname), "Line 3");

    // Neither a folder that is not there nor a folder in the file's place takes the file.
    EXPECT_NE(zb::WriteConfigFile((dir / "absent" / "x.txt").string(), ExampleRecord()).reason(),
              "");
    fs::create_directory(dir / "taken.txt");
    EXPECT_NE(zb::WriteConfigFile((dir / "taken.txt").string(), ExampleRecord()).reason(), "");
    const std::string why = zb::LoadConfigFile((dir / "taken.txt").string()).error().reason;
    EXPECT_NE(why.find("cannot read"), std::string::npos) << why;

    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"KRB7310_Config3.txt", "taken.txt"}));
}

TEST(PathJoin, AddsTheSystemsSeparatorOnlyWhereNoneEndsTheFolder) {
    struct Case {
        const char *folder, *posix, *windows;  // the folder, and the path on each system
    };
    const Case cases[] = {
        {"exp two", "exp two/f.txt", "exp two\\f.txt"},
        {"exp two/", "exp two/f.txt", "exp two/f.txt"},
        {"exp two\\", "exp two\\/f.txt", "exp two\\f.txt"},
        {"/", "/f.txt", "/f.txt"},
        {"C:\\", "C:\\/f.txt", "C:\\f.txt"},
        {"C:", "C:/f.txt", "C:f.txt"},
        {"", "f.txt", "f.txt"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(zb::JoinPath(c.folder, "f.txt"), kWindows ? c.windows : c.posix) << c.folder;
}

}  // namespace
