// The device list's column catalogue and the two column lists (shown and offered), shared by
// the main window and the column options. Constant data and pure functions.
#pragma once

#include <optional>
#include <span>
#include <vector>

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
// The catalogue widths of "COM No." and of `shown`, added up, as the window's width is
// chosen from them; ids the catalogue lacks add nothing.
int CatalogueWidths(std::span<const int> shown);

struct ColumnLists {
    std::vector<int> visible;  // shown after "COM No.", left to right
    std::vector<int> hidden;   // offered by the column options
};
// Catalogue rows 2..18 in order, split by their default.
ColumnLists DefaultColumnLists();

}  // namespace zb::ui
