// Configuration files: the writer's exact text, the reader's checks, updates of existing
// files, atomic writes and the import into the port table.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "config/config_file.h"
#include "config_examples.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace zbtest;

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

TEST_F(ConfigFileTest, UpdateKeepsOtherLinesModeAndOrder) {
    const fs::path path = dir_ / "KRB7310_Config3.txt";
    Spit(path,
         "; kept by hand\r\n[serial]\r\nbaud rate = 3\r\nColour=blue\r\n\r\n"
         "[Notes]\r\ntext=keep me\r\n[ZigBee]\r\nDevice Name=old\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const zb::Status written = zb::WriteConfigFile(path.string(), ExampleRecord());
    ASSERT_TRUE(written) << written.reason();

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

// The network's key makes a file its owner's alone: a new one, and one others could read.
TEST_F(ConfigFileTest, AFileThatHoldsTheKeyIsTheOwnersAlone) {
    zb::DeviceRecord keyed = ExampleRecord();
    zb::SetText(keyed.aeskey, "00112233445566778899AABBCCDDEEFF");
    const fs::path path = dir_ / "KRB7310_Config3.txt";
    for (const mode_t before : {0u, 0644u}) {
        ASSERT_TRUE(before == 0 || ::chmod(path.c_str(), before) == 0);
        const mode_t old_mask = ::umask(022);
        const zb::Status written = zb::WriteConfigFile(path.string(), keyed);
        ::umask(old_mask);
        ASSERT_TRUE(written) << written.reason();
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << before;
    }
}

TEST_F(ConfigFileTest, FailedWriteSaysWhyAndLeavesNothingBehind) {
    EXPECT_EQ(zb::WriteConfigFile((dir_ / "absent" / "x.txt").string(), ExampleRecord()).reason(),
              "No such file or directory");

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
    EXPECT_FALSE(zb::WriteConfigFile((dir_ / "b.txt").string(), broken));
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
    const zb::Status too_large = zb::WriteConfigFile(kept.string(), ExampleRecord());
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(too_large.reason(), "File too large");
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
    EXPECT_EQ(zb::ReadConfigFile(file.string(), rows).error().step, 10);
    const zb::ConfigRefusal none = zb::ReadConfigFile((dir_ / "none.txt").string(), rows).error();
    EXPECT_EQ(none.step, 1);
    EXPECT_TRUE(none.unreadable);
    EXPECT_EQ(none.reason,
              "cannot read " + (dir_ / "none.txt").string() + ": No such file or directory");
    // Refused for its size alone, not also for a key its text was never searched for.
    const fs::path huge = dir_ / "huge.txt";
    Spit(huge, std::string(2 << 20, ';'));
    const zb::ConfigRefusal huge_why = zb::ReadConfigFile(huge.string(), rows).error();
    EXPECT_TRUE(huge_why.unreadable);
    EXPECT_EQ(huge_why.reason, "cannot read " + huge.string() + ": File too large");
    EXPECT_FALSE(rows[0].device->apply_pending);
    EXPECT_EQ(rows[0].device->panid, 0u);

    Spit(file, ExampleWith({{"Destination Node ID", "42"}}));
    ASSERT_TRUE(zb::ReadConfigFile(file.string(), rows));
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
