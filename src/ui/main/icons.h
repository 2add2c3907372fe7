// The main window's pictures: small SVGs of our own (icons/), rendered to PNGs at twice
// their size when the library is built and compiled into its resources, so that no SVG
// support is needed where the program runs.
// GUI thread only.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace zb::ui {

// Resource names, under ":/zbui_main/".
inline constexpr const char* kIconListModem = "list_modem.png";  // first picture of the list
inline constexpr const char* kIconAdd = "add.png";
inline constexpr const char* kIconDelete = "delete.png";
inline constexpr const char* kIconRefresh = "refresh.png";
inline constexpr const char* kIconConfig = "config.png";
inline constexpr const char* kIconUpgrade = "upgrade.png";
inline constexpr const char* kIconAbout = "about.png";

// The picture scaled to `size`; a null pixmap when the resource is missing.
QPixmap SvgPixmap(const char* name, QSize size);
QIcon SvgIcon(const char* name, QSize size);

}  // namespace zb::ui
