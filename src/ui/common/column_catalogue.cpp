#include "ui/common/column_catalogue.h"

#include <array>

namespace zb::ui {
namespace {

constexpr std::array<ColumnDef, 18> kCatalogue{{
    {kColComNo, 70, true},
    {kColBaud, 70, false},
    {kColParity, 50, false},
    {kColDatabit, 60, false},
    {kColStopbit, 60, false},
    {kColInterface, 80, false},
    {kColDevname, 90, true},
    {kColDevtype, 90, true},
    {kColTopology, 70, true},
    {kColMode, 90, true},
    {kColPanid, 60, true},
    {kColParentAddr, 80, false},
    {kColShortAddr, 80, false},
    {kColLocalNode, 85, true},
    {kColChannel, 60, true},
    {kColOutpower, 80, false},
    {kColSecurity, 70, false},
    {kColFwVersion, 110, true},
}};

}  // namespace

std::span<const ColumnDef> ColumnCatalogue() {
    return kCatalogue;
}

std::optional<int> CatalogueWidth(int id) {
    for (const ColumnDef& c : kCatalogue)
        if (c.id == id) return c.width;
    return std::nullopt;
}

int CatalogueWidths(std::span<const int> shown) {
    int sum = CatalogueWidth(kColComNo).value_or(0);
    for (int id : shown) sum += CatalogueWidth(id).value_or(0);
    return sum;
}

ColumnLists DefaultColumnLists() {
    ColumnLists lists;
    for (const ColumnDef& c : ColumnCatalogue().subspan(1))
        (c.shown_by_default ? lists.visible : lists.hidden).push_back(c.id);
    return lists;
}

}  // namespace zb::ui
