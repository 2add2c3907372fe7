// The three steps a port worker may run, and the firmware image check.
//
// Each runs on the worker of the record's port, with the record's link open, and reports
// through the context. They never throw. Step messages (exact texts, shown to operators):
//   read:    "Get device's settings", "Get settings fail"
//   apply:   "Apply device's settings", "Apply settings fail."
//   image:   "Open file fail", "File size is invalid", "Read file fail",
//            "Divce verification fail", "Firmware type is invalid", "Checksum is invalid"
//   upgrade: "Request upgrade fail", "System reset fail", "Device synchronizing...",
//            "Synchronization fail", "Firmware upgrading...", "User abort",
//            "Transmission fail", "Device response fail", "Upgrade successfully"
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "jobs/job_context.h"
#include "jobs/port_table.h"

namespace zb {

// Twenty reads; the record is changed only when all of them succeeded. A failure sets
// job_failed, fills the bar and counts in fail_count. A stop ends it between two reads
// ("User abort").
void ReadSettingsStep(JobContext& job, DeviceRecord& record);

// Sixteen writes, a pause, then a restart of the modem (reset mode 1). A record with a
// value the modem's setters would refuse (UnwritableField) fails before the first write,
// so nothing is written; so does a stop asked for before it ("User abort"). Once begun,
// the writes and the restart run inside the context's write section, which no stop cuts.
// A failure sets job_failed, fills the bar and counts in apply_fail_count. apply_pending
// is left to the caller.
void ApplySettingsStep(JobContext& job, DeviceRecord& record);

// Checks the image at `path` against the device on the record's link. On failure the
// record's job_failed and the port's message are set already. Counts nothing.
bool ValidateImage(JobContext& job, DeviceRecord& record, const std::string& path);

// Validates the job's firmware file, switches the device into its loader and sends the
// whole file. A failure counts in fail_count; an abort ends the transfer at the next block
// boundary with "User abort" and leaves the device waiting in its loader. A stop asked for
// before the switch to the loader sends nothing ("User abort").
void UpgradeStep(JobContext& job, DeviceRecord& record);

// --- Image format ------------------------------------------------------------------------
// A 32-byte header (type as up to four hex characters at 0..3, body length LE at 8..11,
// checksum LE at 16..19), then the body.

inline constexpr std::size_t kImageHeaderSize = 32;

// The firmware type of a header, read from bytes 0..3 only: leading white space skipped, an
// optional "0x" or "0X", then hexadecimal digits up to the first character that is not one
// (a NUL, a blank, anything) or the end of byte 3. std::nullopt when no digit is found.
std::optional<std::uint32_t> ImageType(std::span<const std::uint8_t, kImageHeaderSize> header);

// Running sum of the body's 32-bit little-endian words, modulo 2^32, fed in chunks of any
// size. A body whose length is not a multiple of four has its last one to three bytes
// zero-padded into a final word.
class WordSum {
public:
    void Add(std::span<const std::uint8_t> bytes);
    std::uint32_t Finish() const;

private:
    std::uint32_t sum_ = 0;
    std::uint8_t partial_[4]{};
    std::size_t partial_len_ = 0;
};

}  // namespace zb
