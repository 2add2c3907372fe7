#include "protocol/param_commands.h"

#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "modem_link_fixture.h"
#include "protocol/command_frame.h"

namespace {

using namespace zb;
using zbtest::PortMap;
using zbtest::PtyPeer;

bool sent(const std::vector<std::string>& requests, const std::string& text) {
    for (const std::string& r : requests)
        if (r.find(text) != std::string::npos) return true;
    return false;
}

class ParamTest : public zbtest::SimFixture {};

TEST_F(ParamTest, ReadsEverySettingOfAFreshModem) {
    std::int32_t v = -1;
    EXPECT_EQ(dev_get_baud(link, 0, &v), ST_OK);
    EXPECT_EQ(v, 16);
    EXPECT_EQ(dev_get_databit(link, 0, &v), ST_OK);
    EXPECT_EQ(v, 8);
    EXPECT_EQ(dev_get_channel(link, 0, &v), ST_OK);
    EXPECT_EQ(v, 11);
    EXPECT_EQ(dev_get_panid(link, 0, &v), ST_OK);
    EXPECT_EQ(v, 0x1A2B);
    EXPECT_EQ(dev_get_outpower(link, 0, &v), ST_OK);
    EXPECT_EQ(v, 6);
    EXPECT_EQ(dev_get_fw_type(link, 0, &v), ST_OK);
    EXPECT_EQ(v, 0x0101);
    EXPECT_EQ(dev_get_node_addr(link, 0, 0, &v), ST_OK);
    EXPECT_EQ(dev_get_parent_addr(link, 0, &v), ST_OK);
    EXPECT_EQ(dev_get_nodeid(link, 0, 0, &v), ST_OK);
    EXPECT_EQ(dev_get_nodeid(link, 0, 1, &v), ST_OK);
    std::uint8_t start = 0;
    EXPECT_EQ(dev_get_startbyte(link, 0, &start), ST_OK);
    EXPECT_EQ(start, 0x7E);
    char text[PAYLOAD_BUF_SIZE] = {};
    EXPECT_EQ(dev_get_devname(link, 0, text, sizeof text), ST_OK);
    EXPECT_STREQ(text, "SIM-1");
    EXPECT_EQ(dev_get_security(link, 0, text, sizeof text), ST_OK);
    EXPECT_STREQ(text, "0");
    EXPECT_EQ(dev_get_fw_version(link, 0, text, sizeof text), ST_OK);
    EXPECT_STREQ(text, "SIM 1.0.0");
    EXPECT_EQ(dev_check_connection(link, 0, 0), ST_OK);

    const auto requests = take_requests();
    EXPECT_TRUE(sent(requests, "?GSB00001"));
    EXPECT_TRUE(sent(requests, "?GSD00001"));
    EXPECT_TRUE(sent(requests, "?GZC0000"));
    EXPECT_TRUE(sent(requests, "?VDS00000"));
    EXPECT_TRUE(sent(requests, "?VZU00000"));
    EXPECT_TRUE(sent(requests, "?GZN00001"));
    EXPECT_TRUE(sent(requests, "?R@V00000"));
    EXPECT_TRUE(sent(requests, "?VXT00000"));
}

TEST_F(ParamTest, WritesUseTheWireEncodings) {
    EXPECT_EQ(dev_set_baud(link, 0, 12), ST_OK);
    EXPECT_TRUE(sent(take_requests(), "?SSB00001;12"));
    EXPECT_EQ(dev_set_databit(link, 0, 8), ST_OK);
    EXPECT_TRUE(sent(take_requests(), "?SSD00001;8"));
    EXPECT_EQ(dev_set_channel(link, 0, 26), ST_OK);
    EXPECT_TRUE(sent(take_requests(), "?SZC000026"));
    EXPECT_EQ(dev_set_panid(link, 0, 0x00AB), ST_OK);
    EXPECT_TRUE(sent(take_requests(), "?SZP000000AB"));
    EXPECT_EQ(dev_set_startbyte(link, 0, 0x0A), ST_OK);
    const auto start_a = take_requests();
    EXPECT_TRUE(sent(start_a, "?SZF0000a"));
    EXPECT_FALSE(sent(start_a, "?SZF00000a"));
    EXPECT_EQ(dev_set_startbyte(link, 0, 0xAB), ST_OK);
    EXPECT_TRUE(sent(take_requests(), "?SZF0000ab"));
    EXPECT_EQ(dev_set_nodeid(link, 0, 0, 7), ST_OK);
    EXPECT_TRUE(sent(take_requests(), "?SZN000007"));
    EXPECT_EQ(dev_set_nodeid(link, 0, 1, 0), ST_OK);
    EXPECT_TRUE(sent(take_requests(), "?SZN000010"));
    EXPECT_EQ(dev_set_nodeid(link, 0, 1, 42), ST_OK);
    EXPECT_TRUE(sent(take_requests(), "?SZN0000142"));
    EXPECT_EQ(dev_set_devname(link, 0, "ABCDEFGHIJKLMNOPQRST"), ST_OK);
    EXPECT_TRUE(sent(take_requests(), "?SBN0000ABCDEFGHIJKLMNOPQRST"));
    const char* key40 = "00112233445566778899AABBCCDDEEFF01234567";
    EXPECT_EQ(dev_set_security(link, 0, '1', key40), ST_OK);
    const auto sec = take_requests();
    EXPECT_TRUE(sent(sec, "?SZS00001" + std::string(key40, 32)));
    EXPECT_FALSE(sent(sec, std::string(key40, 33)));
    EXPECT_EQ(dev_set_security(link, 0, '0', nullptr), ST_OK);
    EXPECT_TRUE(sent(take_requests(), "?SZS00000"));

    // The modem now reports what was written.
    std::int32_t v = 0;
    EXPECT_EQ(dev_get_panid(link, 0, &v), ST_OK);
    EXPECT_EQ(v, 0xAB);
    EXPECT_EQ(dev_get_nodeid(link, 0, 1, &v), ST_OK);
    EXPECT_EQ(v, 42);
    std::uint8_t start = 0;
    EXPECT_EQ(dev_get_startbyte(link, 0, &start), ST_OK);
    EXPECT_EQ(start, 0xAB);
    char name[PAYLOAD_BUF_SIZE];
    EXPECT_EQ(dev_get_devname(link, 0, name, sizeof name), ST_OK);
    EXPECT_STREQ(name, "ABCDEFGHIJKLMNOPQRST");
}

struct RangeCase {
    const char* name;
    std::function<std::int32_t(ComHandle)> call;
};

void PrintTo(const RangeCase& c, std::ostream* os) {
    *os << c.name;
}

class RangeChecks : public zbtest::SimFixture, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeChecks, AreRefusedBeforeAnythingIsSent) {
    take_requests();
    EXPECT_EQ(GetParam().call(link), ST_BAD_ARG);
    EXPECT_TRUE(take_requests().empty());
}

