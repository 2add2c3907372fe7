#include "ui/main/main_form.h"

#include <algorithm>
#include <chrono>
#include <set>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include "config/config_file.h"
#include "jobs/platform/file_storage.h"
#include "jobs/report/report_row.h"
#include "jobs/run/sequences.h"
#include "ui/common/background_call.h"
#include "ui/common/column_catalogue.h"
#include "ui/common/dialog_service.h"
#include "ui/common/file_places.h"
#include "ui/common/string_table.h"
#include "ui/common/text_fit.h"
#include "ui/config/config_form.h"
#include "ui/config/export_form.h"
#include "ui/config/options_form.h"
#include "ui/main/about_form.h"
#include "ui/main/device_model.h"
#include "ui/main/help_launcher.h"
#include "ui/main/icons.h"
#include "ui/main/port_form.h"
#include "ui/main/report_form.h"
#include "ui/main/window_geometry.h"
#include "ui/work/work_form.h"

namespace zb::ui {
namespace {

constexpr int kWindowHeight = 420;
constexpr int kToolBarHeight = 81;
constexpr QSize kToolButtonSize(55, 75);
constexpr QSize kToolIconSize(32, 32);
constexpr int kStatusPanelWidth = 150;
// Cell margins on both sides, and the row icon with its gap.
constexpr int kCellPadding = 12;
constexpr int kHeadingPadding = 16;
constexpr int kRowIconWidth = 16 + 6;
// A failed export lists this many files by name; the rest are counted.
constexpr std::size_t kFailuresNamed = 8;

}  // namespace

TForm1::TForm1(DialogService& dialogs, SystemPortLister list_ports, QWidget* parent)
    : QMainWindow(parent), dialogs_(dialogs), list_ports_(std::move(list_ports)) {
    setObjectName(QStringLiteral("TForm1"));
    setWindowTitle(LoadStr(IDS_TITLE));
    setWindowIcon(SvgIcon(kIconAbout, QSize(33, 37)));

    // FormCreate. The rows start absent, unlocked and empty (PortRow's defaults).
    columns_ = DefaultColumnLists();

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateDeviceList();

    m_statusbar = new QStatusBar(this);
    m_statusbar->setObjectName(QStringLiteral("m_statusbar"));
    m_statusbar->setSizeGripEnabled(false);
    m_statusbar->setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }"));
    m_status_panel = new QLabel(m_statusbar);
    m_status_panel->setObjectName(QStringLiteral("m_status_panel"));
    m_status_panel->setFixedWidth(kStatusPanelWidth);
    m_statusbar->addWidget(m_status_panel);
    setStatusBar(m_statusbar);

    resize(kWindowWidth, kWindowHeight);
}

TForm1::~TForm1() {
    // The list is torn down after this class; its selection must not call back into it.
    m_listview->selectionModel()->disconnect(this);
    for (zb::PortRow& row : rows_) {
        if (row.device) zb::UnmarkPort(row);  // closes a link a failed command left open
        row.device.reset();
        row.port_lock.reset();
    }
    columns_.visible.clear();
    columns_.hidden.clear();
}

void TForm1::CreateActions() {
    const auto make = [this](const char* name, const QString& text, const QKeySequence& key,
                             void (TForm1::*handler)()) {
        auto* action = new QAction(text, this);
        action->setObjectName(QLatin1String(name));
        if (!key.isEmpty()) action->setShortcut(key);
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
        return action;
    };
    mu_addport = make("mu_addport", QStringLiteral("Add"), QKeySequence(Qt::Key_Insert),
                      &TForm1::act_portadd);
    mu_delport = make("mu_delport", QStringLiteral("Delete"), QKeySequence(Qt::Key_Delete),
                      &TForm1::act_portdel);
    mu_exit = make("mu_exit", QStringLiteral("Exit"), QKeySequence(Qt::ALT | Qt::Key_F4),
                   &TForm1::act_exit);
    mu_config = make("mu_config", QStringLiteral("Configuration"),
                     QKeySequence(Qt::CTRL | Qt::Key_F), &TForm1::act_config);
    mu_import = make("mu_import", QStringLiteral("Import"), {}, &TForm1::act_import);
    mu_export = make("mu_export", QStringLiteral("Export"), {}, &TForm1::act_export);
    mu_upgrade = make("mu_upgrade", QStringLiteral("Upgrade firmware"), {}, &TForm1::act_upgrade);
    mu_refresh = make("mu_refresh", QStringLiteral("Refresh"), QKeySequence(Qt::Key_F5),
                      &TForm1::act_refresh);
    mu_options = make("mu_options", QStringLiteral("Options"), {}, &TForm1::act_options);
    mu_report = make("mu_report", QStringLiteral("Last job report..."), {}, &TForm1::act_report);
    mu_report->setEnabled(false);  // until a job has run
    mu_help = make("mu_help", QStringLiteral("Help"), {}, &TForm1::mu_helpClick);
    mu_about = make("mu_about", QStringLiteral("About..."), {}, &TForm1::act_about);
}

