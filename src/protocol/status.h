// Status codes shared by the whole device-link layer.
//
// Zero is success. The raw reads and writes return a byte count instead, and the block
// transfer's acknowledgement wait returns the positive answers of xmodem.h. Some negative
// codes carry two meanings, depending on the layer that returns them.
#pragma once

#include <cstdint>

namespace zb {

inline constexpr std::int32_t ST_OK = 0;
// Invalid argument: null link or pointer, address outside 0..65535, value out of range,
// unknown command, class not allowed, text too long or too short.
inline constexpr std::int32_t ST_BAD_ARG = -1;
// A byte of a reply line did not arrive within the short wait, or its read failed.
inline constexpr std::int32_t ST_NO_REPLY = -2;
// The modem answers from its firmware loader; for a block transfer, no byte could be written.
inline constexpr std::int32_t ST_LOADER = -3;
// The port could not be opened; for a block transfer, no acknowledgement arrived.
inline constexpr std::int32_t ST_NO_PORT = -4;
inline constexpr std::int32_t ST_NO_ACK = -4;
// The loader cancelled the transfer.
inline constexpr std::int32_t ST_CANCELLED = -6;
// A system call on the port failed; also the long read's time-out.
inline constexpr std::int32_t ST_IO = -7;
// The short read timed out; the long read completed with no data.
inline constexpr std::int32_t ST_TIMEOUT = -11;
// An unusable reply: too long, no '!', refused, empty value, failed connection test.
inline constexpr std::int32_t ST_BAD_REPLY = -97;

}  // namespace zb
