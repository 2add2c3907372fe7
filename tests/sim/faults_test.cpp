// Injected faults, and the --fault syntax.
#include <chrono>

#include "sim_test.h"

namespace {

using simtest::make_block;
using simtest::make_image;
using simtest::SimTest;
using zbsim::Fault;
using zbsim::FaultKind;

// Long enough that a reply, had one been sent, would have arrived; nothing can arrive
// late because of a slow machine and make this pass wrongly.
constexpr int kQuietMs = 300;

TEST_F(SimTest, SilentAndStopAfterMuteTheModemButStillRecord) {
    sim->add_fault(1, Fault::Counted(FaultKind::StopAfter, 2));
    EXPECT_EQ(client->ask("?GZC0000"), "!GZC0000011");
    EXPECT_EQ(client->ask("?GZO0000"), "!GZO000006");
    client->request("?GZT0000");
    EXPECT_EQ(client->read_line(kQuietMs), "");
    EXPECT_EQ(sim->requests(1).size(), 3u);

    sim->clear_faults(1);
    EXPECT_EQ(client->ask("?GZT0000"), "!GZT000000");
    sim->add_fault(0, Fault::Of(FaultKind::Silent));
    client->request("?GZT0000");
    EXPECT_EQ(client->read_line(kQuietMs), "");
    EXPECT_EQ(sim->snapshot(1).commands, 5u);
}

TEST_F(SimTest, RefusedCommandIsNotCarriedOut) {
    sim->add_fault(1, Fault::Refusing("ZP"));
    EXPECT_EQ(client->ask("?SZP00001234"), "!SZP10000");
    EXPECT_EQ(client->ask("?GZP0000"), "!GZP10000");
    EXPECT_EQ(sim->snapshot(1).settings.panid, 0x1A2B);
    EXPECT_EQ(client->ask("?GZC0000"), "!GZC0000011");
}

TEST_F(SimTest, KeepOldAnswersSuccessButChangesNothing) {
    sim->add_fault(1, Fault::Counted(FaultKind::KeepOld, 1));
    sim->add_fault(1, Fault::Refusing("ZO"));  // a refused write is not one that was kept
    sim->add_fault(1, Fault::KeepingOld("ZC"));
    EXPECT_EQ(client->ask("?SZO00001"), "!SZO10000");
    EXPECT_EQ(client->ask("?SZP00001234"), "!SZP00000");
    EXPECT_EQ(client->ask("?SZP00001234"), "!SZP00000");
    EXPECT_EQ(client->ask("?SZC000020"), "!SZC00000");
    const zbsim::ModemSettings s = sim->snapshot(1).settings;
    EXPECT_EQ(s.panid, 0x1234);  // the counted fault kept only the first write
    EXPECT_EQ(s.channel, 11);
}

TEST_F(SimTest, MalformedReplyFaults) {
    sim->add_fault(1, Fault::Counted(FaultKind::Noise, 2));
    EXPECT_EQ(client->ask("?GZC0000"), "xx!GZC0000011");
    sim->clear_faults(1);
    sim->add_fault(1, Fault::Of(FaultKind::LongLine));
    const std::string long_line = client->ask("?GZC0000");
    EXPECT_EQ(long_line.size() + 1, 50u);
    EXPECT_EQ(long_line.rfind("!GZC0000011", 0), 0u);
    sim->clear_faults(1);
    sim->add_fault(1, Fault::Of(FaultKind::NoBang));
    EXPECT_EQ(client->ask("?GZC0000"), "GZC0000011");
    // Faults add up.
    sim->add_fault(1, Fault::Counted(FaultKind::Noise, 1));
    EXPECT_EQ(client->ask("?GZC0000"), "xGZC0000011");
}

TEST_F(SimTest, GapFaultPausesInsideTheLine) {
    sim->add_fault(1, Fault::Paused(FaultKind::Gap, 2100));
    client->request("?GZP0000");
    std::string line;
    auto longest = std::chrono::steady_clock::duration::zero();
    auto last = std::chrono::steady_clock::now();
    while (line.empty() || line.back() != '\n') {
        const int b = client->read_byte(4000);
        ASSERT_GE(b, 0) << line;
        const auto now = std::chrono::steady_clock::now();
        if (!line.empty()) longest = std::max(longest, now - last);
        last = now;
        line.push_back(static_cast<char>(b));
    }
    EXPECT_EQ(line, "!GZP000001A2B\n");
    EXPECT_GE(longest, std::chrono::milliseconds(2000));
}

TEST_F(SimTest, LoaderAnswersFromTheApplication) {
    sim->add_fault(1, Fault::Counted(FaultKind::LoaderAnswer, 0));
    client->request("?GZC0000");
    EXPECT_EQ(client->read_byte(), 'C');
    sim->clear_faults(1);
    sim->add_fault(1, Fault::Counted(FaultKind::LoaderAnswer, 1));
    EXPECT_EQ(client->ask("?CSR00001"), "!VDS00000000000000101");
    const auto snap = sim->snapshot(1);
    EXPECT_EQ(snap.mode, zbsim::ModemMode::Application);
    EXPECT_EQ(snap.restarts, 0u);
}

class BlockFaults : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        sim->set_mode(1, zbsim::ModemMode::Loader);
        int b = 0;
        do {
            b = client->read_byte();
        } while (b >= 0 && b != 'C');
        ASSERT_EQ(b, 'C');
        image = make_image(600, "V");
    }
    int send(std::size_t index, int timeout_ms = simtest::kWaitMs) {
        client->send(make_block(static_cast<std::uint8_t>(index), image.data() + (index - 1) * 128,
                                std::min<std::size_t>(128, image.size() - (index - 1) * 128)));
        return client->read_byte(timeout_ms);
    }
    std::vector<std::uint8_t> image;
};

