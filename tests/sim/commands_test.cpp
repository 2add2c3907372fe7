// The command interpreter as a client on the wire sees it.
#include <chrono>

#include "sim_test.h"

namespace {

using simtest::SimTest;

struct Exchange {
    const char* request;
    const char* reply;
};

class DefaultReads : public SimTest, public ::testing::WithParamInterface<Exchange> {};

TEST_P(DefaultReads, AnswerInTheDeviceEncoding) {
    EXPECT_EQ(client->ask(GetParam().request), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, DefaultReads,
    ::testing::Values(Exchange{"?GSB00001", "!GSB0000016"}, Exchange{"?GSD00001", "!GSD000008"},
                      Exchange{"?GSS00001", "!GSS000000"}, Exchange{"?GSP00001", "!GSP000000"},
                      Exchange{"?GSI00001", "!GSI000000"}, Exchange{"?GZC0000", "!GZC0000011"},
                      Exchange{"?GZO0000", "!GZO000006"}, Exchange{"?GZT0000", "!GZT000000"},
                      Exchange{"?GZM0000", "!GZM000000"}, Exchange{"?GZP0000", "!GZP000001A2B"},
                      Exchange{"?GZE0000", "!GZE000000"}, Exchange{"?VZA0000", "!VZA000000000"},
                      Exchange{"?VZU00000", "!VZU000000000"}, Exchange{"?GZN00000", "!GZN000000"},
                      Exchange{"?GZN00001", "!GZN000000"}, Exchange{"?GBN0000", "!GBN00000SIM-1"},
                      Exchange{"?GZS0000", "!GZS000000"}, Exchange{"?GZF0000", "!GZF000007e"},
                      Exchange{"?R@V00000", "!R@V00000SIM 1.0.0"},
                      Exchange{"?VDS00000", "!VDS00000000000000101"},
                      Exchange{"?VXT00000", "!VXT00000OK"},
                      // The address is echoed; unknown codes and classes a command does not take
                      // are refused; commands the tool never sends still get a plausible answer.
                      Exchange{"?GZC00AB", "!GZC000AB11"}, Exchange{"?GQQ0000", "!GQQ10000"},
                      Exchange{"?GZA0000", "!GZA10000"}, Exchange{"?XZC0000", "!XZC10000"},
                      Exchange{"?GZCXY12", "!GZC1XY12"}, Exchange{"?VST00001", "!VST000000"},
                      Exchange{"?CXL0000", "!CXL00000"}, Exchange{"?G@M0000", "!G@M000000"}));

struct Write {
    const char* request;
    const char* read;
    const char* reply;
};

class Writes : public SimTest, public ::testing::WithParamInterface<Write> {};

TEST_P(Writes, AreStoredAndReadBack) {
    const std::string ok =
        std::string("!S") + std::string(GetParam().request).substr(2, 2) + "00000";
    EXPECT_EQ(client->ask(GetParam().request), ok);
    EXPECT_EQ(client->ask(GetParam().read), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(Sim, Writes,
                         ::testing::Values(Write{"?SSB00001;12", "?GSB00001", "!GSB0000012"},
                                           Write{"?SSD00001;9", "?GSD00001", "!GSD000009"},
                                           Write{"?SSS00001;1", "?GSS00001", "!GSS000001"},
                                           Write{"?SSP00001;2", "?GSP00001", "!GSP000002"},
                                           Write{"?SSI00001;3", "?GSI00001", "!GSI000003"},
                                           Write{"?SZC000026", "?GZC0000", "!GZC0000026"},
                                           Write{"?SZO00000", "?GZO0000", "!GZO000000"},
                                           Write{"?SZT00002", "?GZT0000", "!GZT000002"},
                                           Write{"?SZM00001", "?GZM0000", "!GZM000001"},
                                           Write{"?SZE00002", "?GZE0000", "!GZE000002"},
                                           Write{"?SZP000000AB", "?GZP0000", "!GZP0000000AB"},
                                           Write{"?SZN000007", "?GZN00000", "!GZN000007"},
                                           Write{"?SZN0000142", "?GZN00001", "!GZN0000042"},
                                           Write{"?SZF0000a", "?GZF0000", "!GZF000000a"},
                                           Write{"?SBN0000ABCDEFGHIJKLMNOPQRST", "?GBN0000",
                                                 "!GBN00000ABCDEFGHIJKLMNOPQRST"},
                                           Write{"?SBN0000", "?GBN0000", "!GBN00000"},
                                           Write{"?SZS000010123456789abcdef0123456789ABCDEF",
                                                 "?GZS0000",
                                                 "!GZS0000010123456789abcdef0123456789ABCDEF"}));

class RefusedWrites : public SimTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RefusedWrites, GetStatusOneAndChangeNothing) {
    const std::string reply = client->ask(GetParam());
    ASSERT_GE(reply.size(), 9u);
    EXPECT_EQ(reply[4], '1') << reply;
    const zbsim::ModemSettings now = sim->snapshot(1).settings;
    const zbsim::ModemSettings fresh;
    EXPECT_EQ(now.baud, fresh.baud);
    EXPECT_EQ(now.databits, fresh.databits);
    EXPECT_EQ(now.stopbit, fresh.stopbit);
    EXPECT_EQ(now.parity, fresh.parity);
    EXPECT_EQ(now.iface, fresh.iface);
    EXPECT_EQ(now.channel, fresh.channel);
    EXPECT_EQ(now.outpower, fresh.outpower);
    EXPECT_EQ(now.topology, fresh.topology);
    EXPECT_EQ(now.txmode, fresh.txmode);
    EXPECT_EQ(now.devtype, fresh.devtype);
    EXPECT_EQ(now.panid, fresh.panid);
    EXPECT_EQ(now.lnodeid, fresh.lnodeid);
    EXPECT_EQ(now.rnodeid, fresh.rnodeid);
    EXPECT_EQ(now.startbyte, fresh.startbyte);
    EXPECT_EQ(now.security, fresh.security);
    EXPECT_EQ(now.devname, "SIM-1");
}

INSTANTIATE_TEST_SUITE_P(Sim, RefusedWrites,
                         ::testing::Values("?SSB00001;18", "?SSB00001;", "?SSB00001;-1",
                                           "?SSB000012", "?SSD00001;7", "?SSS00001;2",
                                           "?SSP00001;3", "?SSI00001;4", "?SZC000010", "?SZC000027",
                                           "?SZC000015x", "?SZO00008", "?SZT00003", "?SZM00002",
                                           "?SZE00003", "?SZN00000100", "?SZN00002", "?SZN0000250",
                                           "?SZP000010000", "?SZP0000GHIJ", "?SZF0000100",
                                           "?SBN0000ABCDEFGHIJKLMNOPQRSTU",
                                           "?SZS000010123456789abcdef0123456789ABCDE", "?SZS00002",
                                           "?SZS00001zz23456789abcdef0123456789ABCDEF"));

TEST_F(SimTest, ResetsRestartOrEnterTheLoaderOnlyWhenArmed) {
    EXPECT_EQ(client->ask("?CSR00001"), "!CSR00000");
    EXPECT_EQ(client->ask("?CSR00000"), "!CSR00000");
    EXPECT_EQ(client->ask("?CSR00002"), "!CSR10000");
    auto snap = sim->snapshot(1);
    EXPECT_EQ(snap.restarts, 2u);
    EXPECT_EQ(snap.mode, zbsim::ModemMode::Application);

    // A restart forgets the upgrade request.
    EXPECT_EQ(client->ask("?CXF00000"), "!CXF00000");
    EXPECT_EQ(client->ask("?CSR00001"), "!CSR00000");
    EXPECT_EQ(client->ask("?CSR00000"), "!CSR00000");
    EXPECT_EQ(sim->snapshot(1).mode, zbsim::ModemMode::Application);

    EXPECT_EQ(client->ask("?CXF00000"), "!CXF00000");
    EXPECT_EQ(client->ask("?CSR00000"), "!CSR00000");
    snap = sim->snapshot(1);
    EXPECT_EQ(snap.mode, zbsim::ModemMode::Loader);
    EXPECT_EQ(snap.restarts, 4u);
}

TEST_F(SimTest, FramesAreFoundInNoiseAndBrokenFramesDropped) {
    // No control bytes at all.
    client->send("?GZC0000\n");
    EXPECT_EQ(client->read_line(), "!GZC0000011\n");
    // Noise before the frame, and a frame cut short by the start of the next one.
    client->send(std::string("\xff\x00zz", 4) + "\x10\x01\x01?SZC000012" +
                 "\x10\x01\x01?GZC0000\n");
    EXPECT_EQ(client->read_line(), "!GZC0000011\n");
    EXPECT_EQ(sim->snapshot(1).settings.channel, 11);
    // A request too short to carry an address gets no answer; the next one does.
    client->send("?GZ\n");
    EXPECT_EQ(client->ask("?GZO0000"), "!GZO000006");
}

TEST_F(SimTest, RequestsAreRecordedInPrintableForm) {
    client->request("?GSB00001");
    client->read_line();
    client->send(std::string("\x10\x01\x01?SBN0000a\x02\\b\n"));
    client->read_line();
    const std::vector<std::string> expected = {"?GSB00001", "?SBN0000a\\x02\\x5Cb"};
    EXPECT_EQ(sim->requests(1), expected);
    EXPECT_EQ(sim->snapshot(1).commands, 2u);
    EXPECT_NE(log_text().find("COM1 ?GSB00001\nCOM1 ?SBN0000a\\x02\\x5Cb\n"), std::string::npos)
        << log_text();
    sim->clear_requests(1);
    EXPECT_TRUE(sim->requests(1).empty());

    // Not recording: nothing is kept, but the request is still counted and logged.
    start(false, 1, false);
    EXPECT_EQ(client->ask("?GZO0000"), "!GZO000006");
    EXPECT_TRUE(sim->requests(1).empty());
    EXPECT_EQ(sim->snapshot(1).commands, 1u);
    EXPECT_NE(log_text().find("COM1 ?GZO0000\n"), std::string::npos);
}

TEST_F(SimTest, SettingsSetThroughTheApiAreAnswered) {
    zbsim::ModemSettings s;
    s.devname = "BENCH";
    s.fw_type = 0x0A0B;
    s.security = true;
    s.aeskey = std::string(32, 'F');
    s.short_addr = 0x1234;
    sim->set_settings(1, s);
    EXPECT_EQ(client->ask("?GBN0000"), "!GBN00000BENCH");
    EXPECT_EQ(client->ask("?VDS00000"), "!VDS00000000000000a0b");
    EXPECT_EQ(client->ask("?GZS0000"), "!GZS000001" + std::string(32, 'F'));
    EXPECT_EQ(client->ask("?VZU00000"), "!VZU000001234");
    // A payload never pushes the line past 49 characters.
    s.fw_version = std::string(60, 'v');
    sim->set_settings(1, s);
    EXPECT_EQ(client->ask("?R@V00000").size(), 48u);
}

// Paced, a reply cannot be complete before the request and the reply have crossed the
// line at 115200 baud: a lower bound only, so a slow machine cannot break it.
TEST_F(SimTest, PacedRepliesTakeTheirWireTime) {
    start(true);
    const std::string request = "?SBN0000ABCDEFGHIJKLMNOPQRST";  // 3 + 28 + 1 bytes
    const auto begin = simtest::Clock::now();
    EXPECT_EQ(client->ask(request), "!SBN00000");
    const auto took = simtest::Clock::now() - begin;
    EXPECT_GE(took, std::chrono::microseconds((32 + 10) * 86));
}

}  // namespace
