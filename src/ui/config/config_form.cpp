#include "ui/config/config_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <string>
#include <utility>

#include "config/config_rules.h"
#include "jobs/model/record_fields.h"
#include "ui/common/dialog_service.h"
#include "ui/common/string_table.h"

namespace zb::ui {
namespace {

// Wide enough for the longest list text ("Transparent", "RS-485 4W") with the arrow.
constexpr int kControlWidth = 130;
constexpr int kNodeIdLength = 2;
constexpr int kStartbyteLength = 2;

QString Latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// A list holds the display text of every value the field offers, the lowest first, so that
// a position is the record's value.
void Fill(QComboBox* box, zb::FieldId id) {
    const zb::RecordField& field = zb::FieldOf(id);
    for (std::int64_t value = field.min; value <= field.max; ++value)
        box->addItem(Latin1(zb::DisplayTextOf(field, value).value_or("")));
}

// A record value outside the list leaves the list without a choice.
void ChooseIndex(QComboBox* box, std::int64_t index) {
    box->setCurrentIndex(index >= 0 && index < box->count() ? static_cast<int>(index) : -1);
}

// Enabled boxes get the window colour, disabled ones the button face; set in every colour
// group so the background follows the rule rather than the style's own disabled look.
void ApplyColour(QWidget* box) {
    const QPalette system = QApplication::palette();
    const QColor colour = box->isEnabled() ? system.color(QPalette::Active, QPalette::Base)
                                           : system.color(QPalette::Active, QPalette::Button);
    QPalette palette = box->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, colour);
        // A drop-down list that cannot be typed into paints its face with the button role.
        if (qobject_cast<QComboBox*>(box) != nullptr)
            palette.setColor(group, QPalette::Button, colour);
    }
    box->setPalette(palette);
}

void SetEnabledColoured(QWidget* box, bool enabled) {
    box->setEnabled(enabled);
    ApplyColour(box);
}

// QLineEdit cuts a text set from code to its maximum length, so a disabled node box would
// show "N/", and an out-of-range record value (lnodeid 255) would silently become "25" and
// be saved so. The limit grows to the text shown; it only restrains typing.
void ShowText(QLineEdit* box, std::string_view text, int limit) {
    const QString shown = Latin1(text);
    box->setMaxLength(std::max(limit, static_cast<int>(shown.size())));
    box->setText(shown);
}

// Printable characters that the filter rejects are dropped; keys without a printable
// character (Backspace, Delete, arrows, Tab, Enter, Esc, shortcuts) always pass.
bool RejectKey(const QKeyEvent& key, bool (*allowed)(char32_t)) {
    for (const char32_t c : key.text().toUcs4())
        if (QChar::isPrint(c) && !allowed(c)) return true;
    return false;
}

}  // namespace

