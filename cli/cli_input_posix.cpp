#include <sys/stat.h>

#include "cli/cli_args.h"
#include "cli/cli_input.h"

namespace zbctl {

bool KeyFileIsShared(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

const PlatformHelp& ThisPlatformHelp() {
    static const PlatformHelp help{
        .usage_ports_dir = "[--ports-dir DIR] ",
        .ports_line =
            "  ports [--scan]                        list the COM numbers of the port map; with\n"
            "                                        --scan, list the machine's serial ports and\n"
            "                                        give those the map lacks the lowest free\n"
            "                                        numbers\n",
        .ports_dir_option =
            "  --ports-dir DIR   the port-map directory (default $ZBCONFIG_PORTS, then\n"
            "                    ~/.config/zbconfig/ports): COMn is its entry \"comN\"\n",
        .ports_dir_word = "--ports-dir DIR, ",
        .ports_usage =
            "List the COM numbers of the port map. With --scan, list the machine's serial ports\n"
            "and give those the map lacks the lowest free numbers.\n",
        .image_hint = "An image for the virtual modems: zbsim --make-image fw.rom\n",
    };
    return help;
}

}  // namespace zbctl
