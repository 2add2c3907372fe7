// The device list's texts and marks, without widgets.
#include <gtest/gtest.h>

#include "ui/main/device_list.h"

namespace {

using zb::ui::CellText;

zb::DeviceRecord Connected() {
    zb::DeviceRecord d;
    d.connected = true;
    d.baud = 16;
    d.outpower = 6;
    d.panid = 0x1A2B;
    zb::SetText(d.devname, "Pump house");
    zb::SetText(d.fw_version, "SIM 1.0.0");
    return d;
}

TEST(ColumnsTest, CatalogueAndDefaultLists) {
    const auto catalogue = zb::ui::ColumnCatalogue();
    ASSERT_EQ(catalogue.size(), 18u);
    EXPECT_EQ(catalogue[0].id, 614);
    EXPECT_EQ(catalogue[0].width, 70);
    // 619 (flow control) never shows.
    for (const auto& c : catalogue) EXPECT_NE(c.id, 619);
    EXPECT_EQ(zb::ui::CatalogueWidth(632), 110);
    EXPECT_EQ(zb::ui::CatalogueWidth(628), 85);
    EXPECT_FALSE(zb::ui::CatalogueWidth(619).has_value());

    const zb::ui::ColumnLists lists = zb::ui::DefaultColumnLists();
    EXPECT_EQ(lists.visible, (std::vector<int>{621, 622, 623, 624, 625, 628, 629, 632}));
    EXPECT_EQ(lists.hidden, (std::vector<int>{615, 616, 617, 618, 620, 626, 627, 630, 631}));
}

// Every settings cell shows "-" unless the device answered its last job normally.
TEST(CellTextTest, DashWhenNotShowable) {
    const std::vector<int> ids{615, 616, 617, 618, 620, 621, 622, 623, 624,
                               625, 626, 627, 628, 629, 630, 631, 632};
    zb::DeviceRecord never = Connected();
    never.connected = false;
    zb::DeviceRecord waiting = Connected();
    waiting.upgrade_wait = true;
    zb::DeviceRecord failed = Connected();
    failed.job_failed = true;
    for (int id : ids) {
        EXPECT_EQ(CellText(&never, id), "-") << id;
        EXPECT_EQ(CellText(&waiting, id), "-") << id;
        EXPECT_EQ(CellText(&failed, id), "-") << id;
        EXPECT_EQ(CellText(nullptr, id), "-") << id;
    }
    const zb::DeviceRecord good = Connected();
    EXPECT_EQ(CellText(&good, 619), "-");
    EXPECT_EQ(CellText(&good, 999), "-");
}

struct ModeCase {
    std::uint32_t devtype;
    std::uint32_t txmode;
    const char* type;
    const char* mode;
    const char* node;
};

class ModeCellTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ModeCellTest, ModeAndLocalNode) {
    zb::DeviceRecord d = Connected();
    d.devtype = GetParam().devtype;
    d.txmode = GetParam().txmode;
    d.lnodeid = 42;
    EXPECT_EQ(CellText(&d, 622), GetParam().type);
    EXPECT_EQ(CellText(&d, 624), GetParam().mode);
    EXPECT_EQ(CellText(&d, 628), GetParam().node);
}

INSTANTIATE_TEST_SUITE_P(DeviceTypes, ModeCellTest,
                         ::testing::Values(ModeCase{0, 0, "Coordinator", "Transparent", "N/A"},
                                           ModeCase{0, 1, "Coordinator", "Addressable", "42"},
                                           ModeCase{1, 0, "Router", "N/A", "42"},
                                           ModeCase{1, 1, "Router", "N/A", "42"},
                                           ModeCase{2, 0, "End Device", "N/A", "42"},
                                           ModeCase{2, 1, "End Device", "N/A", "42"},
                                           ModeCase{7, 0, "?", "N/A", "42"}));