Tconfig_form::Tconfig_form(DialogService& dialogs, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      dialogs_(dialogs) {
    setObjectName(QStringLiteral("Tconfig_form"));
    setWindowTitle(QStringLiteral("Configurations"));

    const auto combo = [this](const char* name) {
        auto* box = new QComboBox(this);
        box->setObjectName(QLatin1String(name));
        box->setEditable(false);
        box->setMinimumWidth(kControlWidth);
        return box;
    };
    const auto edit = [this](const char* name, int max_length) {
        auto* box = new QLineEdit(this);
        box->setObjectName(QLatin1String(name));
        box->setMaxLength(max_length);
        box->setMinimumWidth(kControlWidth);
        return box;
    };
    // One row of a tab: label, control, optional hint.
    const auto row = [](QGridLayout* grid, const char* label, QWidget* control,
                        const char* hint = nullptr) {
        const int r = grid->rowCount();
        grid->addWidget(new QLabel(QLatin1String(label)), r, 0);
        grid->addWidget(control, r, 1);
        if (hint != nullptr) grid->addWidget(new QLabel(QLatin1String(hint)), r, 2);
    };
    const auto group = [](const char* title) {
        auto* box = new QGroupBox(QLatin1String(title));
        auto* grid = new QGridLayout(box);
        grid->setColumnStretch(2, 1);
        return std::pair{box, grid};
    };

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("m_tabs"));

    // General
    ec_devname = edit("ec_devname", static_cast<int>(zb::kDevnameSize - 1));
    ec_devname->setMinimumWidth(
        ec_devname->fontMetrics().horizontalAdvance(QString(20, QLatin1Char('W'))) + 12);
    {
        auto* page = new QWidget;
        auto* grid = new QGridLayout;
        row(grid, "Device name", ec_devname);
        grid->setColumnStretch(2, 1);
        auto* layout = new QVBoxLayout(page);
        layout->addLayout(grid);
        layout->addStretch();
        m_tabs->addTab(page, QStringLiteral("General"));
    }

    // Serial
    cb_baud = combo("cb_baud");
    cb_parity = combo("cb_parity");
    cb_databit = combo("cb_databit");
    cb_stopbit = combo("cb_stopbit");
    cb_interface = combo("cb_interface");
    {
        auto* page = new QWidget;
        auto [params, grid] = group("Parameters");
        row(grid, "Baud rate", cb_baud);
        row(grid, "Parity", cb_parity);
        row(grid, "Data bit", cb_databit);
        row(grid, "Stop bit", cb_stopbit);
        row(grid, "Interface", cb_interface);
        auto* layout = new QVBoxLayout(page);
        layout->addWidget(params);
        layout->addStretch();
        m_tabs->addTab(page, QStringLiteral("Serial"));
    }

    // ZigBee
    cb_devtype = combo("cb_devtype");
    ec_panid = edit("ec_panid", 4);
    cb_channel = combo("cb_channel");
    cb_topology = combo("cb_topology");
    cb_outpower = combo("cb_outpower");
    cb_txmode = combo("cb_txmode");
    ec_lnodeid = edit("ec_lnodeid", kNodeIdLength);
    ec_rnodeid = edit("ec_rnodeid", kNodeIdLength);
    ec_startbyte = edit("ec_startbyte", kStartbyteLength);
    {
        auto* page = new QWidget;
        auto [pan, pan_grid] = group("PAN Settings");
        row(pan_grid, "Device type", cb_devtype);
        row(pan_grid, "PAN ID", ec_panid, "( 0 - 0xFFFD )");
        row(pan_grid, "Channel", cb_channel);
        row(pan_grid, "Topology", cb_topology);
        row(pan_grid, "Output power", cb_outpower, "( dBm )");
        auto [advance, advance_grid] = group("Advance Settings");
        row(advance_grid, "Mode", cb_txmode);
        row(advance_grid, "Local node ID", ec_lnodeid, "( 0 - 99 )");
        row(advance_grid, "Destination node ID", ec_rnodeid, "( 0 - 99 )");
        row(advance_grid, "Start byte", ec_startbyte, "( 0 - 0xFF )");
        // The controls of both groups line up in one column.
        const int label_width =
            fontMetrics().horizontalAdvance(QStringLiteral("Destination node ID")) + 8;
        pan_grid->setColumnMinimumWidth(0, label_width);
        advance_grid->setColumnMinimumWidth(0, label_width);
        auto* layout = new QVBoxLayout(page);
        layout->addWidget(pan);
        layout->addWidget(advance);
        layout->addStretch();
        m_tabs->addTab(page, QStringLiteral("ZigBee"));
    }

    // Security
    chk_security = new QCheckBox(QStringLiteral("Enable 128-bit AES encryption"), this);
    chk_security->setObjectName(QStringLiteral("chk_security"));
    ec_aeskey = edit("ec_aeskey", static_cast<int>(zb::kAesKeySize - 1));
    ec_aeskey->setEchoMode(QLineEdit::Password);
    // The style's own mask may be a bullet; the key is masked with '*'.
    ec_aeskey->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    ec_aeskey->setMinimumWidth(
        ec_aeskey->fontMetrics().horizontalAdvance(QString(32, QLatin1Char('D'))) + 16);
    {
        auto* page = new QWidget;
        auto [params, grid] = group("Parameters");
        grid->addWidget(chk_security, 0, 0, 1, 3);
        row(grid, "Key (HEX)", ec_aeskey);
        auto* layout = new QVBoxLayout(page);
        layout->addWidget(params);
        layout->addStretch();
        m_tabs->addTab(page, QStringLiteral("Security"));
    }
    m_tabs->setCurrentIndex(0);

    bt_ok = new QPushButton(QStringLiteral("OK"), this);
    bt_ok->setObjectName(QStringLiteral("bt_ok"));
    bt_ok->setDefault(true);
    bt_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    bt_cancel->setObjectName(QStringLiteral("bt_cancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bt_ok);
    buttons->addWidget(bt_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    for (QLineEdit* box : {ec_startbyte, ec_lnodeid, ec_rnodeid}) box->installEventFilter(this);

    connect(bt_ok, &QPushButton::clicked, this, &Tconfig_form::accept);
    connect(bt_cancel, &QPushButton::clicked, this, &Tconfig_form::reject);
    connect(cb_devtype, &QComboBox::currentIndexChanged, this, &Tconfig_form::cb_devtypeChange);
    connect(cb_txmode, &QComboBox::currentIndexChanged, this, &Tconfig_form::cb_txmodeChange);
    connect(chk_security, &QCheckBox::toggled, this, &Tconfig_form::chk_security_Click);

    FormCreate();
}

void Tconfig_form::LoadPorts(const zb::PortTable& rows) {
    rows_ = rows;
    shown_ = nullptr;
}

void Tconfig_form::StorePorts(zb::PortTable& rows) const {
    rows = rows_;
}

void Tconfig_form::SetSelectedCount(int n) {
    selected_count_ = n;
}

void Tconfig_form::FormCreate() {
    // Filled with signals blocked: only the operator's picks run the rules.
    const QSignalBlocker block_devtype(cb_devtype);
    const QSignalBlocker block_txmode(cb_txmode);
    Fill(cb_baud, zb::FieldId::Baud);
    Fill(cb_parity, zb::FieldId::Parity);
    Fill(cb_databit, zb::FieldId::Databit);
    Fill(cb_stopbit, zb::FieldId::Stopbit);
    Fill(cb_interface, zb::FieldId::Interface);
    Fill(cb_devtype, zb::FieldId::Devtype);
    Fill(cb_channel, zb::FieldId::Channel);
    Fill(cb_outpower, zb::FieldId::Outpower);
    Fill(cb_topology, zb::FieldId::Topology);
    Fill(cb_txmode, zb::FieldId::Txmode);
}

void Tconfig_form::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    FormShow();
}

void Tconfig_form::FormShow() {
    shown_ = nullptr;
    for (const zb::PortRow& row : rows_) {
        if (row.device != nullptr && row.device->selected) {
            shown_ = row.device.get();
            break;
        }
    }

    if (shown_ != nullptr) {
        const zb::DeviceRecord& r = *shown_;
        const QSignalBlocker block_devtype(cb_devtype);
        const QSignalBlocker block_security(chk_security);
        ec_devname->setText(Latin1(zb::TextOf(r.devname)));
        ChooseIndex(cb_baud, r.baud);
        ChooseIndex(cb_parity, r.parity);
        ChooseIndex(cb_databit, r.databit);
        ChooseIndex(cb_stopbit, r.stopbit);
        ChooseIndex(cb_interface, r.interface);
        ChooseIndex(cb_devtype, r.devtype);
        ec_panid->setText(Latin1(zb::DisplayText(r, zb::FieldOf(zb::FieldId::Panid)).value_or("")));
        ChooseIndex(cb_topology, r.topology);
        ChooseIndex(cb_channel, r.channel);
        ChooseIndex(cb_outpower, r.outpower);
        // The mode list and the node boxes are set by the device-type rule below.
        chk_security->setChecked(r.security);
        ec_aeskey->setText(Latin1(zb::TextOf(r.aeskey)));
    }
    ec_aeskey->setEnabled(chk_security->isChecked());
    cb_devtypeChange();
    cb_databit->setEnabled(false);
    ApplyColour(cb_databit);
    ApplyColour(ec_aeskey);
    // Typing starts in the name, the first box of the first tab.
    ec_devname->setFocus();
    ec_devname->selectAll();
}

const zb::DeviceRecord& Tconfig_form::ShownRecord() const {
    // Without a selected record only the enabling and colours are applied.
    static const zb::DeviceRecord kBlank{};
    return shown_ != nullptr ? *shown_ : kBlank;
}

void Tconfig_form::cb_devtypeChange() {
    const zb::NodeBoxes boxes = zb::DevtypeBoxes(ShownRecord(), cb_devtype->currentIndex());
    {
        const QSignalBlocker block(cb_txmode);
        cb_txmode->clear();
        if (boxes.mode_list_full)
            Fill(cb_txmode, zb::FieldId::Txmode);
        else
            cb_txmode->addItem(Latin1(zb::kNotApplicable));
        ChooseIndex(cb_txmode, boxes.mode_choice);
    }
    ShowNodeBoxes(boxes);
}

void Tconfig_form::cb_txmodeChange() {
    ShowNodeBoxes(zb::ModeBoxes(ShownRecord(), cb_txmode->currentIndex()));
}

void Tconfig_form::ShowNodeBoxes(const zb::NodeBoxes& boxes) {
    if (shown_ != nullptr) {
        ShowText(ec_lnodeid, boxes.lnodeid, kNodeIdLength);
        ShowText(ec_rnodeid, boxes.rnodeid, kNodeIdLength);
        ShowText(ec_startbyte, boxes.startbyte, kStartbyteLength);
    }
    SetEnabledColoured(cb_txmode, boxes.mode_enabled);
    SetEnabledColoured(ec_lnodeid, boxes.lnodeid_enabled);
    SetEnabledColoured(ec_rnodeid, boxes.rnodeid_enabled);
    SetEnabledColoured(ec_startbyte, boxes.startbyte_enabled);
}

void Tconfig_form::chk_security_Click() {
    SetEnabledColoured(ec_aeskey, chk_security->isChecked());
}

bool Tconfig_form::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto& key = static_cast<const QKeyEvent&>(*event);
        if (watched == ec_startbyte) return RejectKey(key, &zb::HexKeyAllowed);
        if (watched == ec_lnodeid || watched == ec_rnodeid)
            return RejectKey(key, &zb::DecimalKeyAllowed);
    }
    return QDialog::eventFilter(watched, event);
}

