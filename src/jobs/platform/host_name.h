// The name this PC goes by on the network. One source file per platform (host_name_posix.cpp,
// host_name_win32.cpp). Any thread.
#pragma once

#include <string>

namespace zb {

// The host name; "" when the system gives none.
std::string HostName();

}  // namespace zb