TEST(CellTextTest, NumbersAndTexts) {
    zb::DeviceRecord d = Connected();
    EXPECT_EQ(CellText(&d, 615), "115200");
    EXPECT_EQ(CellText(&d, 616), "None");
    EXPECT_EQ(CellText(&d, 617), "8");
    EXPECT_EQ(CellText(&d, 618), "1");
    EXPECT_EQ(CellText(&d, 620), "RS-232");
    EXPECT_EQ(CellText(&d, 621), "Pump house");
    EXPECT_EQ(CellText(&d, 623), "Star");
    EXPECT_EQ(CellText(&d, 625), "0x1A2B");
    EXPECT_EQ(CellText(&d, 626), "0x0000");
    EXPECT_EQ(CellText(&d, 629), "11");
    EXPECT_EQ(CellText(&d, 630), "1");
    EXPECT_EQ(CellText(&d, 631), "Disable");
    EXPECT_EQ(CellText(&d, 632), "SIM 1.0.0");

    d.stopbit = 1;
    d.channel = 15;
    d.parity = 2;
    d.interface = 3;
    d.topology = 2;
    d.outpower = 5;
    d.security = true;
    d.parent_addr = 5;
    d.short_addr = 0xBEEF;
    d.panid = 0xab;
    EXPECT_EQ(CellText(&d, 618), "2");
    EXPECT_EQ(CellText(&d, 629), "26");
    EXPECT_EQ(CellText(&d, 616), "Even");
    EXPECT_EQ(CellText(&d, 620), "RS-485 4W");
    EXPECT_EQ(CellText(&d, 623), "Mesh");
    EXPECT_EQ(CellText(&d, 630), "-1.5");
    EXPECT_EQ(CellText(&d, 631), "Enable");
    EXPECT_EQ(CellText(&d, 626), "0x0005");
    EXPECT_EQ(CellText(&d, 627), "0xBEEF");
    EXPECT_EQ(CellText(&d, 625), "0x00AB");
}

// A device may report an index its table lacks; the record keeps it as it came.
TEST(CellTextTest, IndexOutsideItsTable) {
    zb::DeviceRecord d = Connected();
    d.baud = 18;
    d.parity = 3;
    d.databit = 1;
    d.interface = 4;
    d.topology = 3;
    d.outpower = 8;
    d.devtype = 0;
    d.txmode = 2;
    for (int id : {615, 616, 617, 620, 623, 630, 624}) EXPECT_EQ(CellText(&d, id), "?") << id;
    d.databit = -1;
    EXPECT_EQ(CellText(&d, 617), "?");
}

TEST(StatusTextTest, BlankCountAndWords) {
    EXPECT_EQ(zb::ui::StatusText(0), " 0 device(s) selected");
    EXPECT_EQ(zb::ui::StatusText(2), " 2 device(s) selected");
    EXPECT_EQ(zb::ui::StatusText(1024), " 1024 device(s) selected");
}

TEST(CaptionTest, ReadsLikeComPercentD) {
    EXPECT_EQ(zb::ui::ComCaption(7), "COM7");
    EXPECT_EQ(zb::ui::ComOfCaption("COM7"), 7);
    EXPECT_EQ(zb::ui::ComOfCaption("COM1024"), 1024);
    EXPECT_EQ(zb::ui::ComOfCaption("COM5   USB serial, FT232R"), 5);
    EXPECT_EQ(zb::ui::ComOfCaption("COM 12"), 12);
    EXPECT_EQ(zb::ui::ComOfCaption("COM-3"), -3);
    EXPECT_FALSE(zb::ui::ComOfCaption("COM").has_value());
    EXPECT_FALSE(zb::ui::ComOfCaption("COMx1").has_value());
    EXPECT_FALSE(zb::ui::ComOfCaption("LPT1").has_value());
    EXPECT_FALSE(zb::ui::ComOfCaption("COM99999999999").has_value());
}

}  // namespace
