// A real serial link for the fuzz targets: the slave side of a pseudo-terminal, opened
// through the port map and com_open exactly as a USB adapter would be, with the master side
// kept here to play the modem.
//
// One per process, made on first use and kept until exit. Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/serial_link.h"

namespace zbfuzz {

class PtyLink {
public:
    // Aborts the process when the pty or the link cannot be set up: every later result
    // would be meaningless.
    static PtyLink& Get();

    zb::ComHandle link() const { return link_; }

    // Starts an input afresh: empties the link's input and drops what the code under test
    // wrote so far.
    void Reset();
    // Queues bytes for the code under test to read, as the modem would send them.
    void Send(std::span<const std::uint8_t> bytes);

private:
    PtyLink();
    void Drain();

    int master_ = -1;
    zb::ComHandle link_;
};

}  // namespace zbfuzz
