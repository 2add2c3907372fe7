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

#include <string>
#include <string_view>

#include "jobs/engine/firmware_image.h"
#include "jobs/engine/job_context.h"
#include "jobs/model/port_table.h"

namespace zb {

// The message each step begins with, which says where a port's job has got: the link's open
// and connection check, the read, the apply, the loader's synchronisation and the transfer.
inline constexpr std::string_view kOpeningMessage = "Inital serial port";
inline constexpr std::string_view kReadingMessage = "Get device's settings";
inline constexpr std::string_view kApplyingMessage = "Apply device's settings";
inline constexpr std::string_view kSynchronizingMessage = "Device synchronizing...";
inline constexpr std::string_view kUpgradingMessage = "Firmware upgrading...";

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

// Checks the image at `path` against the device on the record's link, whose type it leaves
// in record.fw_type. On failure the record's job_failed and the port's message are set
// already. Counts nothing.
bool ValidateImage(JobContext& job, DeviceRecord& record, const std::string& path);

// Validates the job's firmware file, switches the device into its loader and sends the
// whole file. A failure counts in fail_count; an abort ends the transfer at the next block
// boundary with "User abort" and leaves the device waiting in its loader. A stop asked for
// before the switch to the loader sends nothing ("User abort").
void UpgradeStep(JobContext& job, DeviceRecord& record);

}  // namespace zb