void TForm1::CreateMenus() {
    QMenu* connect_menu = menuBar()->addMenu(QStringLiteral("Connect"));
    QMenu* port_menu = connect_menu->addMenu(QStringLiteral("Port"));
    port_menu->addAction(mu_addport);
    port_menu->addAction(mu_delport);
    connect_menu->addSeparator();
    connect_menu->addAction(mu_exit);

    QMenu* operation = menuBar()->addMenu(QStringLiteral("Operation"));
    operation->addAction(mu_config);
    operation->addSeparator();
    operation->addAction(mu_import);
    operation->addAction(mu_export);
    operation->addAction(mu_upgrade);
    operation->addSeparator();
    operation->addAction(mu_refresh);

    QMenu* view = menuBar()->addMenu(QStringLiteral("View"));
    view->addAction(mu_options);
    view->addAction(mu_report);

    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    help->addAction(mu_help);
    help->addSeparator();
    help->addAction(mu_about);

    // The context menu shares the menu's actions: a second action with the same shortcut
    // would make the shortcut ambiguous, and neither would fire.
    m_popupmenu = new QMenu(this);
    m_popupmenu->setObjectName(QStringLiteral("m_popupmenu"));
    m_popupmenu->addAction(mu_config);
    m_popupmenu->addSeparator();
    m_popupmenu->addAction(mu_import);
    m_popupmenu->addAction(mu_export);
    m_popupmenu->addAction(mu_upgrade);
    m_popupmenu->addSeparator();
    m_popupmenu->addAction(mu_refresh);
}

void TForm1::CreateToolBar() {
    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("m_toolbar"));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setFixedHeight(kToolBarHeight);
    m_toolbar->toggleViewAction()->setEnabled(false);
    m_toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, m_toolbar);

    const auto button = [this](const char* name, const QString& text, const char* icon,
                               void (TForm1::*handler)()) {
        auto* b = new QToolButton(m_toolbar);
        b->setObjectName(QLatin1String(name));
        b->setText(text);
        b->setIcon(SvgIcon(icon, kToolIconSize));
        b->setIconSize(kToolIconSize);
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true);
        b->setFixedSize(kToolButtonSize);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, handler);
        m_toolbar->addWidget(b);
    };
    button("bt_add", QStringLiteral("Add"), kIconAdd, &TForm1::act_portadd);
    button("bt_delete", QStringLiteral("Delete"), kIconDelete, &TForm1::act_portdel);
    m_toolbar->addSeparator()->setObjectName(QStringLiteral("bt_divider1"));
    button("bt_refresh", QStringLiteral("Refresh"), kIconRefresh, &TForm1::act_refresh);
    button("bt_config", QStringLiteral("Config"), kIconConfig, &TForm1::act_config);
    button("bt_upgrade", QStringLiteral("Upgrade"), kIconUpgrade, &TForm1::act_upgrade);
}

void TForm1::CreateDeviceList() {
    m_model = new DeviceListModel(this);
    m_model->SetRowIcon(SvgIcon(kIconListModem, QSize(16, 16)));

    m_listview = new QTableView(this);
    m_listview->setObjectName(QStringLiteral("m_listview"));
    m_listview->setModel(m_model);
    m_listview->setShowGrid(true);
    m_listview->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listview->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_listview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listview->setWordWrap(false);
    m_listview->installEventFilter(this);
    m_listview->setIconSize(QSize(16, 16));
    m_listview->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_listview->verticalHeader()->hide();
    m_listview->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_listview->verticalHeader()->setDefaultSectionSize(m_listview->fontMetrics().height() + 6);
    QHeaderView* header = m_listview->horizontalHeader();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_listview->setContextMenuPolicy(Qt::CustomContextMenu);
    setCentralWidget(m_listview);

    connect(m_listview->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TForm1::m_listviewSelectItem);
    connect(m_listview, &QTableView::doubleClicked, this, &TForm1::act_config);
    connect(m_listview, &QTableView::customContextMenuRequested, this,
            &TForm1::m_listviewContextPopup);
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // FormShow runs once: a later show (a restore, a second start) keeps the columns.
    if (event->spontaneous() || shown_) return;
    shown_ = true;
    BuildColumns();
    // The default columns, widened to fit their texts, are all in view at start.
    setGeometry(StartWindowRect(ListWidth(), geometry(), FreeArea()));
    m_listviewSelectItem();
}

