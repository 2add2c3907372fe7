#include "ui/work/work_form.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTableView>

#include <algorithm>
#include <array>
#include <climits>
#include <system_error>
#include <utility>

#include "ui/common/file_places.h"
#include "ui/common/text_fit.h"

namespace zb::ui {
namespace {

constexpr int kWidth = 481;
constexpr int kHeight = 257;
constexpr int kStripHeight = 20;
constexpr int kListLeft = 8;
constexpr int kCellPadding = 12;

QFont BoldFont(const QWidget& widget) {
    QFont font = widget.font();
    font.setBold(true);
    return font;
}

}  // namespace

void TShape::SetColours(const QColor& fill, const QColor& outline) {
    if (fill == fill_ && outline == outline_) return;
    fill_ = fill;
    outline_ = outline;
    update();
}

void TShape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), fill_);
    painter.setPen(outline_);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

Twork_form::Twork_form(DialogService& dialogs, QWidget* parent)
    : Twork_form(
          dialogs, [](zb::JobEngine& engine) { engine.Start(); }, parent) {}

Twork_form::Twork_form(DialogService& dialogs, JobStarter starter, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      dialogs_(dialogs),
      starter_(std::move(starter)),
      reporter_([this](std::span<const StatusUpdate> batch) { ApplyReports(batch); }),
      engine_(reporter_) {
    // The columns are widened to show COM1024 and every message whole, and the window with
    // them; the list keeps room for its frame and a vertical scroll bar.
    std::array<int, kColCount> widths{};
    int columns = 0;
    for (int column = 0; column < kColCount; ++column) {
        const auto c = static_cast<std::size_t>(column);
        widths[c] =
            FitWidth(fontMetrics(), StatusSamples(column), kStatusColumnWidths[c], kCellPadding);
        columns += widths[c];
    }
    const int list_chrome = style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
    const int width = std::max(kWidth, kListLeft * 2 + columns + list_chrome);
    setFixedSize(width, kHeight);
    setCursor(Qt::WaitCursor);

    Shape1 = new TShape(this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(0, kStripHeight, width, kHeight - kStripHeight);
    Shape1->setCursor(Qt::WaitCursor);

    Shape2 = new TShape(this);
    Shape2->setObjectName(QStringLiteral("Shape2"));
    Shape2->setGeometry(0, 0, width, kStripHeight);
    Shape2->setCursor(Qt::ArrowCursor);

    btClose = new QPushButton(QStringLiteral("X"), Shape2);
    btClose->setObjectName(QStringLiteral("btClose"));
    btClose->setFlat(true);
    btClose->setFocusPolicy(Qt::NoFocus);
    btClose->setGeometry(width - 15 - 3, (kStripHeight - 15) / 2, 15, 15);
    btClose->setFont(BoldFont(*btClose));
    btClose->setStyleSheet(
        QStringLiteral("QPushButton { color: white; border: none; background: transparent; "
                       "padding: 0px; }"));
    btClose->setCursor(Qt::ArrowCursor);
    connect(btClose, &QPushButton::clicked, this, &Twork_form::btCloseClick);

    port_status = new QLabel(QStringLiteral("Waiting for device complete..."), Shape1);
    port_status->setObjectName(QStringLiteral("port_status"));
    port_status->setFont(BoldFont(*port_status));
    port_status->setGeometry(
        10, 6, FitWidth(port_status->fontMetrics(), {port_status->text()}, 260, 4), 18);

    Label1 = new QLabel(QStringLiteral("Total port(s) : "), Shape1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(width - 181, 6, 95, 18);

    m_count = new QLabel(QStringLiteral("0"), Shape1);
    m_count->setObjectName(QStringLiteral("m_count"));
    m_count->setFont(BoldFont(*m_count));
    m_count->setGeometry(width - 86, 6, 76, 18);

    model_ = new StatusModel(this);
    m_listview = new QTableView(Shape1);
    m_listview->setObjectName(QStringLiteral("m_listview"));
    m_listview->setGeometry(kListLeft, 30, width - 2 * kListLeft, kHeight - kStripHeight - 38);
    m_listview->setModel(model_);
    m_listview->setItemDelegate(new ProgressDelegate(*model_, m_listview));
    m_listview->setShowGrid(true);
    m_listview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listview->setSelectionMode(QAbstractItemView::NoSelection);
    m_listview->setFocusPolicy(Qt::NoFocus);
    m_listview->setWordWrap(false);
    m_listview->verticalHeader()->hide();
    m_listview->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_listview->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    QHeaderView* header = m_listview->horizontalHeader();
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    for (int column = 0; column < kColCount; ++column)
        m_listview->setColumnWidth(column, widths[static_cast<std::size_t>(column)]);
    m_listview->setCursor(Qt::WaitCursor);
    m_listview->viewport()->setCursor(Qt::WaitCursor);

    ShowJobMode(zb::JobMode::Normal);
}

Twork_form::~Twork_form() = default;

void Twork_form::LoadPorts(const zb::PortTable& rows) {
    engine_.LoadPorts(rows);
}

void Twork_form::StorePorts(zb::PortTable& rows) const {
    engine_.StorePorts(rows);
}

void Twork_form::SetPortCount(std::uint32_t n) {
    engine_.SetPortCount(n);
    port_count_ = n;
}

void Twork_form::SetFirmwareFile(const QString& path) {
    engine_.SetFirmwareFile(SystemPath(path));
}

std::vector<zb::PortOutcome> Twork_form::Outcomes() const {
    return engine_.Outcomes();
}

std::uint32_t Twork_form::FailCount() const {
    return engine_.FailCount();
}

std::uint32_t Twork_form::ApplyFailCount() const {
    return engine_.ApplyFailCount();
}

bool Twork_form::RunJob(const zb::PortTable& ports, std::uint32_t count,
                        const std::string& firmware) {
    LoadPorts(ports);
    SetPortCount(count);
    engine_.SetFirmwareFile(firmware);
    exec();
    return started_;
}

bool Twork_form::IsRunning() const {
    return state_ == State::Running;
}

int Twork_form::exec() {
    if (QWidget* owner = parentWidget())
        move(CentredTopLeft(owner->window()->frameGeometry(), frameSize()));
    // Started from inside the modal loop, so that the window is up before the job reports
    // and a failure's message box has its owner on screen.
    QMetaObject::invokeMethod(this, &Twork_form::FormShow, Qt::QueuedConnection);
    return QDialog::exec();
}

void Twork_form::FormShow() {
    if (state_ == State::Running) return;
    ShowJobMode(zb::JobMode::Normal);
    m_count->setText(QString::number(port_count_));
    zb::PortTable rows;
    engine_.StorePorts(rows);
    model_->Reset(JobComs(rows));

    state_ = State::Running;
    started_ = false;
    try {
        starter_(engine_);
        started_ = true;
    } catch (const std::system_error& e) {
        state_ = State::Idle;
        dialogs_.Message(this, MessageKind::Warning,
                         QStringLiteral("Win32 API error. (code = %1)").arg(e.code().value()));
    }
}

void Twork_form::btCloseClick() {
    if (state_ == State::Running)
        engine_.RequestAbort();
    else
        reject();
}

void Twork_form::done(int result) {
    if (state_ == State::Running) return;
    engine_.Wait();
    engine_.ReleaseProgressBars();
    QDialog::done(result);
}

void Twork_form::closeEvent(QCloseEvent* event) {
    // Alt+F4 and the like: only the end of the job closes a running window.
    if (state_ == State::Running) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void Twork_form::ApplyReports(std::span<const StatusUpdate> batch) {
    int first = INT_MAX;
    int last = -1;
    const auto flush = [&] {
        if (last >= 0) model_->RowsChanged(first, last);
        first = INT_MAX;
        last = -1;
    };
    for (const StatusUpdate& update : batch) {
        switch (update.kind) {
            case StatusUpdate::Kind::Started:
                // The rows were listed when the window was shown; they name the same ports.
                if (update.coms != model_->Coms()) {
                    flush();
                    model_->Reset(update.coms);
                }
                break;
            case StatusUpdate::Kind::Mode:
                ShowJobMode(update.mode);
                break;
            case StatusUpdate::Kind::Finished:
                flush();
                if (state_ == State::Running) {
                    state_ = State::Idle;
                    done(QDialog::Accepted);
                }
                break;
            default:
                if (const int row = model_->Apply(update); row >= 0) {
                    first = std::min(first, row);
                    last = std::max(last, row);
                }
                break;
        }
    }
    flush();
}

void Twork_form::ShowJobMode(zb::JobMode mode) {
    const FrameColours c = ColoursFor(mode, palette().color(QPalette::Button));
    Shape2->SetColours(c.strip_fill, c.strip_outline);
    Shape1->SetColours(c.body_fill, c.body_outline);
}

}  // namespace zb::ui