const std::string key31(31, 'A');
INSTANTIATE_TEST_SUITE_P(
    Ranges, RangeChecks,
    ::testing::Values(
        RangeCase{"channel10", [](ComHandle l) { return dev_set_channel(l, 0, 10); }},
        RangeCase{"channel27", [](ComHandle l) { return dev_set_channel(l, 0, 27); }},
        RangeCase{"databit7", [](ComHandle l) { return dev_set_databit(l, 0, 7); }},
        RangeCase{"baud18", [](ComHandle l) { return dev_set_baud(l, 0, 18); }},
        RangeCase{"stopbit2", [](ComHandle l) { return dev_set_stopbit(l, 0, 2); }},
        RangeCase{"parity3", [](ComHandle l) { return dev_set_parity(l, 0, 3); }},
        RangeCase{"iface4", [](ComHandle l) { return dev_set_interface(l, 0, 4); }},
        RangeCase{"outpower8", [](ComHandle l) { return dev_set_outpower(l, 0, 8); }},
        RangeCase{"topology3", [](ComHandle l) { return dev_set_topology(l, 0, 3); }},
        RangeCase{"txmode2", [](ComHandle l) { return dev_set_txmode(l, 0, 2); }},
        RangeCase{"devtype3", [](ComHandle l) { return dev_set_devtype(l, 0, 3); }},
        RangeCase{"panidNeg", [](ComHandle l) { return dev_set_panid(l, 0, -1); }},
        RangeCase{"panid10000", [](ComHandle l) { return dev_set_panid(l, 0, 0x10000); }},
        RangeCase{"nodeid100", [](ComHandle l) { return dev_set_nodeid(l, 0, 0, 100); }},
        RangeCase{"name21",
                  [](ComHandle l) { return dev_set_devname(l, 0, "ABCDEFGHIJKLMNOPQRSTU"); }},
        RangeCase{"nameNull", [](ComHandle l) { return dev_set_devname(l, 0, nullptr); }},
        RangeCase{"key31", [](ComHandle l) { return dev_set_security(l, 0, '1', key31.c_str()); }},
        RangeCase{"keyNull", [](ComHandle l) { return dev_set_security(l, 0, '1', nullptr); }},
        RangeCase{"reset2", [](ComHandle l) { return dev_system_reset(l, 0, 2); }},
        RangeCase{"address", [](ComHandle l) { return dev_set_baud(l, 0x10000, 1); }},
        RangeCase{"nullOut", [](ComHandle l) { return dev_get_baud(l, 0, nullptr); }},
        RangeCase{"nullLink", [](ComHandle) { return dev_set_baud(ComHandle(), 0, 1); }}),
    [](const ::testing::TestParamInfo<RangeCase>& p) { return std::string(p.param.name); });

