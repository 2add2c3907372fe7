// Paths between the window, the user and the rest of the program. Qt keeps paths with '/';
// the user sees them, and the job engine gets them, in the system's own form, so that a path
// in a message reads as the user would type it.
#pragma once

#include <QString>

#include <string>

namespace zb::ui {

// The path in the system's form and its local encoding, for the job engine and the
// configuration files.
std::string SystemPath(const QString& path);

// Where a file chooser with nothing remembered starts: `current` when a file can be made
// there, else `documents`. A folder whose permissions only look writable (Program Files on
// Windows, which passes the plain permission check) counts as read-only.
QString ChooserStartFolder(const QString& current, const QString& documents);
// The same for the current folder and the user's documents folder (the home folder when
// there is none).
QString ChooserStartFolder();

}  // namespace zb::ui