TEST_F(BlockFaults, NakOnceThenAck) {
    sim->add_fault(1, Fault::Counted(FaultKind::NakBlock, 2));
    EXPECT_EQ(send(1), 0x06);
    EXPECT_EQ(send(2), 0x15);
    EXPECT_EQ(send(2), 0x06);
    EXPECT_EQ(send(3), 0x06);
    EXPECT_NE(log_text().find("COM1 block 2 nak (fault)\n"), std::string::npos);
}

TEST_F(BlockFaults, CanDropsTheTransfer) {
    sim->add_fault(1, Fault::Counted(FaultKind::CanBlock, 2));
    EXPECT_EQ(send(1), 0x06);
    EXPECT_EQ(send(2), 0x18);
    EXPECT_EQ(sim->snapshot(1).mode, zbsim::ModemMode::Loader);
    EXPECT_EQ(client->read_byte(), 'C');
}

TEST_F(BlockFaults, NakAllNeverLetsABlockThrough) {
    sim->add_fault(1, Fault::Of(FaultKind::NakAll));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(send(1), 0x15) << i;
    EXPECT_EQ(sim->snapshot(1).blocks_acked, 0u);
    EXPECT_NE(log_text().find("COM1 block #1 nak (fault)\n"), std::string::npos);
    sim->clear_faults(1);
    EXPECT_EQ(send(1), 0x06);
}

TEST_F(SimTest, SyncJunkReplacesTheLoadersC) {
    sim->add_fault(1, Fault::Paused(FaultKind::SyncJunk, 20));
    sim->set_mode(1, zbsim::ModemMode::Loader);
    // Far more often than the one-second beacon, and never a 'C'.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(client->read_byte(), 'x') << i;
    sim->clear_faults(1);
    int b = 0;
    do {
        b = client->read_byte();
    } while (b == 'x');
    EXPECT_EQ(b, 'C');
}

TEST_F(BlockFaults, MuteLeavesABlockUnanswered) {
    sim->add_fault(1, Fault::Counted(FaultKind::MuteBlock, 1));
    EXPECT_EQ(send(1, kQuietMs), -1);
    EXPECT_EQ(sim->snapshot(1).blocks_acked, 0u);
}

// ---- --fault syntax ---------------------------------------------------------------------

struct Parsed {
    const char* text;
    int com;
    FaultKind kind;
    int count;
    int ms;
    const char* code;
};

class ParseFault : public ::testing::TestWithParam<Parsed> {};

