// Firmware image check and the upgrade step.
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <memory>

#include "jobs/pause.h"
#include "jobs/steps.h"
#include "protocol/param_commands.h"
#include "protocol/xmodem.h"

namespace zb {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens the image for reading (others may read it at the same time) and takes its size.
// Anything but a regular file counts as not openable: a directory would open and then fail
// every read.
FilePtr OpenImage(const std::string& path, std::uint64_t* size) {
    if (path.empty()) return nullptr;
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return nullptr;
    struct stat st {};
    if (::fstat(::fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    *size = static_cast<std::uint64_t>(st.st_size);
    return file;
}

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

int HexDigit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSpace(std::uint8_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

std::optional<std::uint32_t> ImageType(std::span<const std::uint8_t, kImageHeaderSize> header) {
    // The type is text meant for a "%x" read of four characters: the reading stops quietly
    // at the first character that is not a digit, so "101-" is type 0x101.
    constexpr std::size_t kEnd = 4;
    std::size_t i = 0;
    while (i < kEnd && IsSpace(header[i])) ++i;
    if (i + 1 < kEnd && header[i] == '0' && (header[i + 1] == 'x' || header[i + 1] == 'X')) i += 2;
    std::uint32_t type = 0;
    std::size_t digits = 0;
    for (; i < kEnd; ++i, ++digits) {
        const int d = HexDigit(header[i]);
        if (d < 0) break;
        type = type << 4 | static_cast<std::uint32_t>(d);
    }
    if (digits == 0) return std::nullopt;
    return type;
}

void WordSum::Add(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t byte : bytes) {
        partial_[partial_len_++] = byte;
        if (partial_len_ == 4) {
            sum_ += Le32(partial_);
            partial_len_ = 0;
        }
    }
}

std::uint32_t WordSum::Finish() const {
    if (partial_len_ == 0) return sum_;
    std::uint8_t last[4]{};
    for (std::size_t i = 0; i < partial_len_; ++i) last[i] = partial_[i];
    return sum_ + Le32(last);
}

bool ValidateImage(JobContext& job, DeviceRecord& record, const std::string& path) {
    std::uint64_t size = 0;
    FilePtr file = OpenImage(path, &size);
    if (!file) {
        job.MarkFailed(record);
        job.SetPortMessage(record, "Open file fail");
        return false;
    }
    const auto fail = [&](std::string_view text) {
        job.MarkFailed(record);
        job.SetPortMessage(record, text);
        JobPause();
        return false;
    };
    if (size == 0) return fail("File size is invalid");

    // A file shorter than its header leaves the missing header bytes zero; its size check
    // then fails below.
    std::array<std::uint8_t, kImageHeaderSize> header{};
    (void)std::fread(header.data(), 1, header.size(), file.get());
    if (std::ferror(file.get())) return fail("Read file fail");

    const std::optional<std::uint32_t> image_type = ImageType(header);
    std::int32_t device_type = 0;
    if (dev_get_fw_type(record.link, 0, &device_type) != ST_OK)
        return fail("Divce verification fail");
    if (!image_type || *image_type != static_cast<std::uint32_t>(device_type))
        return fail("Firmware type is invalid");
    if (size < kImageHeaderSize || size - kImageHeaderSize != Le32(header.data() + 8))
        return fail("File size is invalid");

    WordSum sum;
    std::uint8_t chunk[256];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        sum.Add({chunk, got});
        if (got < sizeof chunk) break;
    }
    if (std::ferror(file.get())) return fail("Read file fail");
    if (sum.Finish() != Le32(header.data() + 16)) return fail("Checksum is invalid");
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
    const auto fail = [&](std::string_view text) {
        job.MarkFailed(record);
        job.SetPortMessage(record, text);
        failure_end();
    };

    if (!ValidateImage(job, record, job.FirmwareFile())) return failure_end();
    std::uint64_t size = 0;
    file = OpenImage(job.FirmwareFile(), &size);
    if (!file) return fail("Open file fail");

    // The image check takes a while on a big file; a stop asked for meanwhile leaves the
    // modem in its application.
    if (job.StopRequested()) return fail("User abort");
    // A device already in its loader answers both with the loader's reply (ST_LOADER).
    std::int32_t status = dev_request_upgrade(link, 0);
    if (status != ST_OK && status != ST_LOADER) return fail("Request upgrade fail");
    status = dev_system_reset(link, 0, 0);
    if (status != ST_OK && status != ST_LOADER) return fail("System reset fail");

    job.BarSetMax(record, static_cast<std::uint32_t>(size / XM_DATA_SIZE));
    job.SetPortProgress(record, 0, size);
    job.SetPortMessage(record, "Device synchronizing...");

    XmHooks hooks;
    hooks.on_synced = [&] {
        job.SetJobMode(JobMode::Upgrading);
        job.SetPortMessage(record, "Firmware upgrading...");
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
            job.MarkFailed(record);
            job.SetPortMessage(record, "User abort");
            // The device stays in its loader, waiting for an image.
            record.upgrade_wait = true;
            record.connected = false;
            return failure_end();
    }
}

}  // namespace zb
