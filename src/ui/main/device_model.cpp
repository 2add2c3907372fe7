#include "ui/main/device_model.h"

namespace zb::ui {

void DeviceListModel::SetHeadings(const QStringList& headings) {
    beginResetModel();
    headings_ = headings;
    rows_.clear();
    endResetModel();
}

void DeviceListModel::Fill(std::vector<ListRow> rows) {
    // Row removal and insertion rather than a reset, which would also drop the view's
    // column widths.
    if (!rows_.empty()) {
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(rows_.size()) - 1);
        rows_.clear();
        endRemoveRows();
    }
    if (rows.empty()) return;
    beginInsertRows(QModelIndex(), 0, static_cast<int>(rows.size()) - 1);
    rows_ = std::move(rows);
    endInsertRows();
}

QString DeviceListModel::Caption(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return {};
    const QStringList& cells = rows_[static_cast<std::size_t>(row)].cells;
    return cells.isEmpty() ? QString() : cells.first();
}

int DeviceListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int DeviceListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headings_.size());
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= rows_.size()) return {};
    const QStringList& cells = rows_[static_cast<std::size_t>(index.row())].cells;
    switch (role) {
        case Qt::DisplayRole:
            return index.column() < cells.size() ? cells[index.column()] : QString();
        case Qt::DecorationRole:
            if (index.column() == 0) return icon_;
            return {};
        default:
            return {};
    }
}

QVariant DeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= headings_.size()) return {};
    if (role == Qt::DisplayRole) return headings_[section];
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags DeviceListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace zb::ui
