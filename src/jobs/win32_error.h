// The system's words for a Windows error code (GetLastError), for messages that say why in
// the system's terms. Windows builds only.
#pragma once

#include <string>

namespace zb {

// "Access is denied", without the trailing full stop and line end; "error <code>" when the
// system has no text for it.
std::string Win32ErrorText(unsigned long code);

}  // namespace zb
