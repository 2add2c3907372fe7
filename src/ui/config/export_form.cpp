#include "ui/config/export_form.h"

#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ui/common/dialog_service.h"
#include "ui/common/file_places.h"

namespace zb::ui {
namespace {

// Long paths stay readable without scrolling the box.
constexpr int kPathWidth = 420;

// A chooser starts at the role's path, or where the user can save before one is chosen.
QString StartAt(const QString& remembered) {
    return remembered.isEmpty() ? ChooserStartFolder() : remembered;
}

}  // namespace

Texport_form::Texport_form(DialogService& dialogs, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      dialogs_(dialogs) {
    setObjectName(QStringLiteral("Texport_form"));

    gbox_file = new QGroupBox(this);
    gbox_file->setObjectName(QStringLiteral("gbox_file"));
    ec_filepath = new QLineEdit(gbox_file);
    ec_filepath->setObjectName(QStringLiteral("ec_filepath"));
    ec_filepath->setMinimumWidth(kPathWidth);
    bt_browse = new QPushButton(QStringLiteral("Browse"), gbox_file);
    bt_browse->setObjectName(QStringLiteral("bt_browse"));
    bt_browse->setAutoDefault(false);
    auto* group_layout = new QHBoxLayout(gbox_file);
    group_layout->addWidget(ec_filepath, 1);
    group_layout->addWidget(bt_browse);

    bt_ok = new QPushButton(QStringLiteral("OK"), this);
    bt_ok->setObjectName(QStringLiteral("bt_ok"));
    bt_ok->setDefault(true);
    bt_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    bt_cancel->setObjectName(QStringLiteral("bt_cancel"));
    bt_cancel->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bt_ok);
    buttons->addWidget(bt_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(gbox_file);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(bt_browse, &QPushButton::clicked, this, &Texport_form::bt_browseClick);
    connect(bt_ok, &QPushButton::clicked, this, &Texport_form::accept);
    connect(bt_cancel, &QPushButton::clicked, this, &Texport_form::reject);
    connect(ec_filepath, &QLineEdit::textEdited, this, &Texport_form::ec_filepathEdited);

    FormShow();
}

void Texport_form::SetMode(int mode) {
    mode_ = mode;
    FormShow();
}

void Texport_form::SetImportFile(const QString& path) {
    import_file_ = QDir::fromNativeSeparators(path);
    ShowPath(import_file_);
}

void Texport_form::SetExportFolder(const QString& path) {
    export_folder_ = QDir::fromNativeSeparators(path);
    ShowPath(export_folder_);
}

void Texport_form::SetFirmwareFile(const QString& path) {
    firmware_file_ = QDir::fromNativeSeparators(path);
    ShowPath(firmware_file_);
}

void Texport_form::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    FormShow();
}

void Texport_form::FormShow() {
    switch (mode_) {
        case kModeExport:
            setWindowTitle(QStringLiteral("Export File"));
            gbox_file->setTitle(QStringLiteral("Select Export Directory"));
            ec_filepath->setReadOnly(true);
            ShowPath(export_folder_);
            break;
        case kModeFirmware:
            setWindowTitle(QStringLiteral("Upgrade Firmware"));
            gbox_file->setTitle(QStringLiteral("Select File"));
            ec_filepath->setReadOnly(false);
            ShowPath(firmware_file_);
            break;
        default:
            setWindowTitle(QStringLiteral("Import File"));
            gbox_file->setTitle(QStringLiteral("Select File"));
            ec_filepath->setReadOnly(false);
            ShowPath(import_file_);
            break;
    }
}

void Texport_form::bt_browseClick() {
    switch (mode_) {
        case kModeExport: {
            const QString folder = dialogs_.ChooseFolder(this, QStringLiteral("Export file to:"),
                                                         StartAt(export_folder_));
            if (!folder.isEmpty()) SetExportFolder(folder);
            break;
        }
        case kModeFirmware: {
            const QString file =
                dialogs_.OpenFile(this, QStringLiteral("Select File"), StartAt(firmware_file_),
                                  QStringLiteral("Firmware file (*.rom)"));
            if (!file.isEmpty()) SetFirmwareFile(file);
            break;
        }
        default: {
            const QString file =
                dialogs_.OpenFile(this, QStringLiteral("Select File"), StartAt(import_file_),
                                  QStringLiteral("Configuration file (*.txt)"));
            if (!file.isEmpty()) SetImportFile(file);
            break;
        }
    }
}

void Texport_form::ec_filepathEdited(const QString& text) {
    // A path typed by hand counts like a browsed one; the export folder's box is read-only.
    if (mode_ == kModeFirmware)
        firmware_file_ = QDir::fromNativeSeparators(text);
    else if (mode_ != kModeExport)
        import_file_ = QDir::fromNativeSeparators(text);
}

void Texport_form::ShowPath(const QString& path) {
    ec_filepath->setText(QDir::toNativeSeparators(path));
}

}  // namespace zb::ui
