// A private port map for the code under test, and virtual modems in it. On Linux the folder is
// the one ZBCONFIG_PORTS names while the object lives, with a lock folder beside it for
// ZBCONFIG_LOCK_DIR, so that tests leave /var/lock alone; the modems are pseudo-terminals of
// the test's own, linked into it (port_map_posix.cpp). On Windows, where COM numbers are the
// system's own, it is an empty scratch folder, and the modem host serves the modems as those
// COM numbers (port_map_win32.cpp).
#pragma once

#include <memory>
#include <string>

#include "modem_bank.h"
#include "scratch_dir.h"
#include "sim/simulator.h"

namespace zbtest {

class PortMap {
public:
    PortMap();
    ~PortMap();
    PortMap(const PortMap&) = delete;
    PortMap& operator=(const PortMap&) = delete;

    const std::string& path() const { return scratch_.path(); }
    std::string lock_dir() const { return path() + "-locks"; }
    // Maps COM `com` to `target` (Linux only).
    void link(int com, const std::string& target) const;
    // Maps COM `com` to a device that does not exist; on Windows it stays unserved.
    void link_missing(int com) const;
    // Modems COM first_com .. first_com+count-1 in this map. A bank that cannot start fails
    // the test and comes back stopped.
    std::unique_ptr<zbsim::Simulator> StartModems(int count, int first_com = 1,
                                                  bool pacing = false) const {
        return zbtest::StartModems(path(), count, first_com, pacing);
    }

private:
    ScratchDir scratch_{"zbports"};
    std::string previous_ports_, previous_locks_;
    bool had_ports_ = false, had_locks_ = false;
};

}  // namespace zbtest
