// Firmware image check and the upgrade step.
#include <cstdio>

#include "jobs/engine/pause.h"
#include "jobs/engine/steps.h"
#include "protocol/param_commands.h"
#include "protocol/xmodem.h"

namespace zb {

bool ValidateImage(JobContext& job, DeviceRecord& record, const std::string& path) {
    const ImageFile image = InspectImage(path);
    if (!image.opened) {
        job.MarkFailed(record, FailureKind::StepFailed);
        job.SetPortMessage(record, "Open file fail");
        return false;
    }
    const auto fail = [&](std::string_view text, FailureKind kind = FailureKind::StepFailed) {
        job.MarkFailed(record, kind);
        job.SetPortMessage(record, text);
        JobPause();
        return false;
    };
    if (image.size == 0) return fail("File size is invalid");
    if (!image.header_read) return fail("Read file fail");

    std::int32_t device_type = 0;
    if (dev_get_fw_type(record.link, 0, &device_type) != ST_OK)
        return fail("Divce verification fail");
    record.fw_type = static_cast<std::uint32_t>(device_type);
    if (!image.type || *image.type != record.fw_type)
        return fail("Firmware type is invalid", FailureKind::FirmwareType);
    if (!image.size_ok) return fail("File size is invalid");
    if (!image.body_read) return fail("Read file fail");
    if (!image.checksum_ok) return fail("Checksum is invalid");
    return true;
}

void UpgradeStep(JobContext& job, DeviceRecord& record) {
    const ComHandle link = record.link;
    FilePtr file;
    const auto failure_end = [&] {
        file.reset();
        job.CountFail();
        job.BarFill(record);
        JobPause();
    };
    const auto fail = [&](std::string_view text, FailureKind kind = FailureKind::StepFailed) {
        job.MarkFailed(record, kind);
        job.SetPortMessage(record, text);
        failure_end();
    };

    if (!ValidateImage(job, record, job.FirmwareFile())) return failure_end();
    std::uint64_t size = 0;
    file = OpenImage(job.FirmwareFile(), &size);
    if (!file) return fail("Open file fail");

    // The image check takes a while on a big file; a stop asked for meanwhile leaves the
    // modem in its application.
    if (job.StopRequested()) return fail("User abort", FailureKind::UserAbort);
    // A device already in its loader answers both with the loader's reply (ST_LOADER).
    std::int32_t status = dev_request_upgrade(link, 0);
    if (status != ST_OK && status != ST_LOADER) return fail("Request upgrade fail");
    status = dev_system_reset(link, 0, 0);
    if (status != ST_OK && status != ST_LOADER) return fail("System reset fail");

    job.BarSetMax(record, static_cast<std::uint32_t>(size / XM_DATA_SIZE));
    job.SetPortProgress(record, 0, size);
    job.SetPortMessage(record, kSynchronizingMessage);

    XmHooks hooks;
    hooks.on_synced = [&] {
        job.SetJobMode(JobMode::Upgrading);
        job.SetPortMessage(record, kUpgradingMessage);
    };
    // Asked before every block, resend and read of the transfer's waits, so that the window's
    // X and zbctl's Ctrl-C also stop a loader that NAKs every block or never sends its 'C'.
    hooks.should_abort = [&] { return job.AbortRequested(); };
    hooks.on_block_acked = [&](std::uint64_t acked, std::uint64_t total) {
        job.BarStep(record);
        job.SetPortProgress(record, acked, total);
    };

    switch (xm_transfer(link, file.get(), size, hooks)) {
        case XmResult::Done:
            record.upgrade_wait = false;
            job.SetPortMessage(record, "Upgrade successfully");
            JobPause();
            return;
        case XmResult::SyncFailed:
            return fail("Synchronization fail");
        case XmResult::SendFailed:
            return fail("Transmission fail");
        case XmResult::NoAnswer:
            return fail("Device response fail");
        // Also a file that shrank during the transfer: it ends here instead of looping.
        case XmResult::ReadFailed:
            return fail("Read file fail");
        // Also a stop while synchronising: the reset has already put the device in its loader.
        case XmResult::Aborted:
            job.MarkFailed(record, FailureKind::UserAbort);
            job.SetPortMessage(record, "User abort");
            // The device stays in its loader, waiting for an image.
            record.upgrade_wait = true;
            record.connected = false;
            return failure_end();
    }
}

}  // namespace zb
