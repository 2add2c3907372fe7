// Pseudo-terminals standing in for serial adapters, and the port-map links naming them.
#pragma once

#include <string>

namespace zbsim {

struct Pty {
    int master = -1;   // non-blocking; the modem's side of the line
    int slave = -1;    // kept open and never read, so master reads do not fail while no
                       // client has the device open
    std::string path;  // what a client opens
};

// Opens a pseudo-terminal and puts its line into raw mode at 115200 baud before any byte
// can flow. On failure nothing stays open.
bool open_pty(Pty* pty, std::string* error);
void close_pty(Pty* pty);

// mkdir -p.
bool make_dirs(const std::string& dir, std::string* error);
// Points `link` at `target`, replacing an older link of that name in one step. Refuses to
// replace anything that is not a symbolic link.
bool write_link(const std::string& link, const std::string& target, std::string* error);
// Removes `link` if it still points at `target` (someone else may have taken the name).
void remove_link(const std::string& link, const std::string& target);

}  // namespace zbsim
