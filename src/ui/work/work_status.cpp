#include "ui/work/work_status.h"

#include <QPainter>

#include <algorithm>

#include "ui/common/string_table.h"

namespace zb::ui {
namespace {

// Every message a port's row can show, from the engine and the three steps.
constexpr const char* kJobMessages[] = {
    "Inital serial port",       "Open port fail",           "Connection fail",
    "Waiting upgrade firmware", "Worker start fail",        "Get device's settings",
    "Get settings fail",        "Apply device's settings",  "Apply settings fail.",
    "Open file fail",           "File size is invalid",     "Read file fail",
    "Divce verification fail",  "Firmware type is invalid", "Checksum is invalid",
    "Request upgrade fail",     "System reset fail",        "Device synchronizing...",
    "Synchronization fail",     "Firmware upgrading...",    "User abort",
    "Transmission fail",        "Device response fail",     "Upgrade successfully"};

// Firmware images of this device family stay well below this size.
constexpr std::uint64_t kLargestImage = 16u << 20;

}  // namespace

QStringList StatusSamples(int column) {
    QStringList samples{LoadStr(IDS_COL_WORK_COM + column)};
    switch (column) {
        case kColCom:
            samples.append(ComCaption(static_cast<std::int32_t>(zb::kPortTableSize)));
            break;
        case kColFileSize:
            samples.append(FileSizeText(kLargestImage, kLargestImage));
            break;
        case kColMessages:
            samples.append(LoadStr(IDS_PREPARING));
            for (const char* message : kJobMessages) samples.append(QString::fromLatin1(message));
            break;
        default:
            break;
    }
    return samples;
}

QString FileSizeText(std::uint64_t done, std::uint64_t total) {
    return QString::number(done) + QStringLiteral(" / ") + QString::number(total);
}

std::vector<std::int32_t> JobComs(const zb::PortTable& rows) {
    std::vector<std::int32_t> coms;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].device && rows[i].device->selected)
            coms.push_back(static_cast<std::int32_t>(i + 1));
    return coms;
}

QColor FailedTextColour() {
    return QColor(128, 0, 0);
}

QList<QRect> BarSegments(const zb::ProgressBarState& bar, const QRect& area) {
    QList<QRect> segments;
    const QRect inner = area.adjusted(2, 2, -2, -2);
    if (bar.max == 0 || bar.position == 0 || inner.width() <= 0 || inner.height() <= 0)
        return segments;
    const std::uint32_t position = std::min(bar.position, bar.max);
    const int filled =
        static_cast<int>(static_cast<std::uint64_t>(inner.width()) * position / bar.max);
    const int block = std::max(2, inner.height() * 2 / 3);
    constexpr int kGap = 2;
    for (int x = 0; x < filled; x += block + kGap)
        segments.append(
            QRect(inner.left() + x, inner.top(), std::min(block, filled - x), inner.height()));
    return segments;
}

FrameColours ColoursFor(zb::JobMode mode, const QColor& button_face) {
    const QColor grey(128, 128, 128);
    const QColor red(255, 0, 0);
    if (mode == zb::JobMode::Upgrading) return {red, red, QColor(Qt::white), red};
    return {grey, grey, button_face, grey};
}

QPoint CentredTopLeft(const QRect& parent, const QSize& size) {
    return {parent.left() + (parent.width() - size.width()) / 2,
            parent.top() + (parent.height() - size.height()) / 2};
}

void StatusModel::Reset(const std::vector<std::int32_t>& coms) {
    beginResetModel();
    coms_ = coms;
    rows_.assign(coms.size(), Row{QStringLiteral("-"), LoadStr(IDS_PREPARING), {}, false});
    row_of_com_.assign(zb::kPortTableSize + 1, -1);
    for (std::size_t i = 0; i < coms.size(); ++i) {
        const std::int32_t com = coms[i];
        if (com >= 1 && static_cast<std::size_t>(com) <= zb::kPortTableSize)
            row_of_com_[static_cast<std::size_t>(com)] = static_cast<int>(i);
    }
    endResetModel();
}

int StatusModel::RowOf(std::int32_t com) const {
    if (com < 1 || static_cast<std::size_t>(com) >= row_of_com_.size()) return -1;
    return row_of_com_[static_cast<std::size_t>(com)];
}

int StatusModel::Apply(const StatusUpdate& update) {
    using Kind = StatusUpdate::Kind;
    if (update.kind != Kind::Message && update.kind != Kind::Progress && update.kind != Kind::Bar &&
        update.kind != Kind::Failed)
        return -1;
    const int row = RowOf(update.com);
    if (row < 0) return -1;
    Row& r = rows_[Index(row)];
    switch (update.kind) {
        case Kind::Message:
            r.message = update.text;
            break;
        case Kind::Progress:
            r.size_text = update.text;
            break;
        case Kind::Bar:
            r.bar = update.bar;
            break;
        case Kind::Failed:
            r.failed = true;
            break;
        default:
            break;
    }
    return row;
}

void StatusModel::RowsChanged(int first, int last) {
    if (first > last || first < 0 || last >= rowCount()) return;
    Q_EMIT dataChanged(index(first, kColFileSize), index(last, kColMessages));
}

int StatusModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int StatusModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColCount;
}

QVariant StatusModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& r = rows_[Index(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case kColCom:
                    return ComCaption(coms_[Index(index.row())]);
                case kColFileSize:
                    return r.size_text;
                case kColMessages:
                    return r.message;
                default:
                    return QString();
            }
        case Qt::TextAlignmentRole:
            if (index.column() == kColFileSize)
                return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        case Qt::ForegroundRole:
            if (index.column() == kColMessages && r.failed) return FailedTextColour();
            return {};
        default:
            return {};
    }
}

QVariant StatusModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColCount) return {};
    if (role == Qt::DisplayRole) return LoadStr(IDS_COL_WORK_COM + section);
    if (role == Qt::TextAlignmentRole) {
        if (section == kColFileSize)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    return {};
}

Qt::ItemFlags StatusModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

ProgressDelegate::ProgressDelegate(const StatusModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    if (index.column() != kColProgress || index.row() >= model_.rowCount()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The bar covers the cell but for the row's last pixel line.
    const QRect area = option.rect.adjusted(0, 0, 0, -1);
    if (area.width() < 4 || area.height() < 4) return;
    painter->save();
    painter->fillRect(area, option.palette.base());
    painter->setPen(QColor(128, 128, 128));
    painter->drawRect(area.adjusted(0, 0, -1, -1));
    const QBrush fill = option.palette.highlight();
    for (const QRect& segment : BarSegments(model_.BarAt(index.row()), area))
        painter->fillRect(segment, fill);
    painter->restore();
}

}  // namespace zb::ui
