// XMODEM-CRC sender: 128-byte blocks, CRC-16/XMODEM, stop and wait.
//
// The primitives keep no state; transfers on different links run in parallel, one per
// thread. The sender never sends CAN: a failed or stopped transfer simply stops sending.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "protocol/serial_link.h"

namespace zb {

inline constexpr std::uint8_t XM_SOH = 0x01;
inline constexpr std::uint8_t XM_EOT = 0x04;
inline constexpr std::uint8_t XM_ACK = 0x06;
inline constexpr std::uint8_t XM_NAK = 0x15;
inline constexpr std::uint8_t XM_CAN = 0x18;
inline constexpr std::uint8_t XM_CRC_REQUEST = 0x43;  // 'C'

inline constexpr std::size_t XM_DATA_SIZE = 128;
inline constexpr std::size_t XM_BLOCK_SIZE = 133;

// How often the loader may ask for the same block again (NAK or 'C' answers, one after the
// other) before the transfer gives up on it.
inline constexpr int XM_RESEND_LIMIT = 10;
// How long the synchronisation waits for the loader's 'C' in all, however many other bytes
// arrive meanwhile; scaled with the link's bounded waits.
inline constexpr int XM_SYNC_LIMIT_MS = 60000;

// Answers of xm_wait_ack (and XM_STOPPED of xm_sync_stoppable).
inline constexpr std::int32_t XM_ACKED = 1;
inline constexpr std::int32_t XM_RESEND = 2;
inline constexpr std::int32_t XM_STOPPED = 3;  // the caller's stop request ended the wait

// A caller's stop request, asked on the waiting thread; true stops. Empty: never stops.
using XmStop = std::function<bool()>;

namespace detail {
constexpr std::array<std::uint16_t, 256> make_crc_table() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        table[i] = static_cast<std::uint16_t>(crc);
    }
    return table;
}
}  // namespace detail

inline constexpr std::array<std::uint16_t, 256> xm_crc_table = detail::make_crc_table();

// CRC-16/XMODEM of count bytes; 0 for count <= 0.
std::uint16_t xm_crc16(const std::uint8_t* data, std::int32_t count);

// Builds a 133-byte block: SOH, number, complement, the data padded with 0x00, CRC high
// byte first. data_len is at most 128.
void xm_build_block(std::uint8_t number, const std::uint8_t* data, std::size_t data_len,
                    std::uint8_t (&block)[XM_BLOCK_SIZE]);

// Hands the bytes to the port once. ST_LOADER when the write reported zero bytes; any
// other outcome counts as sent (a lost block is caught by xm_wait_ack's time-out).
std::int32_t xm_send(ComHandle link, const std::uint8_t* data, std::int32_t count);

// Purges the input, then waits for the loader's 'C'. Other bytes are dropped and each one
// restarts the 5000 ms wait, up to XM_SYNC_LIMIT_MS in all. false on silence, the limit
// or a read failure.
bool xm_sync(ComHandle link);

// As xm_sync, asking `stop` before every read, so that a loader sending anything but 'C'
// cannot hold the caller: ST_OK for the 'C', XM_STOPPED, or the negative status of the
// purge or read that failed (ST_IO on silence, ST_TIMEOUT once XM_SYNC_LIMIT_MS has passed
// without a 'C'). A stop takes effect with the next byte, or at the latest when the 5000 ms
// wait runs out.
std::int32_t xm_sync_stoppable(ComHandle link, const XmStop& stop);

// XM_ACKED, XM_RESEND (NAK or 'C'), ST_CANCELLED (CAN) or ST_NO_ACK (nothing usable within
// 5000 ms of the last byte). Other bytes are dropped. `stop` is asked before every read;
// XM_STOPPED when it said so.
std::int32_t xm_wait_ack(ComHandle link, const XmStop& stop = {});

// How a transfer ended.
enum class XmResult {
    Done,        // every byte acknowledged, EOT sent
    SyncFailed,  // no 'C' from the loader
    SendFailed,  // a block could not be written
    NoAnswer,    // the loader cancelled a block, did not answer it, or asked for it again
                 // XM_RESEND_LIMIT times in a row
    ReadFailed,  // the file could not be read, or ended before its announced size
    Aborted,     // the caller asked to stop
};

// Progress and abort hooks of a transfer; each may be empty. Called on the sending thread.
struct XmHooks {
    // Asked before each block and each resend, and before every read while waiting for the
    // loader's 'C' or for an acknowledgement: true stops the transfer, also before the
    // resend and synchronisation limits end it.
    XmStop should_abort;
    // After each acknowledged block: bytes acknowledged so far, the announced size.
    std::function<void(std::uint64_t acked, std::uint64_t size)> on_block_acked;
    // Right after synchronisation, before the first block.
    std::function<void()> on_synced;
};

// Sends `size` bytes read from `file` (from its current position): synchronises, then
// blocks 1, 2, ... each resent on NAK or 'C' until the loader has asked for it
// XM_RESEND_LIMIT times in a row (NoAnswer), then EOT and one acknowledgement wait whose
// answer is not judged. A file that delivers fewer bytes than `size` ends the
// transfer with ReadFailed instead of sending zero blocks for ever. Aborted when
// should_abort said stop before the last block was acknowledged; nothing more is sent then
// (no CAN, no EOT).
XmResult xm_transfer(ComHandle link, std::FILE* file, std::uint64_t size, const XmHooks& hooks);

}  // namespace zb
