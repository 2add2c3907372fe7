// Virtual modems on pseudo-terminals.
//
// One Simulator serves N modems, COM first_com .. first_com+N-1, each on its own
// pseudo-terminal whose slave path a client opens exactly as it opens a real adapter. A
// single service thread runs every modem; the public methods may be called from any
// thread while it runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/modem_types.h"

namespace zbsim {

// Parses "KIND[:ARGS]" as zbsim's --fault takes it, for example "refuse:COM3:ZP". On
// success stores the fault and the COM number it names (0 for every modem).
bool parse_fault(const std::string& text, int* com, Fault* fault, std::string* error);
// What --help prints about the fault kinds.
std::string fault_help();

struct SimOptions {
    int count = 1;
    int first_com = 1;
    std::string ports_dir;  // empty: no links written
    bool pacing = true;     // bytes at 115200 baud 8N1, requests handled after their wire time
    std::string log_path;   // empty: no log
    // Keep each modem's latest requests for requests(). Off, nothing reads them and they
    // cost no memory (about 2 MB a modem once the list is full).
    bool record_requests = true;
    // The modems start unplugged: no terminal, no link, until plug().
    bool unplugged = false;
};

class Simulator {
public:
    explicit Simulator(SimOptions options);
    ~Simulator();  // stops the service thread, closes the terminals, removes the links
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the terminals, writes the links and starts the service thread.
    bool start(std::string* error);
    void stop();

    int first_com() const;
    int count() const;
    // The slave device path of COM `com`, or "" when it is not one of ours.
    std::string device_path(int com) const;

    // Faults and settings may be changed while running; they apply to the next request.
    void add_fault(int com, const Fault& fault);  // com 0: every modem
    void clear_faults(int com);
    void set_settings(int com, const ModemSettings& settings);
    void set_mode(int com, ModemMode mode);

    // An adapter plugged in and out while running. unplug() closes the modem's terminal, so
    // that a client holding it open reads and writes nothing more, and removes its links;
    // the modem keeps its settings. plug() opens a new terminal and links it as an adapter
    // is linked: comN leads to by-id/zbsim-COMn in ports_dir, which leads to the terminal,
    // so that the entry's target names the modem whichever terminal it got. Both do nothing
    // for a modem already so, or while stopped; plug() fails only when the terminal or the
    // links cannot be made, and the modem then stays unplugged.
    bool plug(int com, std::string* error);
    void unplug(int com);

    ModemSnapshot snapshot(int com) const;
    // The latest requests the modem received (up to 65536), in printable form ("?GSB00001",
    // control bytes as \xNN), oldest first. Always empty without record_requests.
    std::vector<std::string> requests(int com) const;
    void clear_requests(int com);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zbsim