// Home and End go to the first and last device, as in a list, not to the first and last
// column of the current row.
bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_listview && event->type() == QEvent::KeyPress) {
        const auto& key = static_cast<const QKeyEvent&>(*event);
        const int rows = m_model->rowCount();
        if ((key.key() == Qt::Key_Home || key.key() == Qt::Key_End) &&
            key.modifiers() == Qt::NoModifier && rows > 0) {
            const int row = key.key() == Qt::Key_Home ? 0 : rows - 1;
            m_listview->selectionModel()->setCurrentIndex(
                m_model->index(row, 0),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            m_listview->scrollTo(m_model->index(row, 0));
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::m_listviewSelectItem() {
    m_status_panel->setText(StatusText(static_cast<int>(SelectedPorts().size())));
    m_status_panel->repaint();
}

void TForm1::m_listviewContextPopup(const QPoint& pos) {
    m_popupmenu->popup(m_listview->viewport()->mapToGlobal(pos));
}

// --- Device list --------------------------------------------------------------------------

void TForm1::BuildColumns() {
    QStringList headings{LoadStr(kColComNo)};
    for (int id : columns_.visible) headings.append(LoadStr(id));
    m_model->SetHeadings(headings);
    QHeaderView* header = m_listview->horizontalHeader();
    header->resizeSection(0, ColumnWidth(kColComNo));
    for (std::size_t i = 0; i < columns_.visible.size(); ++i)
        header->resizeSection(static_cast<int>(i) + 1, ColumnWidth(columns_.visible[i]));
}

int TForm1::ColumnWidth(int id) const {
    const QHeaderView* header = m_listview->horizontalHeader();
    const auto catalogue = CatalogueWidth(id);
    const int minimum = catalogue ? *catalogue : header->defaultSectionSize();
    const int padding = kCellPadding + (id == kColComNo ? kRowIconWidth : 0);
    const int cells = FitWidth(m_listview->fontMetrics(), ColumnSamples(id), minimum, padding);
    return FitWidth(header->fontMetrics(), {LoadStr(id)}, cells, kHeadingPadding);
}

int TForm1::ColumnsWidth() const {
    int sum = ColumnWidth(kColComNo);
    for (int id : columns_.visible) sum += ColumnWidth(id);
    return sum;
}

int TForm1::ListWidth() const {
    return ColumnsWidth() + 2 * m_listview->frameWidth() +
           style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

QRect TForm1::FreeArea() const {
    const QScreen* where = screen();
    if (!where) return {};
    const QRect frame = frameGeometry();
    const QRect inner = geometry();
    return where->availableGeometry().marginsRemoved(
        QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
                 frame.right() - inner.right(), frame.bottom() - inner.bottom()));
}

void TForm1::FocusList() {
    m_listview->setFocus(Qt::OtherFocusReason);
}

void TForm1::FillDeviceList() {
    m_model->Fill(BuildListRows(rows_, columns_.visible));
    // The removed rows took their selection with them; the status text follows.
    m_listviewSelectItem();
}

void TForm1::RefreshView() {
    BuildColumns();
    FillDeviceList();
}

std::vector<std::int32_t> TForm1::SelectedPorts() const {
    std::vector<std::int32_t> coms;
    const QModelIndexList rows = m_listview->selectionModel()->selectedRows();
    std::vector<int> order;
    order.reserve(static_cast<std::size_t>(rows.size()));
    for (const QModelIndex& index : rows) order.push_back(index.row());
    std::sort(order.begin(), order.end());
    for (int row : order)
        if (const auto com = ComOfCaption(m_model->Caption(row))) coms.push_back(*com);
    return coms;
}

int TForm1::ListRowCount() const {
    return m_model->rowCount();
}

void TForm1::MarkPorts(bool all, bool mark) {
    if (all) {
        MarkAllPorts(rows_, mark);
    } else {
        MarkListedPorts(rows_, SelectedPorts(), mark);
    }
}

void TForm1::MarkUpgrade(bool on) {
    MarkUpgradeOf(rows_, SelectedPorts(), on);
}

bool TForm1::ReportUpgradeAgain() {
    const std::vector<std::int32_t> coms = UpgradeAgainPorts(rows_);
    for (std::int32_t com : coms)
        dialogs_.Message(this, MessageKind::Warning, UpgradeAgainText(com));
    return !coms.empty();
}

// --- Commands -----------------------------------------------------------------------------

void TForm1::act_portadd() {
    Tport_form form(list_ports_, this);
    form.setWindowTitle(QStringLiteral("Add Connection Port"));
    form.LoadPorts(rows_);
    form.exec();
    // Also after "Cancel": the scan's view of which ports exist holds either way.
    form.StorePorts(rows_);
    if (form.AddedCount() == 0) return;
    {
        Twork_form work(dialogs_, this);
        ReadMarked(work, zb::RunCommand::Read);
        ReportUpgradeAgain();
    }
    MarkPorts(true, false);
    FillDeviceList();
}

void TForm1::act_portdel() {
    const std::vector<std::int32_t> coms = SelectedPorts();
    if (ListRowCount() == 0 || coms.empty()) return;
    if (!dialogs_.Message(this, MessageKind::Confirm, LoadStr(IDS_CONFIRM_REMOVE))) return;
    for (std::int32_t com : coms)
        if (const auto k = zb::RowOfCom(com)) zb::RemovePort(rows_[*k]);
    FillDeviceList();
}

void TForm1::act_refresh() {
    const int listed = ListRowCount();
    if (listed == 0) return;
    const std::size_t selected = SelectedPorts().size();
    const bool some = selected > 0 && selected < static_cast<std::size_t>(listed);
    MarkPorts(!some, true);
    {
        Twork_form work(dialogs_, this);
        ReadMarked(work, zb::RunCommand::Read);
        ReportUpgradeAgain();
        MarkPorts(!some, false);
    }
    FillDeviceList();
}

void TForm1::ReadMarked(Twork_form& work, zb::RunCommand command) {
    zb::PortRun run(rows_, command, work);
    zb::ReadPorts(run);
    FocusList();
    KeepReport(run);
}

void TForm1::KeepReport(zb::PortRun& run) {
    last_report_ = run.TakeRows();
    mu_report->setEnabled(true);
}

void TForm1::act_report() {
    Treport_form report(dialogs_, last_report_, report_file_, this);
    report.exec();
    report_file_ = report.File();
}

void TForm1::Warn(int string_id) {
    dialogs_.Message(this, MessageKind::Warning, LoadStr(string_id));
}

void TForm1::Inform(int string_id) {
    dialogs_.Message(this, MessageKind::Information, LoadStr(string_id));
}

void TForm1::act_config() {
    const auto count = static_cast<std::uint32_t>(SelectedPorts().size());
    if (ListRowCount() == 0 || count == 0) return;
    MarkPorts(false, true);
    {
        Twork_form work(dialogs_, this);
        ReadMarked(work, zb::RunCommand::Read);
        if (work.FailCount() != 0) {
            if (!ReportUpgradeAgain()) Warn(IDS_GET_CONFIG_FAIL);
        } else {
            Tconfig_form config(dialogs_, this);
            config.LoadPorts(rows_);
            config.SetSelectedCount(static_cast<int>(count));
            if (config.exec() == QDialog::Accepted) {
                config.StorePorts(rows_);
                // The ports are still marked and their links open: the same window writes
                // over the links its read opened.
                zb::PortRun apply(rows_, zb::RunCommand::Apply, work);
                zb::WriteChanges(apply, false);
                FocusList();
                KeepReport(apply);
                if (work.ApplyFailCount() != 0) {
                    Warn(IDS_APPLY_FAIL);
                } else {
                    Inform(IDS_APPLY_OK);
                }
            }
        }
    }
    MarkPorts(false, false);
    FillDeviceList();
}

void TForm1::act_import() {
    const auto count = static_cast<std::uint32_t>(SelectedPorts().size());
    if (ListRowCount() == 0 || count == 0) return;
    MarkPorts(false, true);
    Texport_form chooser(dialogs_, this);
    chooser.SetMode(Texport_form::kModeImport);
    chooser.SetImportFile(import_file_);
    const bool ok = chooser.exec() == QDialog::Accepted;
    // Also after Cancel: a file picked with Browse stays remembered.
    import_file_ = chooser.ImportFile();
    if (!ok) {
        MarkPorts(false, false);
        FillDeviceList();
        return;
    }
    std::vector<zb::PortOutcome> refused;
    if (!ReadConfigFile(&refused)) {
        Warn(IDS_IMPORT_INVALID);
        MarkPorts(false, false);
        return;
    }
    {
        Twork_form work(dialogs_, this);
        zb::PortRun run(rows_, zb::RunCommand::Import, work);
        // The refused ports join the job's report, which says why they were not written.
        for (const zb::PortOutcome& port : refused)
            run.Finish(port.com, port.failure, true, port.message);
        if (!run.coms().empty()) {
            zb::WriteChanges(run, false);
            FocusList();
        }
        KeepReport(run);
        std::sort(last_report_.begin(), last_report_.end(),
                  [](const zb::ReportRow& a, const zb::ReportRow& b) { return a.com < b.com; });
        if (work.ApplyFailCount() == 0 && refused.empty()) {
            Inform(IDS_IMPORT_OK);
        } else if (!ReportUpgradeAgain()) {
            Warn(IDS_APPLY_FAIL);
        }
        MarkPorts(false, false);
    }
    FillDeviceList();
}

void TForm1::act_export() {
    const auto count = static_cast<std::uint32_t>(SelectedPorts().size());
    if (ListRowCount() == 0 || count == 0) return;
    {
        Texport_form chooser(dialogs_, this);
        chooser.SetMode(Texport_form::kModeExport);
        if (!export_folder_.isEmpty()) chooser.SetExportFolder(export_folder_);
        if (chooser.exec() != QDialog::Accepted) return;
        export_folder_ = chooser.ExportFolder();
    }
    if (export_folder_.isEmpty()) return;
    // A folder that cannot take the files is known before any device is read.
    if (const zb::Status writable = zb::CheckWritableFolder(SystemPath(export_folder_));
        !writable) {
        dialogs_.Message(this, MessageKind::Warning,
                         QStringLiteral("The export folder cannot be written:\n%1")
                             .arg(QString::fromLocal8Bit(writable.reason())));
        return;
    }
    MarkPorts(false, true);
    bool read_ok = false;
    {
        Twork_form work(dialogs_, this);
        ReadMarked(work, zb::RunCommand::Export);
        read_ok = work.FailCount() == 0;
        // A device that could not be read cancels every file of the export.
        if (!read_ok && !ReportUpgradeAgain()) Warn(IDS_GET_CONFIG_FAIL);
    }
    const bool written = read_ok && WriteConfigFiles();
    MarkPorts(false, false);
    FillDeviceList();
    if (written) Inform(IDS_EXPORT_OK);
}

bool TForm1::WriteConfigFiles() {
    // Every file is synced before it replaces the old one: about a second for 1024 ports,
    // far longer on a slow or network disk, so the files are written off the GUI thread. The
    // writer gets copies of the selected records: the window's own stay the window's.
    zb::PortTable selected;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (const zb::DeviceRecord* r = rows_[i].device.get(); r != nullptr && r->selected)
            selected[i].device = std::make_shared<zb::DeviceRecord>(*r);
    const std::vector<zb::ConfigWriteFailure> failures =
        BackgroundCall(this, QStringLiteral("Writing the configuration files"),
                       [selected = std::move(selected), folder = SystemPath(export_folder_)] {
                           return zb::WriteConfigFiles(selected, folder);
                       });
    if (failures.empty()) return true;
    QString text =
        failures.size() == 1
            ? QStringLiteral("The configuration file could not be written:")
            : QStringLiteral("%1 configuration files could not be written:").arg(failures.size());
    for (std::size_t i = 0; i < failures.size() && i < kFailuresNamed; ++i)
        text += QStringLiteral("\n%1: %2")
                    .arg(QDir::toNativeSeparators(QFile::decodeName(failures[i].path.c_str())),
                         QString::fromLocal8Bit(failures[i].reason));
    if (failures.size() > kFailuresNamed)
        text += QStringLiteral("\nand %1 more.").arg(failures.size() - kFailuresNamed);
    dialogs_.Message(this, MessageKind::Warning, text);
    return false;
}

bool TForm1::ReadConfigFile(std::vector<zb::PortOutcome>* refused) {
    auto left = zb::ReadConfigFile(SystemPath(import_file_), rows_);
    if (!left) return false;
    const auto now = std::chrono::system_clock::now();
    for (zb::ConfigImportRefusal& r : *left) {
        const auto com = static_cast<std::int32_t>(r.com);
        if (const auto k = zb::RowOfCom(com)) zb::UnmarkPort(rows_[*k]);
        refused->push_back({com, false, std::move(r.message), now, zb::FailureKind::Refused});
    }
    return true;
}

void TForm1::act_upgrade() {
    const auto count = static_cast<std::uint32_t>(SelectedPorts().size());
    if (ListRowCount() == 0 || count == 0) return;
    {
        Texport_form chooser(dialogs_, this);
        chooser.SetMode(Texport_form::kModeFirmware);
        chooser.SetFirmwareFile(firmware_file_);
        // A cancelled chooser ends the command: nothing was upgraded, so nothing is re-read.
        if (chooser.exec() != QDialog::Accepted) return;
        firmware_file_ = chooser.FirmwareFile();
    }
    MarkPorts(false, true);
    MarkUpgrade(true);
    Twork_form work(dialogs_, this);
    zb::PortRun run(rows_, zb::RunCommand::Upgrade, work);
    // The versions the list read last.
    for (const std::int32_t com : run.coms()) run.SetReadBefore(com, run.Record(com));
    run.UseFile(SystemPath(firmware_file_));
    const bool ran = run.RunJob(SystemPath(firmware_file_));
    FocusList();
    const bool failed = work.FailCount() != 0;
    if (failed) zb::FinishUpgrade(run, {});
    KeepReport(run);
    if (failed) {
        Warn(IDS_UPGRADE_FAIL);
    } else {
        Inform(IDS_UPGRADE_OK);
    }
    MarkUpgrade(false);
    MarkPorts(false, false);
    // Re-reading shows the new versions; after a failure the list waits for the next refresh.
    if (failed) return;
    act_refresh();
    // The report stays the upgrade's, with the versions of the ports the re-read found.
    std::set<std::int32_t> read_again;
    for (const zb::ReportRow& row : last_report_)
        if (row.ok) read_again.insert(row.com);
    if (ran) zb::FinishUpgrade(run, read_again);
    KeepReport(run);
}

void TForm1::act_options() {
    Toptions_form options(this);
    for (int id : columns_.visible) options.AddSelected(id);
    for (int id : columns_.hidden) options.AddUnselected(id);
    if (options.exec() != QDialog::Accepted) return;
    columns_.visible.clear();
    for (int i = 0; i < options.SelectedCount(); ++i)
        columns_.visible.push_back(options.SelectedAt(i));
    columns_.hidden.clear();
    for (int i = 0; i < options.UnselectedCount(); ++i)
        columns_.hidden.push_back(options.UnselectedAt(i));
    RefreshView();
    // The window's width follows the catalogue widths; the widths drawn for the fonts only
    // keep it from hiding a column.
    setGeometry(
        ColumnsWindowRect(CatalogueWidths(columns_.visible), ListWidth(), geometry(), FreeArea()));
    update();
}

void TForm1::act_about() {
    Tabout_form about(this);
    about.exec();
}

void TForm1::mu_helpClick() {
    const HelpPlaces places =
        HelpPlacesFor(QDir::currentPath(), QCoreApplication::applicationDirPath());
    const HelpChoice help = ChooseHelp(places, &SystemOpensChm);
    QString open = help.path;
    switch (help.action) {
        case HelpAction::kNotFound:
        case HelpAction::kNoChmHandler:
            if (help.html.isEmpty()) {
                dialogs_.Message(this, MessageKind::Warning, HelpMissingText(help, places));
                return;
            }
            if (!dialogs_.Offer(this, HelpMissingText(help, places),
                                QStringLiteral("Open HTML Pages")))
                return;
            open = help.html;
            break;
        case HelpAction::kOpenChm:
        case HelpAction::kOpenHtml:
            break;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(open))) {
        dialogs_.Message(this, MessageKind::Warning,
                         QStringLiteral("The help could not be opened: %1.")
                             .arg(QDir::toNativeSeparators(open)));
    }
}

void TForm1::act_exit() {
    close();
}

void TForm1::ShowFromOtherInstance() {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

}  // namespace zb::ui
