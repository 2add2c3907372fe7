#include "jobs/platform/host_name.h"

#include <unistd.h>

namespace zb {

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

}  // namespace zb
