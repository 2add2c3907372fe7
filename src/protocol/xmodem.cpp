#include "protocol/xmodem.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace zb {

std::uint16_t xm_crc16(const std::uint8_t* data, std::int32_t count) {
    std::uint16_t crc = 0;
    if (data == nullptr) return crc;
    for (std::int32_t i = 0; i < count; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ xm_crc_table[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

void xm_build_block(std::uint8_t number, const std::uint8_t* data, std::size_t data_len,
                    std::uint8_t (&block)[XM_BLOCK_SIZE]) {
    const std::size_t n = std::min(data_len, XM_DATA_SIZE);
    block[0] = XM_SOH;
    block[1] = number;
    block[2] = static_cast<std::uint8_t>(255 - number);
    if (n > 0) std::memcpy(block + 3, data, n);
    std::memset(block + 3 + n, 0x00, XM_DATA_SIZE - n);
    const std::uint16_t crc = xm_crc16(block + 3, static_cast<std::int32_t>(XM_DATA_SIZE));
    block[3 + XM_DATA_SIZE] = static_cast<std::uint8_t>(crc >> 8);
    block[4 + XM_DATA_SIZE] = static_cast<std::uint8_t>(crc & 0xFF);
}

std::int32_t xm_send(ComHandle link, const std::uint8_t* data, std::int32_t count) {
    const std::int32_t r = com_write(link, data, count > 0 ? static_cast<std::uint32_t>(count) : 0);
    return r == 0 ? ST_LOADER : ST_OK;
}

bool xm_sync(ComHandle link) {
    return xm_sync_stoppable(link, {}) == ST_OK;
}

std::int32_t xm_sync_stoppable(ComHandle link, const XmStop& stop) {
    // A 'C' queued before this call (say, before the reset) must not start the transfer.
    const std::int32_t purged = com_purge(link, PURGE_INPUT);
    if (purged != ST_OK) return purged;
    // Each junk byte restarts the read's wait, so only a deadline ends a loader that never
    // sends its 'C'.
    const auto deadline = std::chrono::steady_clock::now() + com_scaled_wait(XM_SYNC_LIMIT_MS);
    for (;;) {
        if (stop && stop()) return XM_STOPPED;
        if (std::chrono::steady_clock::now() >= deadline) return ST_TIMEOUT;
        std::uint8_t byte = 0;
        const std::int32_t r = com_read_long(link, &byte, 1);
        if (r != 1) return r < 0 ? r : ST_IO;
        if (byte == XM_CRC_REQUEST) return ST_OK;
    }
}

std::int32_t xm_wait_ack(ComHandle link, const XmStop& stop) {
    for (;;) {
        if (stop && stop()) return XM_STOPPED;
        std::uint8_t byte = 0;
        if (com_read_long(link, &byte, 1) != 1) return ST_NO_ACK;
        switch (byte) {
            case XM_ACK:
                return XM_ACKED;
            case XM_NAK:
            case XM_CRC_REQUEST:
                return XM_RESEND;
            case XM_CAN:
                return ST_CANCELLED;
            default:
                break;
        }
    }
}

XmResult xm_transfer(ComHandle link, std::FILE* file, std::uint64_t size, const XmHooks& hooks) {
    if (file == nullptr) return XmResult::ReadFailed;
    const XmStop& stop = hooks.should_abort;
    const std::int32_t synced = xm_sync_stoppable(link, stop);
    if (synced == XM_STOPPED) return XmResult::Aborted;
    if (synced != ST_OK) return XmResult::SyncFailed;
    if (hooks.on_synced) hooks.on_synced();

    std::uint8_t number = 1;
    std::uint64_t acked = 0;
    std::uint8_t data[XM_DATA_SIZE];
    std::uint8_t block[XM_BLOCK_SIZE];
    while (acked < size) {
        if (stop && stop()) return XmResult::Aborted;
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(XM_DATA_SIZE, size - acked));
        const std::size_t got = std::fread(data, 1, want, file);
        // A file that shrank after its size was taken would otherwise never reach the size.
        if (got < want) return XmResult::ReadFailed;
        xm_build_block(number, data, got, block);
        for (int asked_again = 0;; ++asked_again) {
            // A loader that NAKs every block would otherwise hold the line for ever.
            if (asked_again == XM_RESEND_LIMIT) return XmResult::NoAnswer;
            if (asked_again > 0 && stop && stop()) return XmResult::Aborted;
            if (xm_send(link, block, XM_BLOCK_SIZE) != ST_OK) return XmResult::SendFailed;
            const std::int32_t answer = xm_wait_ack(link, stop);
            if (answer == XM_ACKED) break;
            if (answer == XM_STOPPED) return XmResult::Aborted;
            if (answer != XM_RESEND) return XmResult::NoAnswer;
        }
        acked += got;
        ++number;
        if (hooks.on_block_acked) hooks.on_block_acked(acked, size);
    }
    const std::uint8_t eot = XM_EOT;
    (void)xm_send(link, &eot, 1);
    // The loader's answer to EOT is not judged: every block is already acknowledged, so a
    // stop during this wait only shortens it.
    (void)xm_wait_ack(link, stop);
    return XmResult::Done;
}

}  // namespace zb
