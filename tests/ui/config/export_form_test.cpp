// The file chooser in its three roles, with the platform's pickers scripted.
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "scripted_dialogs.h"
#include "ui/common/file_places.h"
#include "ui/config/export_form.h"

namespace {

using zb::ui::Texport_form;

// Remembers what the file picker was asked with.
class PickerLog : public zb::ui::ScriptedDialogService {
public:
    QString OpenFile(QWidget* parent, const QString& caption, const QString& start,
                     const QString& filter) override {
        asked.append(caption + '|' + start + '|' + filter);
        return ScriptedDialogService::OpenFile(parent, caption, start, filter);
    }
    QStringList asked;
};

TEST(ExportFormTest, EachRoleHasItsCaptionsPathAndPicker) {
    struct Role {
        int mode;
        QString title, group, path, picked, asked;
    };
    for (const Role& role :
         {Role{1, "Import File", "Select File", "/in/a.txt", "/in/b.txt",
               "Select File|/in/a.txt|Configuration file (*.txt)"},
          Role{2, "Export File", "Select Export Directory", "/out", "/srv/export", ""},
          Role{3, "Upgrade Firmware", "Select File", "/fw/a.rom", "/fw/b.rom",
               "Select File|/fw/a.rom|Firmware file (*.rom)"}}) {
        PickerLog dialogs;
        Texport_form form(dialogs);
        form.SetMode(role.mode);
        form.SetImportFile("/in/a.txt");
        form.SetExportFolder("/out");
        form.SetFirmwareFile("/fw/a.rom");
        form.show();
        auto* box = form.findChild<QLineEdit*>(QStringLiteral("ec_filepath"));
        const auto path = [&] {
            return role.mode == 1   ? form.ImportFile()
                   : role.mode == 2 ? form.ExportFolder()
                                    : form.FirmwareFile();
        };
        EXPECT_EQ(form.windowTitle(), role.title);
        EXPECT_EQ(form.findChild<QGroupBox*>()->title(), role.group);
        EXPECT_EQ(box->isReadOnly(), role.mode == 2);
        EXPECT_EQ(box->text(), QDir::toNativeSeparators(role.path));

        dialogs.file_answers = {"", role.picked};  // cancelled, then answered
        form.findChild<QPushButton*>(QStringLiteral("bt_browse"))->click();
        EXPECT_EQ(path(), role.path);
        form.findChild<QPushButton*>(QStringLiteral("bt_browse"))->click();
        EXPECT_EQ(path(), role.picked);
        EXPECT_EQ(box->text(), QDir::toNativeSeparators(role.picked));
        EXPECT_EQ(dialogs.asked.value(0), role.asked);
        EXPECT_EQ(form.ImportFile(), role.mode == 1 ? role.picked : "/in/a.txt");
    }
}

// Before a path is remembered: where a file can be made, else in Documents.
TEST(ExportFormTest, ChooserStartsWhereAFileCanBeMade) {
    const QTemporaryDir writable;
    const QString docs = QStringLiteral("/home/user/Documents");
    const QString rows[][2] = {
        {writable.path(), writable.path()},
        {writable.filePath("gone"), docs},
#ifdef Q_OS_LINUX
        {"/proc", docs},  // passes the permission check even for root
#endif
    };
    for (const auto& [current, start] : rows)
        EXPECT_EQ(zb::ui::ChooserStartFolder(current, docs), start) << current.toStdString();
}

TEST(ExportFormTest, TypedPathTakesEffectWhereTheBoxIsEditable) {
    zb::ui::ScriptedDialogService dialogs;
    Texport_form form(dialogs);
    auto* box = form.findChild<QLineEdit*>(QStringLiteral("ec_filepath"));
    form.SetExportFolder("/out");
    form.show();
    form.SetMode(Texport_form::kModeImport);
    QTest::keyClicks(box, "/typed.txt");
    EXPECT_EQ(form.ImportFile(), "/typed.txt");
    form.SetMode(Texport_form::kModeFirmware);
    QTest::keyClicks(box, "/fw.rom");
    EXPECT_EQ(form.FirmwareFile(), "/fw.rom");
    EXPECT_EQ(form.ImportFile(), "/typed.txt");
    form.SetMode(Texport_form::kModeExport);
    QTest::keyClicks(box, "x");
    EXPECT_EQ(form.ExportFolder(), "/out");
}

}  // namespace
