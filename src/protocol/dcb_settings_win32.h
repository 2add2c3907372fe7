// Pure construction of a Windows device control block, so that it can be checked without a
// port. Built on Windows only.
#pragma once

// Before <windows.h>: it defines the PURGE_* names as macros (with the same values), which
// would otherwise clash with the link's constants.
#include "protocol/serial_link.h"

#include <windows.h>

#include <cstdint>

namespace zb {

// The port's current block `base` changed to the given line: baud rate and data bits passed
// on unchanged, parity the low byte of the code (0 none, 1 odd, 2 even, 3 mark, 4 space) with
// parity checking when it is not none, two stop bits when `two_stop` is non-zero, flow 1
// RTS/CTS or 2 XON/XOFF (else none). DTR is raised, and RTS too unless it does the handshake.
// The line is binary: nothing the port reported may drop, replace or hold back bytes (null
// stripping, the error character, DSR gating, abort on error). The XON/XOFF limits and
// characters and the end-of-file and event characters stay as reported.
DCB make_dcb(const DCB& base, std::uint32_t baud, std::uint32_t parity, std::uint8_t databits,
             std::uint8_t two_stop, std::uint32_t flow);

}  // namespace zb