TEST_F(ParamTest, RefusedCommandsLeaveOutputsUnchanged) {
    sim->add_fault(1, zbsim::Fault::Refusing("ZP"));
    std::int32_t v = 77;
    EXPECT_EQ(dev_get_panid(link, 0, &v), ST_BAD_REPLY);
    EXPECT_EQ(v, 77);
    EXPECT_EQ(dev_set_panid(link, 0, 5), ST_BAD_REPLY);
    EXPECT_EQ(dev_get_channel(link, 0, &v), ST_OK);
}

TEST_F(ParamTest, ResetAndUpgradeRequestSwitchTheModem) {
    EXPECT_EQ(dev_system_reset(link, 0, 1), ST_OK);
    EXPECT_EQ(sim->snapshot(1).restarts, 1u);
    EXPECT_EQ(sim->snapshot(1).mode, zbsim::ModemMode::Application);

    EXPECT_EQ(dev_request_upgrade(link, 0), ST_OK);
    EXPECT_EQ(dev_system_reset(link, 0, 0), ST_OK);
    EXPECT_EQ(sim->snapshot(1).mode, zbsim::ModemMode::Loader);
    com_purge(link, PURGE_INPUT);
    // From the loader, a command gets 'C' or "DS" back: both mean the loader.
    EXPECT_EQ(dev_check_connection(link, 0, 0), ST_LOADER);
    EXPECT_EQ(dev_request_upgrade(link, 0), ST_LOADER);
}

TEST_F(ParamTest, LoaderAnswersAreRecognised) {
    sim->add_fault(1, zbsim::Fault::Counted(zbsim::FaultKind::LoaderAnswer, 1));  // "DS" replies
    EXPECT_EQ(dev_check_connection(link, 0, 0), ST_LOADER);
    EXPECT_EQ(dev_system_reset(link, 0, 1), ST_LOADER);
    sim->clear_faults(1);
    sim->add_fault(1, zbsim::Fault::Counted(zbsim::FaultKind::LoaderAnswer, 0));  // 'C'
    std::int32_t v = 5;
    EXPECT_EQ(dev_get_baud(link, 0, &v), ST_LOADER);
    EXPECT_EQ(v, 5);
}

TEST_F(ParamTest, MalformedRepliesFromTheModem) {
    std::int32_t v = 0;
    sim->add_fault(1, zbsim::Fault::Counted(zbsim::FaultKind::Noise, 2));
    EXPECT_EQ(dev_get_baud(link, 0, &v), ST_OK);
    EXPECT_EQ(v, 16);

    sim->clear_faults(1);
    sim->add_fault(1, zbsim::Fault::Of(zbsim::FaultKind::LongLine));
    EXPECT_EQ(dev_get_baud(link, 0, &v), ST_BAD_REPLY);

    sim->clear_faults(1);
    com_purge(link, PURGE_INPUT);
    sim->add_fault(1, zbsim::Fault::Of(zbsim::FaultKind::NoBang));
    EXPECT_EQ(dev_get_baud(link, 0, &v), ST_BAD_REPLY);

    sim->clear_faults(1);
    sim->add_fault(1, zbsim::Fault::Paused(zbsim::FaultKind::Gap, 2400));
    EXPECT_EQ(dev_get_baud(link, 0, &v), ST_NO_REPLY);
}

TEST_F(ParamTest, ASilentModemIsNoReply) {
    sim->add_fault(1, zbsim::Fault::Counted(zbsim::FaultKind::StopAfter, 1));
    std::int32_t v = 0;
    EXPECT_EQ(dev_get_baud(link, 0, &v), ST_OK);
    EXPECT_EQ(dev_get_baud(link, 0, &v), ST_NO_REPLY);
}

