// Where the main window goes and how wide it is, at start and after a change of columns.
// Plain functions of rectangles in the terms of QWidget::geometry(), so `area` is the
// screen's free area less the window's frame.
#pragma once

#include <QRect>

namespace zb::ui {

// The window's width at start, and its least width after a change of columns.
inline constexpr int kWindowWidth = 770;

// After a change of columns: `columns` is the sum of the columns' catalogue widths, `list` the
// width the list needs to show them whole as drawn (with its frame and scroll bar). The window is
// kWindowWidth wide while the columns are narrower than that, else their width plus a margin, and
// never narrower than the list. It keeps its place and height, but moves left to stay inside
// `area`, and is no wider than `area`.
QRect ColumnsWindowRect(int columns, int list, const QRect& window, const QRect& area);

// At start: `window` widened to `list` (no wider than `area`), centred in `area`.
QRect StartWindowRect(int list, const QRect& window, const QRect& area);

}  // namespace zb::ui
