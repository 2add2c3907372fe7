#include "cli/cli_args.h"
#include "cli/cli_input.h"

namespace zbctl {

// A file's access list is mostly inherited from its folder, and a user's profile folder
// keeps other users out; mode bits as POSIX has them say nothing here.
bool KeyFileIsShared(const std::string&) {
    return false;
}

// Windows numbers its COM ports itself, so there is no port map to name or scan into, and
// the virtual modems are not shipped for it.
const PlatformHelp& ThisPlatformHelp() {
    static const PlatformHelp help{
        .usage_ports_dir = "",
        .ports_line =
            "  ports [--scan]                        list the serial ports Windows knows (the\n"
            "                                        registry's serial device map); --scan\n"
            "                                        adds none\n",
        .ports_dir_option = "",
        .ports_dir_word = "",
        .ports_usage =
            "List the serial ports Windows knows: the COM numbers of the registry's serial\n"
            "device map. Windows numbers its ports itself, so --scan adds none.\n",
        .image_hint = "Use an image from the modem's maker.\n",
    };
    return help;
}

}  // namespace zbctl
