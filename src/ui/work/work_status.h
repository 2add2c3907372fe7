// The job window's status list: one row per port of the job (caption, File size cell,
// progress bar, latest message, failed mark), the reports that change it, and the pure
// functions that decide how its cells and the window's frame look.
//
// StatusUpdate values are built on any thread; StatusModel and ProgressDelegate belong to
// the GUI thread and change only when the window applies reports that have reached it.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QStyledItemDelegate>

#include <array>
#include <cstdint>
#include <vector>

#include "jobs/engine/job_reporter.h"
#include "jobs/model/port_table.h"
#include "jobs/model/progress_bar.h"
#include "ui/common/com_caption.h"

namespace zb::ui {

enum StatusColumn : int { kColCom = 0, kColFileSize, kColProgress, kColMessages, kColCount };
inline constexpr std::array<int, kColCount> kStatusColumnWidths{65, 100, 75, 150};

// The texts column `column` may have to show whole: its heading, "COM1024", the largest
// File size cell, and every message a job step gives.
QStringList StatusSamples(int column);

// The File size cell during an upgrade: bytes acknowledged / image size.
QString FileSizeText(std::uint64_t done, std::uint64_t total);
// The ports a job over `rows` runs on: every row with a selected record, ascending.
std::vector<std::int32_t> JobComs(const zb::PortTable& rows);

// The Messages cell of a failed port: dark red (128, 0, 0).
QColor FailedTextColour();

// The blocks of a segmented bar drawn into `area` (frame included): filled from the left
// in proportion to position / max. Empty for a bar at 0 or with no range.
QList<QRect> BarSegments(const zb::ProgressBarState& bar, const QRect& area);

struct FrameColours {
    QColor strip_fill;
    QColor strip_outline;
    QColor body_fill;
    QColor body_outline;
};
// The window's frame for the job's mode. Normal: grey (128, 128, 128) title strip, fill and
// outline, and a body in the system button-face colour with a grey outline. Upgrading: red
// (255, 0, 0) strip fill and outline, white body with a red outline.
FrameColours ColoursFor(zb::JobMode mode, const QColor& button_face);

// The top-left corner that centres a window of `size` on `parent`.
QPoint CentredTopLeft(const QRect& parent, const QSize& size);

// One report of a worker on its way to the GUI thread. Texts are formatted by the
// reporting thread, so that applying a report costs the GUI thread an assignment.
struct StatusUpdate {
    enum class Kind : std::uint8_t { Started, Message, Progress, Bar, Failed, Mode, Finished };
    Kind kind = Kind::Message;
    std::int32_t com = 0;
    QString text;  // Message, Progress
    zb::ProgressBarState bar;
    zb::JobMode mode = zb::JobMode::Normal;
    std::vector<std::int32_t> coms;  // Started
};

class StatusModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // New rows "COM<n>", "-", an empty bar, "Preparing...", none failed.
    void Reset(const std::vector<std::int32_t>& coms);
    const std::vector<std::int32_t>& Coms() const { return coms_; }

    // Applies a Message, Progress, Bar or Failed report. Returns the row it changed, or -1
    // (another kind, or a COM number without a row). Emits nothing: see RowsChanged.
    int Apply(const StatusUpdate& update);
    // Tells the view that rows first..last changed.
    void RowsChanged(int first, int last);

    const zb::ProgressBarState& BarAt(int row) const { return rows_[Index(row)].bar; }
    bool FailedAt(int row) const { return rows_[Index(row)].failed; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Row {
        QString size_text;
        QString message;
        zb::ProgressBarState bar;
        bool failed = false;
    };
    static std::size_t Index(int row) { return static_cast<std::size_t>(row); }
    int RowOf(std::int32_t com) const;

    std::vector<std::int32_t> coms_;
    std::vector<Row> rows_;
    std::vector<int> row_of_com_;  // index COM number; -1: no row
};

// Draws each port's bar over its Progress cell; other cells as usual.
class ProgressDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    ProgressDelegate(const StatusModel& model, QObject* parent);
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    const StatusModel& model_;
};

}  // namespace zb::ui
