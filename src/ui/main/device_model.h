// The rows of the main window's device list, as the list view shows them.
//
// A snapshot: Fill copies the texts once, and the rows do not follow later changes of the
// device records until the next Fill. GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>

#include <vector>

#include "ui/main/device_list.h"

namespace zb::ui {

class DeviceListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Replaces the columns (first the "COM No." heading, then one per visible column) and
    // drops the rows.
    void SetHeadings(const QStringList& headings);
    // Replaces the rows; each carries as many cells as there are headings.
    void Fill(std::vector<ListRow> rows);
    // The picture every row shows before its caption.
    void SetRowIcon(const QIcon& icon) { icon_ = icon; }

    QString Caption(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QStringList headings_;
    std::vector<ListRow> rows_;
    QIcon icon_;
};

}  // namespace zb::ui
