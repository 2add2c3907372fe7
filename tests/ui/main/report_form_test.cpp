// The job report window on its own, with scripted choosers and message boxes.
#include <QDir>

#include <gtest/gtest.h>

#include "jobs/report/report_open.h"
#include "scripted_dialogs.h"
#include "ui/main/report_form.h"
#include "ui_test_support.h"

namespace {

// A database in a folder that does not exist cannot be opened: the warning gives the
// reason the sink gave, and the rows count as saved nowhere.
TEST(ReportFormTest, SaveWarnsOfADatabaseItCannotOpen) {
    const zbtest::TempDir dir;
    const std::string target = dir.path() + "/missing/shift.db";
    zb::ui::ScriptedDialogService dialogs;
    dialogs.file_answers = {QString::fromStdString(target)};
    zb::ui::Treport_form form(dialogs, {zb::ReportRow{}}, QString());
    zbtest::Click(&form, "bt_save");
    // The reason names the file as the system writes paths.
    const auto opened =
        zb::OpenReportSink(QDir::toNativeSeparators(QString::fromStdString(target)).toStdString());
    ASSERT_FALSE(opened.ok());
    const std::string error = opened.error().reason;
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].kind, zb::ui::MessageKind::Warning);
    EXPECT_EQ(
        dialogs.shown[0].text,
        QStringLiteral("The report could not be saved:\n%1").arg(QString::fromStdString(error)));
    EXPECT_EQ(form.File(), QString());
}

}  // namespace
