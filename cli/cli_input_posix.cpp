#include <sys/stat.h>

#include "cli/cli_input.h"

namespace zbctl {

bool KeyFileIsShared(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

}  // namespace zbctl