TEST_P(ParseFault, Accepts) {
    int com = -1;
    Fault f;
    std::string error;
    ASSERT_TRUE(zbsim::parse_fault(GetParam().text, &com, &f, &error)) << error;
    EXPECT_EQ(com, GetParam().com);
    EXPECT_EQ(f.kind, GetParam().kind);
    EXPECT_EQ(f.count, GetParam().count);
    EXPECT_EQ(f.ms, GetParam().ms);
    EXPECT_EQ(f.code, GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, ParseFault,
    ::testing::Values(Parsed{"silent:COM3", 3, FaultKind::Silent, 0, 0, ""},
                      Parsed{"silent", 0, FaultKind::Silent, 0, 0, ""},
                      Parsed{"silent:all", 0, FaultKind::Silent, 0, 0, ""},
                      Parsed{"stop-after:com12:10", 12, FaultKind::StopAfter, 10, 0, ""},
                      Parsed{"stop-after:0", 0, FaultKind::StopAfter, 0, 0, ""},
                      Parsed{"refuse:COM3:zp", 3, FaultKind::Refuse, 0, 0, "ZP"},
                      Parsed{"refuse:@V", 0, FaultKind::Refuse, 0, 0, "@V"},
                      Parsed{"noise:COM3", 3, FaultKind::Noise, 2, 0, ""},
                      Parsed{"noise:5", 0, FaultKind::Noise, 5, 0, ""},
                      Parsed{"long-line:COM1", 1, FaultKind::LongLine, 0, 0, ""},
                      Parsed{"no-bang", 0, FaultKind::NoBang, 0, 0, ""},
                      Parsed{"gap:COM2", 2, FaultKind::Gap, 0, 2500, ""},
                      Parsed{"gap:COM2:3000", 2, FaultKind::Gap, 0, 3000, ""},
                      Parsed{"loader:COM3", 3, FaultKind::LoaderAnswer, 0, 0, ""},
                      Parsed{"loader-ds:COM3", 3, FaultKind::LoaderAnswer, 1, 0, ""},
                      Parsed{"nak-block:COM3:5", 3, FaultKind::NakBlock, 5, 0, ""},
                      Parsed{"can-block:5", 0, FaultKind::CanBlock, 5, 0, ""},
                      Parsed{"mute-block:all:7", 0, FaultKind::MuteBlock, 7, 0, ""},
                      Parsed{"nak-all:COM2", 2, FaultKind::NakAll, 0, 0, ""},
                      Parsed{"sync-junk", 0, FaultKind::SyncJunk, 0, 100, ""},
                      Parsed{"sync-junk:COM4:20", 4, FaultKind::SyncJunk, 0, 20, ""},
                      Parsed{"keep-old", 0, FaultKind::KeepOld, 0, 0, ""},
                      Parsed{"keep-old:COM4:zc", 4, FaultKind::KeepOld, 0, 0, "ZC"},
                      Parsed{"keep-old:COM4:ZC:2", 4, FaultKind::KeepOld, 2, 0, "ZC"},
                      Parsed{"keep-old:3", 0, FaultKind::KeepOld, 3, 0, ""}));

TEST(ParseFaultErrors, AreRefusedWithAReason) {
    for (const char* text : {"",
                             "explode:COM3",
                             "silent:COM3:1",
                             "stop-after:COM3",
                             "stop-after:COM3:x",
                             "refuse:COM3",
                             "refuse:COM3:ZPX",
                             "refuse:COM3:Z1",
                             "noise:COM0",
                             "noise:COMx:2",
                             "noise:0",
                             "gap:COM1:-5",
                             "nak-block:COM1:0",
                             "can-block",
                             "mute-block:COM1:5:6",
                             "nak-all:3",
                             "sync-junk:0",
                             "keep-old:0",
                             "keep-old:ZC:ZP",
                             "keep-old:2:ZC",
                             "keep-old:Z1",
                             "keep-old:ZC:1:2"}) {
        int com = 99;
        Fault f;
        std::string error;
        EXPECT_FALSE(zbsim::parse_fault(text, &com, &f, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(com, 99) << text;
    }
}

TEST(FaultHelp, NamesEveryKind) {
    const std::string help = zbsim::fault_help();
    for (const char* kind :
         {"silent", "stop-after", "refuse", "noise", "long-line", "no-bang", "gap", "loader",
          "loader-ds", "nak-block", "can-block", "mute-block", "nak-all", "sync-junk", "keep-old"})
        EXPECT_NE(help.find(std::string("  ") + kind + "[:WHERE]"), std::string::npos) << kind;
}

}  // namespace
