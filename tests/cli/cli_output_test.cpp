// zbctl's output: table rows stay one line of plain text.
#include <gtest/gtest.h>

#include "cli/cli_output.h"

namespace {

TEST(ZbctlTable, RowsStayOneLineOfPlainText) {
    // A table row stays one line of plain text whatever a device or a rule put into a text.
    zbctl::PortResult p;
    p.com = 3;
    p.message = "two\nlines";
    p.settings = true;
    zb::SetText(p.record.devname, "A\x1b[2J\x7f");
    zb::SetText(p.record.fw_version, "1.0\r\xc3\xa9");
    zbctl::PortResult held;
    held.com = 4;
    held.message = "Open port fail";
    held.error = "/dev/ttyUSB0 is in use by another program";
    const std::string table = zbctl::RenderTable({p, held});
    EXPECT_NE(table.find("COM3  FAILED  two\\x0alines "), std::string::npos) << table;
    EXPECT_NE(table.find(" A\\x1b[2J\\x7f  Coordinator "), std::string::npos) << table;
    EXPECT_NE(table.find("1.0\\x0d\\xc3\\xa9\n"), std::string::npos) << table;
    EXPECT_NE(table.find("COM4  FAILED  Open port fail: /dev/ttyUSB0 is in use by another program"),
              std::string::npos)
        << table;
    EXPECT_NE(zbctl::RenderJson({held}).find("\"settings\": null, \"holder\": null, \"error\": "
                                             "\"/dev/ttyUSB0 is "
                                             "in use by another program\"}"),
              std::string::npos);
}

TEST(ZbctlTable, AllShowsEverySettingInColumnsAsWideAsTheirCells) {
    zbctl::PortResult p;
    p.com = 3;
    p.ok = true;
    p.message = "Get device's settings";
    p.settings = true;
    p.record.fw_type = 0x0101;
    zb::SetText(p.record.devname, "SIM-3");
    zbctl::PortResult failed;
    failed.com = 12;
    const std::string table = zbctl::RenderTable({p, failed}, false, true);
    EXPECT_EQ(table.rfind("PORT   RESULT  MESSAGE                FW_TYPE  BAUD", 0), 0u) << table;
    EXPECT_NE(table.find("COM3   ok      Get device's settings  0x0101   "), std::string::npos);
    EXPECT_NE(table.find("  RNODEID  SECURITY  STARTBYTE  AESKEY  FW_VERSION  DEVNAME\n"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("  0        Disable   0          -       -           SIM-3\n"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("COM12  FAILED  " + std::string(23, ' ') + "-        -"),
              std::string::npos);
}

}  // namespace
