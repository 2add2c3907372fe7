// The main window's pictures: small SVGs of our own, compiled into the library's resources.
// GUI thread only.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace zb::ui {

// Resource names, under ":/zbui_main/".
inline constexpr const char* kIconListModem = "list_modem.svg";  // first picture of the list
inline constexpr const char* kIconAdd = "add.svg";
inline constexpr const char* kIconDelete = "delete.svg";
inline constexpr const char* kIconRefresh = "refresh.svg";
inline constexpr const char* kIconConfig = "config.svg";
inline constexpr const char* kIconUpgrade = "upgrade.svg";
inline constexpr const char* kIconAbout = "about.svg";

// The picture rendered at `size`; a null pixmap when the resource is missing.
QPixmap SvgPixmap(const char* name, QSize size);
QIcon SvgIcon(const char* name, QSize size);

}  // namespace zb::ui
