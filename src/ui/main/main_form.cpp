#include "main_form.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include "about_form.h"
#include "device_model.h"
#include "dialog_service.h"
#include "icons.h"
#include "port_form.h"
#include "string_table.h"
#include "work_form.h"

namespace zb::ui {
namespace {

constexpr int kWindowWidth = 770;
constexpr int kWindowHeight = 420;
constexpr int kToolBarHeight = 81;
constexpr QSize kToolButtonSize(55, 75);
constexpr QSize kToolIconSize(32, 32);
constexpr int kStatusPanelWidth = 150;
const QString kHelpFile = QStringLiteral("qdlradio.chm");

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
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kWindowWidth / 2, kWindowHeight / 2));
    }
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

    menuBar()->addMenu(QStringLiteral("View"))->addAction(mu_options);

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
    m_listviewSelectItem();
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
    header->resizeSection(0, *CatalogueWidth(kColComNo));
    for (std::size_t i = 0; i < columns_.visible.size(); ++i) {
        const auto width = CatalogueWidth(columns_.visible[i]);
        header->resizeSection(static_cast<int>(i) + 1,
                              width ? *width : header->defaultSectionSize());
    }
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
        work.LoadPorts(rows_);
        work.SetPortCount(form.AddedCount());
        work.exec();
        work.StorePorts(rows_);
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
    std::uint32_t marked = 0;
    for (const zb::PortRow& row : rows_)
        if (row.device && row.device->selected) ++marked;
    {
        Twork_form work(dialogs_, this);
        work.LoadPorts(rows_);
        work.SetPortCount(marked);
        work.exec();
        work.StorePorts(rows_);
        ReportUpgradeAgain();
        MarkPorts(!some, false);
    }
    FillDeviceList();
}

// The configuration, import, export, upgrade and column options commands come with the
// configuration dialogs; their menu items and buttons are in place already.
void TForm1::act_config() {}
void TForm1::act_import() {}
void TForm1::act_export() {}
void TForm1::act_upgrade() {}
void TForm1::act_options() {}

void TForm1::act_about() {
    Tabout_form about(this);
    about.exec();
}

void TForm1::mu_helpClick() {
    const QString path = QDir::current().absoluteFilePath(kHelpFile);
    if (!QFileInfo::exists(path)) {
        dialogs_.Message(this, MessageKind::Warning, QStringLiteral("File not found."));
        return;
    }
    // Any other failure, such as no program for the file type, passes silently.
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
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
