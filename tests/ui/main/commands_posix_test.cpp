// The commands that need Linux: a port that another process holds (its holder is looked up
// there; Wine lets a second program open a port anyway).
#include <QTableWidget>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "holding_process.h"
#include "main_form_fixture.h"
#include "ui/main/report_form.h"

namespace {

using zbtest::MainFormTest;
using zbtest::ModalDriver;

using zbtest::Child;
using zbtest::Click;
using zbtest::ReadText;

using CommandsTest = MainFormTest;

TEST_F(CommandsTest, LastJobReportShowsEveryPortAndAddsItsRowsToAFile) {
    zbsim::Simulator& sim = Modems(2, 11);  // COM11, COM12
    zbsim::ModemSettings secure = sim.snapshot(11).settings;
    secure.security = true;
    secure.aeskey = "00112233445566778899AABBCCDDEEFF";
    sim.set_settings(11, secure);
    auto* report = form_->findChild<QAction*>(QStringLiteral("mu_report"));
    ASSERT_NE(report, nullptr);
    EXPECT_FALSE(report->isEnabled());
    AddPorts({});
    EXPECT_TRUE(report->isEnabled());

    zbtest::HoldingProcess holder(sim.device_path(12), "zbholder");
    ASSERT_GT(holder.pid(), 0);
    const QString held =
        QStringLiteral("Open port fail (held by zbholder, pid %1)").arg(holder.pid());
    form_->act_refresh();
    holder.Stop();

    zbtest::TempDir folder;
    const std::string csv = folder.path() + "/shift.csv";
    for (int run = 0; run < 2; ++run) {
        dialogs_.file_answers = {QString::fromStdString(csv)};
        ModalDriver<zb::ui::Treport_form> driver([&](zb::ui::Treport_form* dialog) {
            auto* rows = Child<QTableWidget>(dialog, "m_rows");
            ASSERT_EQ(rows->rowCount(), 2);
            EXPECT_EQ(rows->item(0, 0)->text(), "COM11");
            EXPECT_EQ(rows->item(0, 1)->text(), "ok");
            EXPECT_EQ(rows->item(1, 1)->text(), "failed");
            EXPECT_EQ(rows->item(1, 2)->text(), held);
            Click(dialog, "bt_save");
            Click(dialog, "bt_close");
        });
        report->trigger();
        EXPECT_TRUE(driver.ran());
    }
    // One header, then both saves' rows; the settings of the port that was read, its key as
    // the fingerprint.
    std::istringstream lines(ReadText(csv));
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 5u) << ReadText(csv);
    EXPECT_EQ(rows[0].rfind("time,com,device,command,", 0), 0u) << rows[0];
    EXPECT_NE(rows[1].find(",COM11,"), std::string::npos);
    EXPECT_NE(rows[1].find(",read,1,ok,Get device's settings,"), std::string::npos) << rows[1];
    EXPECT_NE(rows[1].find(",SIM-11,"), std::string::npos) << rows[1];
    EXPECT_NE(rows[1].find(",Enable,7E,sha256:20aff5a3,"), std::string::npos) << rows[1];
    // The message holds a comma, so it is quoted.
    EXPECT_NE(rows[2].find(",failed,\"" + held.toStdString() + "\","), std::string::npos)
        << rows[2];
    EXPECT_EQ(rows[3], rows[1]);
    EXPECT_EQ(rows[4], rows[2]);
    EXPECT_TRUE(Messages().isEmpty());
}

}  // namespace
