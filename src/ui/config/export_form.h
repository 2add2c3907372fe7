// The file chooser (Texport_form): one path in a box with a Browse button, in one of three
// roles: the configuration file to import, the folder to export into, or the firmware image
// to upgrade with. The caller sets the role and the path before showing it and reads the
// path of its role back afterwards; the dialog opens and writes nothing itself.
//
// GUI thread only. Browse asks the DialogService, so tests script the platform's pickers.
#pragma once

#include <QDialog>
#include <QString>

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace zb::ui {

class DialogService;

class Texport_form final : public QDialog {
    Q_OBJECT
public:
    enum Mode : int { kModeImport = 1, kModeExport = 2, kModeFirmware = 3 };

    explicit Texport_form(DialogService& dialogs, QWidget* parent = nullptr);

    void SetMode(int mode);
    // Each setter stores the role's path and shows it in the box with the system's
    // separators; the getters give it back with '/', as typed paths are too.
    void SetImportFile(const QString& path);
    void SetExportFolder(const QString& path);
    void SetFirmwareFile(const QString& path);
    QString ImportFile() const { return import_file_; }
    QString ExportFolder() const { return export_folder_; }
    QString FirmwareFile() const { return firmware_file_; }

protected:
    void showEvent(QShowEvent* event) override;  // FormShow

private:
    void FormShow();
    void bt_browseClick();
    void ec_filepathEdited(const QString& text);
    void ShowPath(const QString& path);

    DialogService& dialogs_;
    int mode_ = kModeImport;
    QString import_file_;
    QString export_folder_;
    QString firmware_file_;

    QGroupBox* gbox_file = nullptr;
    QLineEdit* ec_filepath = nullptr;
    QPushButton* bt_browse = nullptr;
    QPushButton* bt_ok = nullptr;
    QPushButton* bt_cancel = nullptr;
};

}  // namespace zb::ui
