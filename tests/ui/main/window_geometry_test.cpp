// The main window's rectangle after a change of columns and at start, without widgets.
#include <gtest/gtest.h>

#include "ui/main/window_geometry.h"

TEST(WindowGeometryTest, ColumnsSizeTheWindowInsideTheScreen) {
    struct Row {
        int area_left, columns, list, x, want_x, want_width;
    } const rows[] = {{0, 600, 620, 255, 255, 770},  {0, 725, 791, 255, 255, 791},
                      {0, 800, 820, 255, 255, 950},  {0, 1000, 1020, 254, 130, 1150},
                      {0, 1134, 1154, 254, 0, 1280}, {200, 1134, 1154, 254, 200, 1080}};
    for (const Row& r : rows) {
        const QRect area(r.area_left, 0, 1280 - r.area_left, 984);
        EXPECT_EQ(zb::ui::ColumnsWindowRect(r.columns, r.list, QRect(r.x, 100, 800, 420), area),
                  QRect(r.want_x, 100, r.want_width, 420))
            << r.columns;
    }
    // Centred after widening, and no wider than the screen.
    const QRect start(0, 0, 770, 420);
    EXPECT_EQ(zb::ui::StartWindowRect(790, start, QRect(0, 0, 800, 600)), QRect(5, 90, 790, 420));
    EXPECT_EQ(zb::ui::StartWindowRect(900, start, QRect(0, 0, 800, 600)), QRect(0, 90, 800, 420));
}
