#include "ui/main/report_form.h"

#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <string>

#include "jobs/model/result.h"
#include "jobs/report/report_open.h"
#include "ui/common/background_call.h"
#include "ui/common/com_caption.h"
#include "ui/common/dialog_service.h"
#include "ui/common/file_places.h"

namespace zb::ui {
namespace {

QString Text(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString Summary(const std::vector<zb::ReportRow>& rows) {
    if (rows.empty()) return QStringLiteral("No job has run yet.");
    const auto failed =
        std::count_if(rows.begin(), rows.end(), [](const zb::ReportRow& r) { return !r.ok; });
    const QString ports =
        rows.size() == 1 ? QStringLiteral("1 port") : QStringLiteral("%1 ports").arg(rows.size());
    return QStringLiteral("%1 job, %2: %3, %4 failed.")
        .arg(Text(rows.front().command), Text(rows.front().time), ports)
        .arg(failed);
}

}  // namespace

Treport_form::Treport_form(DialogService& dialogs, std::vector<zb::ReportRow> rows, QString file,
                           QWidget* parent)
    : QDialog(parent), dialogs_(dialogs), rows_(std::move(rows)), file_(std::move(file)) {
    setObjectName(QStringLiteral("Treport_form"));
    setWindowTitle(QStringLiteral("Last Job Report"));

    m_summary = new QLabel(Summary(rows_), this);
    m_summary->setObjectName(QStringLiteral("m_summary"));

    m_rows = new QTableWidget(static_cast<int>(rows_.size()), 3, this);
    m_rows->setObjectName(QStringLiteral("m_rows"));
    m_rows->setHorizontalHeaderLabels(
        {QStringLiteral("COM"), QStringLiteral("Result"), QStringLiteral("Message")});
    m_rows->verticalHeader()->hide();
    m_rows->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_rows->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_rows->setWordWrap(false);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const zb::ReportRow& r = rows_[i];
        const int row = static_cast<int>(i);
        m_rows->setItem(row, 0, new QTableWidgetItem(ComCaption(r.com)));
        m_rows->setItem(
            row, 1, new QTableWidgetItem(r.ok ? QStringLiteral("ok") : QStringLiteral("failed")));
        m_rows->setItem(row, 2, new QTableWidgetItem(Text(r.message)));
    }
    // Every message whole: the columns fit their texts, and the window the columns, as far
    // as the screen allows (then the table scrolls).
    m_rows->resizeColumnsToContents();
    m_rows->horizontalHeader()->setStretchLastSection(true);

    bt_save = new QPushButton(QStringLiteral("&Save..."), this);
    bt_save->setObjectName(QStringLiteral("bt_save"));
    bt_save->setEnabled(!rows_.empty());
    bt_close = new QPushButton(QStringLiteral("Close"), this);
    bt_close->setObjectName(QStringLiteral("bt_close"));
    bt_close->setDefault(true);
    connect(bt_save, &QPushButton::clicked, this, &Treport_form::bt_saveClick);
    connect(bt_close, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bt_save);
    buttons->addWidget(bt_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_rows);
    layout->addLayout(buttons);

    int table_width = m_rows->frameWidth() * 2;
    for (int c = 0; c < m_rows->columnCount(); ++c) table_width += m_rows->columnWidth(c);
    table_width += m_rows->verticalScrollBar()->sizeHint().width();
    const QMargins margins = layout->contentsMargins();
    int width =
        std::max(table_width, m_summary->sizeHint().width()) + margins.left() + margins.right();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        width = std::min(width, screen->availableGeometry().width() * 9 / 10);
    resize(std::max(width, 420), 360);
}

void Treport_form::bt_saveClick() {
    const QString path = dialogs_.SaveFile(
        this, QStringLiteral("Save Job Report"), file_.isEmpty() ? ChooserStartFolder() : file_,
        zb::DatabaseReportsBuilt()
            ? QStringLiteral(
                  "CSV report (*.csv);;JSON report (*.json);;SQLite database (*.db);;All files (*)")
            : QStringLiteral("CSV report (*.csv);;JSON report (*.json);;All files (*)"));
    if (path.isEmpty()) return;
    // A database server that does not answer holds the open for its whole connect timeout,
    // so the sink is opened, fed and closed off the GUI thread, with a copy of the rows.
    const zb::Status saved =
        BackgroundCall(this, QStringLiteral("Saving the job report"),
                       [target = SystemPath(path), rows = rows_]() -> zb::Status {
                           const auto report = zb::OpenReportSink(target);
                           return report ? (*report)->Append(rows) : zb::Status(report.error());
                       });
    if (!saved) {
        dialogs_.Message(this, MessageKind::Warning,
                         QStringLiteral("The report could not be saved:\n%1")
                             .arg(QString::fromLocal8Bit(saved.reason().c_str())));
        return;
    }
    file_ = path;
    m_summary->setText(Summary(rows_) +
                       QStringLiteral(" Added to %1.").arg(QDir::toNativeSeparators(path)));
}

}  // namespace zb::ui
