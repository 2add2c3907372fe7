// The device list's logic without widgets: the cell and status texts, the "COM<n>" row captions,
// and the marks that the commands set in the port table around a job.
//
// Plain functions of their arguments, for the GUI thread while no job runs. The mark
// functions take each row's port_lock around the flags it guards; the text functions read
// records without it (the workers that write records run only inside a job).
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "jobs/model/port_table.h"
#include "ui/common/column_catalogue.h"
#include "ui/common/com_caption.h"

namespace zb::ui {

// The text of column `id` for a device; "-" when there is no record, when the device is not
// connected, waits in its loader or failed its last step, and for an unknown id. An index
// outside its value table shows as "?".
QString CellText(const zb::DeviceRecord* device, int id);

// The texts a column may have to show whole: its heading and every text its cells can take,
// except free texts (names, versions), which the column's own width serves.
QStringList ColumnSamples(int id);

// " <n> device(s) selected".
QString StatusText(int selected_rows);

// The port number read from a caption as "COM%d" reads it: "COM", optional blanks and
// sign, then decimal digits (anything after them is ignored). std::nullopt without digits
// or outside the 32-bit range.
std::optional<std::int32_t> ComOfCaption(const QString& caption);

// One list row: the caption and then one cell per visible column.
struct ListRow {
    std::int32_t com = 0;
    QStringList cells;
};
// The rows FillDeviceList shows: every port-table row in state 1 with a record, ascending.
std::vector<ListRow> BuildListRows(const zb::PortTable& rows, std::span<const int> visible);

// MarkPorts over the whole table. Mark: every row with a record gets `selected`. Clear:
// every row whose record is selected loses `selected` and `is_open`, and its link is closed.
void MarkAllPorts(zb::PortTable& rows, bool mark);
// MarkPorts over the given ports (list order), and MarkUpgrade. Numbers outside the table
// and rows without a record are skipped.
void MarkListedPorts(zb::PortTable& rows, std::span<const std::int32_t> coms, bool mark);
void MarkUpgradeOf(zb::PortTable& rows, std::span<const std::int32_t> coms, bool on);

// The ports ReportUpgradeAgain warns about: records both selected and waiting in their
// loader, ascending, and the text of each warning.
std::vector<std::int32_t> UpgradeAgainPorts(const zb::PortTable& rows);
QString UpgradeAgainText(std::int32_t com);

}  // namespace zb::ui
