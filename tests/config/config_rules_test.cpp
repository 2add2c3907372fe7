// The configuration dialog's rules without widgets: the checks on OK, the node boxes, the
// key filters and the save into the selected records.
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "config/config_rules.h"

namespace {

constexpr const char* kLocal = "The local node ID is invalid.";
constexpr const char* kLocalZero =
    "The local node ID is invalid.\nOnly coordinator can set it to 0.";
constexpr const char* kDest = "The Dest. node ID is invalid.";
constexpr const char* kSame = "The Local Node ID and Dest. Node ID are the same.";
constexpr const char* kPanid = "The PAN ID is invalid.";
constexpr const char* kStart = "The start byte is invalid.";
constexpr const char* kShortKey = "The AES key is less than 32 bytes.";
constexpr const char* kBadKey = "The AES key is invalid.";

// A router with local node 5 and destination 0, security off.
zb::SettingsBoxes Router() {
    zb::SettingsBoxes b;
    b.devtype = 1;
    b.lnodeid = "5";
    b.rnodeid = "0";
    b.panid = "01A2";
    b.startbyte = "N/A";
    return b;
}

struct CheckCase {
    int devtype, txmode;
    std::string lnodeid, rnodeid, panid, startbyte;
    bool security;
    std::string aeskey;
    int step;  // 0: passes
    const char* message;
};

TEST(CheckSettings, RunsTheRulesInOrder) {
    const std::string k31(31, 'A'), z32 = k31 + "Z", low = "0123456789abcdef0123456789abcdef";
    const CheckCase cases[] = {
        {1, 0, "5", "0", "01A2", "N/A", false, "", 0, ""},
        {1, 0, "", "0", "01A2", "N/A", false, "", 1, kLocal},
        {1, 0, "0", "3", "01A2", "N/A", false, "", 2, kLocalZero},
        {1, 0, "00", "3", "01A2", "N/A", false, "", 2, kLocalZero},
        {2, 0, "100", "0", "01A2", "N/A", false, "", 3, kLocal},
        {1, 0, "5", "", "01A2", "N/A", false, "", 4, kDest},
        {1, 0, "5", "100", "01A2", "N/A", false, "", 5, kDest},
        {1, 0, "5", "5", "01A2", "N/A", false, "", 6, kSame},
        {0, 0, "", "", "01A2", "N/A", false, "", 0, ""},
        {1, 0, "5", "0", "", "N/A", false, "", 7, kPanid},
        {1, 0, "5", "0", "12G", "N/A", false, "", 8, kPanid},
        {1, 0, "5", "0", "FFFE", "N/A", false, "", 9, kPanid},
        {1, 0, "5", "0", "FFFD", "N/A", false, "", 0, ""},
        {1, 0, "5", "0", "fffd", "N/A", false, "", 0, ""},
        {0, 1, "0", "-", "01A2", "", false, "", 10, kStart},
        {0, 1, "0", "-", "01A2", "G1", false, "", 11, kStart},
        {0, 0, "N/A", "N/A", "01A2", "", false, "", 0, ""},
        {1, 0, "5", "0", "01A2", "N/A", true, k31, 12, kShortKey},
        {1, 0, "5", "0", "01A2", "N/A", true, z32, 13, kBadKey},
        {1, 0, "5", "0", "01A2", "N/A", true, low, 0, ""},
        {1, 0, "5", "0", "01A2", "N/A", false, "Z", 0, ""},
    };
    for (const CheckCase& c : cases) {
        const zb::SettingsBoxes boxes{c.devtype,   c.txmode,   c.lnodeid, c.rnodeid, c.panid,
                                      c.startbyte, c.security, c.aeskey,  ""};
        const auto failure = zb::CheckSettings(boxes);
        const std::string what = c.lnodeid + "/" + c.rnodeid + "/" + c.panid + "/" + c.startbyte;
        EXPECT_EQ(failure ? failure->step : 0, c.step) << what;
        EXPECT_EQ(failure ? failure->message : "", c.message) << what;
    }
}

// The name goes into the request frame as ASCII text: a character outside 0x20..0x7E is
// refused rather than saved changed ("A?B") or left to fail the apply.
TEST(CheckSettings, RefusesANameOutsidePrintableAscii) {
    const std::pair<const char*, int> cases[] = {{" Az~", 0},       {"", 0},      {"A\u20acB", 14},
                                                 {"Caf\u00e9", 14}, {"A\tB", 14}, {"A\x7f", 14}};
    for (const auto& [name, step] : cases) {
        const zb::SettingsBoxes boxes{1, 0, "5", "0", "01A2", "N/A", false, "", name};
        const auto failure = zb::CheckSettings(boxes);
        EXPECT_EQ(failure ? failure->step : 0, step) << name;
    }
}

TEST(NodeBoxes, FollowDeviceTypeAndMode) {
    zb::DeviceRecord r;
    r.lnodeid = 5;
    r.rnodeid = 7;
    r.startbyte = 0x7E;
    r.txmode = 1;

    const zb::NodeBoxes addressable = zb::DevtypeBoxes(r, 0);
    EXPECT_TRUE(addressable.mode_list_full);
    EXPECT_EQ(addressable.mode_choice, 1);
    EXPECT_EQ(std::tie(addressable.lnodeid, addressable.rnodeid, addressable.startbyte),
              std::make_tuple("0", "-", "7E"));
    EXPECT_TRUE(addressable.startbyte_enabled);
    EXPECT_FALSE(addressable.lnodeid_enabled || addressable.rnodeid_enabled);

    const zb::NodeBoxes transparent = zb::ModeBoxes(r, 0);
    EXPECT_EQ(std::tie(transparent.lnodeid, transparent.rnodeid, transparent.startbyte),
              std::make_tuple("N/A", "N/A", "N/A"));
    EXPECT_FALSE(transparent.startbyte_enabled);

    const zb::NodeBoxes router = zb::DevtypeBoxes(r, 1);
    EXPECT_FALSE(router.mode_list_full);
    EXPECT_EQ(std::tie(router.lnodeid, router.rnodeid, router.startbyte),
              std::make_tuple("5", "7", "N/A"));
    EXPECT_TRUE(router.lnodeid_enabled && router.rnodeid_enabled);
    EXPECT_FALSE(router.startbyte_enabled);
}

TEST(KeyFilters, LetThroughDigitsAndBackspaceOnly) {
    for (char32_t c : {U'0', U'9', U'a', U'F', zb::kBackspace}) EXPECT_TRUE(zb::HexKeyAllowed(c));
    for (char32_t c : {U'g', U'x', U' ', U'\x0660', U'\x10030'}) EXPECT_FALSE(zb::HexKeyAllowed(c));
    for (char32_t c : {U'0', U'9', zb::kBackspace}) EXPECT_TRUE(zb::DecimalKeyAllowed(c));
    for (char32_t c : {U'a', U'-', U'\x0661'}) EXPECT_FALSE(zb::DecimalKeyAllowed(c));
}

TEST(SaveSettings, GivesSelectedRecordsTheValuesAndKeepsWhatTheBoxesDoNotShow) {
    zb::PortTable rows;
    for (std::uint32_t i = 0; i < 4; ++i) {
        auto r = zb::AddPort(rows[i], i + 1);
        r->baud = i;
        r->lnodeid = 10 + i;
        r->rnodeid = 20 + i;
        r->startbyte = static_cast<std::uint8_t>(0x70 + i);
        zb::SetText(r->aeskey, std::string(32, static_cast<char>('A' + i)));
    }
    rows[3].device->selected = false;
    zb::ListPositions lists;                           // baud: no choice, each record keeps its own
    lists.devtype = lists.txmode = lists.databit = 0;  // coordinator, Transparent
    lists.parity = lists.topology = 2;
    lists.channel = 15;
    zb::SettingsBoxes boxes = Router();
    boxes.devtype = 0;
    boxes.lnodeid = boxes.rnodeid = boxes.startbyte = "N/A";
    boxes.panid = "BEEF";
    boxes.aeskey = "junk while security is off";
    ASSERT_FALSE(zb::CheckSettings(boxes));
    EXPECT_EQ(zb::SaveSettings(rows, zb::ValuesOf("tank", lists, boxes)), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        const zb::DeviceRecord& r = *rows[i].device;
        EXPECT_TRUE(r.apply_pending);
        EXPECT_EQ(zb::TextOf(r.devname), "tank");
        EXPECT_EQ(std::tie(r.panid, r.parity, r.topology, r.devtype, r.baud),
                  std::make_tuple(0xBEEFu, 2u, 2u, 0u, i));
        EXPECT_EQ(r.channel, 15);
        EXPECT_EQ(std::tie(r.lnodeid, r.rnodeid), std::make_tuple(10 + i, 20 + i));
        EXPECT_EQ(r.startbyte, 0x70 + i);
        EXPECT_EQ(zb::TextOf(r.aeskey), std::string(32, static_cast<char>('A' + i)));
    }
    EXPECT_FALSE(rows[3].device->apply_pending);
    EXPECT_EQ(rows[3].device->panid, 0u);

    lists.devtype = 1;  // a router: its mode list holds only N/A at position 0
    boxes = Router();
    boxes.lnodeid = "9";
    boxes.rnodeid = "4";
    boxes.security = true;
    boxes.aeskey = "0123456789abcdef0123456789ABCDEF";
    ASSERT_FALSE(zb::CheckSettings(boxes));
    zb::SaveSettings(rows, zb::ValuesOf("a name longer than twenty", lists, boxes));
    for (std::uint32_t i = 0; i < 3; ++i) {
        const zb::DeviceRecord& r = *rows[i].device;
        EXPECT_EQ(zb::TextOf(r.devname), "a name longer than t");
        EXPECT_EQ(std::tie(r.devtype, r.lnodeid, r.rnodeid), std::make_tuple(1u, 9u, 4u));
        EXPECT_EQ(r.startbyte, 0x70 + i);
        EXPECT_TRUE(r.security);
        EXPECT_EQ(zb::TextOf(r.aeskey), boxes.aeskey);
    }
    EXPECT_EQ(rows[3].device->lnodeid, 13u);
}

}  // namespace
