// What keeps one user's running copy of the program apart from another's: the last part of
// the single-instance name (single_instance.h). On POSIX systems the user id; on Windows,
// whose local socket names are pipe names shared by every session, the session number and
// the user's SID.
// Any thread.
#pragma once

#include <QString>

namespace zb::ui {

QString InstanceScope();

}  // namespace zb::ui