// Replies that a well-behaved modem never sends, scripted on a bare terminal.
class ScriptedReplies : public zbtest::PtyLinkTest {
protected:
    ScriptedReplies() : PtyLinkTest(4) {}
};

TEST_F(ScriptedReplies, NumericReadsNeedAReadableValue) {
    std::int32_t v = 99;
    peer.send("!GZC00000\n");
    EXPECT_EQ(dev_get_channel(link, 0, &v), ST_BAD_REPLY);
    peer.send("!GZC00000abc\n");
    EXPECT_EQ(dev_get_channel(link, 0, &v), ST_BAD_REPLY);
    peer.send("!GZC00000-\n");
    EXPECT_EQ(dev_get_channel(link, 0, &v), ST_BAD_REPLY);
    peer.send("!GZC0000099999999999\n");
    EXPECT_EQ(dev_get_channel(link, 0, &v), ST_BAD_REPLY);
    EXPECT_EQ(v, 99);
    peer.send("!GZP000000ab\n");
    EXPECT_EQ(dev_get_panid(link, 0, &v), ST_OK);
    EXPECT_EQ(v, 0xAB);
    peer.send("!GZP000000AB\n");
    EXPECT_EQ(dev_get_panid(link, 0, &v), ST_OK);
    EXPECT_EQ(v, 0xAB);
    std::uint8_t start = 0;
    peer.send("!GZF000007e\n");
    EXPECT_EQ(dev_get_startbyte(link, 0, &start), ST_OK);
    EXPECT_EQ(start, 0x7E);
    peer.send("!VDS00000deadbeef0f0f\n");
    EXPECT_EQ(dev_get_fw_type(link, 0, &v), ST_OK);
    EXPECT_EQ(v, 0x0F0F);
    peer.send("!VDS00000deadbeef\n");
    EXPECT_EQ(dev_get_fw_type(link, 0, &v), ST_BAD_REPLY);
}

TEST_F(ScriptedReplies, TextReadsAreBoundedByTheirBuffer) {
    char name[DEVNAME_MAX + 1];
    std::memset(name, 'x', sizeof name);
    peer.send("!GBN00000\n");
    EXPECT_EQ(dev_get_devname(link, 0, name, sizeof name), ST_OK);
    EXPECT_STREQ(name, "");
    // A reply shorter than its header has no payload at all.
    std::memset(name, 'x', sizeof name);
    peer.send("!GBN0\n");
    EXPECT_EQ(dev_get_devname(link, 0, name, sizeof name), ST_OK);
    EXPECT_STREQ(name, "");

    struct {
        char version[FW_VERSION_MAX + 1];
        char guard[8];
    } out{};
    std::memset(out.guard, 'G', sizeof out.guard);
    peer.send("!R@V00000" + std::string(39, 'v') + "\n");
    EXPECT_EQ(dev_get_fw_version(link, 0, out.version, sizeof out.version), ST_OK);
    EXPECT_EQ(std::string(out.version), std::string(25, 'v'));
    EXPECT_EQ(std::string(out.guard, 8), std::string(8, 'G'));

    peer.send("!GZS100001AB\n");
    char sec[PAYLOAD_BUF_SIZE];
    EXPECT_EQ(dev_get_security(link, 0, sec, sizeof sec), ST_BAD_REPLY);
    peer.send("!GZS000001AB\n");
    EXPECT_EQ(dev_get_security(link, 0, sec, sizeof sec), ST_OK);
    EXPECT_STREQ(sec, "1AB");
}

TEST_F(ScriptedReplies, ConnectionCheckAcceptsOkUnderAnyStatus) {
    peer.send("!VXT10000OK\n");
    EXPECT_EQ(dev_check_connection(link, 0, 0), ST_OK);
    peer.send("!VXT10000xK\n");
    EXPECT_EQ(dev_check_connection(link, 0, 0), ST_OK);
    peer.send("!VXT10000NO\n");
    EXPECT_EQ(dev_check_connection(link, 0, 0), ST_BAD_REPLY);
    peer.send("!VXT10000\n");
    EXPECT_EQ(dev_check_connection(link, 0, 1), ST_BAD_REPLY);
    peer.send("!VDS00000\n");
    EXPECT_EQ(dev_check_connection(link, 0, 0), ST_LOADER);
    // The flag picks the data character.
    const std::string sent = peer.receive(std::size_t{5} * 13);
    EXPECT_NE(sent.find("?VXT00001\n"), std::string::npos);
}

}  // namespace
