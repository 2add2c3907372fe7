// Pure construction of POSIX line settings, so that they can be checked without a port.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>

namespace zb {

// The port's current settings `base` changed to a raw line with the given parameters
// (parity 0 none, 1 odd, 2 even, 3 mark, 4 space, low byte used; flow 1 RTS/CTS, 2
// XON/XOFF, else none). std::nullopt when a value has no POSIX equivalent: a baud rate
// without a standard speed constant, data bits outside 5..8, a parity code above 4.
std::optional<termios> make_termios(const termios& base, std::uint32_t baud, std::uint32_t parity,
                                    std::uint8_t databits, std::uint8_t two_stop,
                                    std::uint32_t flow);

// The speed constant for a baud rate, or std::nullopt.
std::optional<speed_t> baud_to_speed(std::uint32_t baud);

}  // namespace zb
