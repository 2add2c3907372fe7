// The device list's logic without widgets: the column catalogue and the two column lists,
// the cell and status texts, the "COM<n>" row captions, and the marks that the commands set
// in the port table around a job.
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

#include "com_caption.h"
#include "port_table.h"

namespace zb::ui {

// String ids of the column headings; the id is also the column's identity.
inline constexpr int kColComNo = 614;
inline constexpr int kColBaud = 615;
inline constexpr int kColParity = 616;
inline constexpr int kColDatabit = 617;
inline constexpr int kColStopbit = 618;
inline constexpr int kColInterface = 620;
inline constexpr int kColDevname = 621;
inline constexpr int kColDevtype = 622;
inline constexpr int kColTopology = 623;
inline constexpr int kColMode = 624;
inline constexpr int kColPanid = 625;
inline constexpr int kColParentAddr = 626;
inline constexpr int kColShortAddr = 627;
inline constexpr int kColLocalNode = 628;
inline constexpr int kColChannel = 629;
inline constexpr int kColOutpower = 630;
inline constexpr int kColSecurity = 631;
inline constexpr int kColFwVersion = 632;

struct ColumnDef {
    int id;
    int width;  // pixels
    bool shown_by_default;
};

// The 18 columns in their fixed order. The first, "COM No.", always leads the list and
// belongs to neither column list.
std::span<const ColumnDef> ColumnCatalogue();
// The catalogue width of `id`; std::nullopt for an id the catalogue lacks.
std::optional<int> CatalogueWidth(int id);

struct ColumnLists {
    std::vector<int> visible;  // shown after "COM No.", left to right
    std::vector<int> hidden;   // offered by the column options
};
// Catalogue rows 2..18 in order, split by their default.
ColumnLists DefaultColumnLists();

// The text of column `id` for a device; "-" when there is no record, when the device is not
// connected, waits in its loader or failed its last step, and for an unknown id. An index
// outside its value table shows as "?".
QString CellText(const zb::DeviceRecord* device, int id);

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
