#include "ui/main/window_geometry.h"

#include <algorithm>

namespace zb::ui {
namespace {

// Past kWindowWidth the window is the columns' width plus this.
constexpr int kWidthBesideColumns = 150;

// An empty area (no screen) leaves the window where it is.
QRect KeptInside(QRect window, const QRect& area) {
    if (!area.isValid()) return window;
    if (window.right() > area.right()) window.moveRight(area.right());
    if (window.left() < area.left()) window.moveLeft(area.left());
    if (window.right() > area.right()) window.setRight(area.right());
    return window;
}

}  // namespace

QRect ColumnsWindowRect(int columns, int list, const QRect& window, const QRect& area) {
    const int rule = columns < kWindowWidth ? kWindowWidth : columns + kWidthBesideColumns;
    QRect rect = window;
    rect.setWidth(std::max(rule, list));
    return KeptInside(rect, area);
}

QRect StartWindowRect(int list, const QRect& window, const QRect& area) {
    QRect rect = window;
    rect.setWidth(std::max(window.width(), list));
    if (!area.isValid()) return rect;
    rect.setWidth(std::min(rect.width(), area.width()));
    rect.moveCenter(area.center());
    return rect;
}

}  // namespace zb::ui
