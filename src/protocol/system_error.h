// The system's own words for why a call failed, for messages that say why in the system's
// terms: "Permission denied" for an errno value on POSIX, "Access is denied." for a
// GetLastError() code on Windows. One source file per platform (system_error_posix.cpp,
// system_error_win32.cpp). Safe from any thread.
#pragma once

#include <string>

namespace zb {

// The text of `code` (errno on POSIX, GetLastError() on Windows), without a line end;
// "system error <code>" when the system has none.
std::string system_error_text(unsigned long code);

}  // namespace zb