void Tconfig_form::done(int result) {
    if (result == QDialog::Accepted && !FormCloseQuery()) return;
    QDialog::done(result);
}

bool Tconfig_form::FormCloseQuery() {
    if (!ApplyCheck()) return false;
    SaveSettings();
    return true;
}

zb::SettingsBoxes Tconfig_form::BoxesShown() const {
    zb::SettingsBoxes boxes;
    boxes.devtype = cb_devtype->currentIndex();
    boxes.txmode = cb_txmode->currentIndex();
    boxes.lnodeid = ec_lnodeid->text().toStdString();
    boxes.rnodeid = ec_rnodeid->text().toStdString();
    boxes.panid = ec_panid->text().toStdString();
    boxes.startbyte = ec_startbyte->text().toStdString();
    boxes.security = chk_security->isChecked();
    boxes.aeskey = ec_aeskey->text().toStdString();
    boxes.devname = ec_devname->text().toStdString();
    return boxes;
}

bool Tconfig_form::ApplyCheck() {
    if (selected_count_ > 1 &&
        !dialogs_.Message(this, MessageKind::Confirm, LoadStr(IDS_CONFIRM_APPLY_ALL)))
        return false;
    const auto failure = zb::CheckSettings(BoxesShown());
    if (!failure) return true;
    dialogs_.Message(this, MessageKind::Warning, QString::fromStdString(failure->message));
    return false;
}

void Tconfig_form::SaveSettings() {
    zb::ListPositions lists;
    lists.baud = cb_baud->currentIndex();
    lists.parity = cb_parity->currentIndex();
    lists.databit = cb_databit->currentIndex();
    lists.stopbit = cb_stopbit->currentIndex();
    lists.interface = cb_interface->currentIndex();
    lists.devtype = cb_devtype->currentIndex();
    lists.channel = cb_channel->currentIndex();
    lists.outpower = cb_outpower->currentIndex();
    lists.topology = cb_topology->currentIndex();
    lists.txmode = cb_txmode->currentIndex();
    const QByteArray devname = ec_devname->text().toLatin1();
    // A coordinator's node boxes hold "N/A", "0" or "-": ValuesOf leaves the node IDs out,
    // so every record keeps its own.
    const zb::SettingsValues values = zb::ValuesOf(
        std::string_view(devname.constData(), static_cast<std::size_t>(devname.size())), lists,
        BoxesShown());
    zb::SaveSettings(rows_, values);
}

}  // namespace zb::ui
