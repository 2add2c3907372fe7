// Writes zbctl's bash completion script to stdout; run by the build.
#include <cstdio>

#include "cli/bash_completion.h"

int main() {
    const std::string script = zbctl::BashCompletionScript();
    return std::fputs(script.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
}
