// The firmware image check: the type in the header, the body's word sum, and the whole
// check of a file against a device that answers over a real pseudo-terminal.
//
// Input: a flags byte, the device's firmware type (two bytes, little-endian), then the file.
// Flag bits: 0 corrects the header's body length, 1 corrects its checksum, 2 makes the
// device report the image's own type, 3 makes the device refuse the type request; bits 4
// to 7 choose how the body is cut into chunks for the word sum.
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jobs/engine/job_context.h"
#include "jobs/engine/pause.h"
#include "jobs/engine/steps.h"
#include "support/pty_link.h"
#include "support/scratch_file.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

std::uint32_t Le32(const std::uint8_t* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Bytes 0..3 as text: white space, an optional 0x, then hexadecimal digits to the first
// other character.
std::optional<std::uint32_t> ExpectedType(std::span<const std::uint8_t> header) {
    const std::string text(header.begin(), header.begin() + 4);
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    std::uint32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), v, 16);
    if (ec != std::errc() || end == text.data() + i) return std::nullopt;
    return v;
}

std::uint32_t ExpectedSum(std::span<const std::uint8_t> body) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < body.size(); i += 4) {
        std::uint8_t word[4]{};
        std::memcpy(word, body.data() + i, std::min<std::size_t>(4, body.size() - i));
        sum += Le32(word);
    }
    return sum;
}

class Recorder : public zb::NullJobReporter {
public:
    void SetPortMessage(std::int32_t, std::string_view text) override { message.assign(text); }
    void SetPortFailed(std::int32_t) override { failed = true; }
    std::string message;
    bool failed = false;
};

const zbfuzz::ScratchFile& Image() {
    static const zbfuzz::ScratchFile file("zbfuzz-image");
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::uint8_t flags = data[0];
    std::uint32_t device_type = data[1] | static_cast<std::uint32_t>(data[2]) << 8;
    std::vector<std::uint8_t> file(data + 3, data + size);
    if (file.size() >= zb::kImageHeaderSize) {
        if (flags & 1) PutLe32(file.data() + 8, static_cast<std::uint32_t>(file.size() - 32));
        if (flags & 2) PutLe32(file.data() + 16, ExpectedSum({file.data() + 32, file.size() - 32}));
    }

    // The header as the check sees it: a short file's missing bytes are zero.
    std::array<std::uint8_t, zb::kImageHeaderSize> header{};
    std::copy_n(file.begin(), std::min(file.size(), header.size()), header.begin());
    const std::optional<std::uint32_t> type = zb::ImageType(header);
    if (type != ExpectedType(header)) Fail("ImageType disagrees with the header's text");
    if (type && *type > 0xFFFF) Fail("ImageType read more than four digits");
    std::array<std::uint8_t, zb::kImageHeaderSize> other = header;
    for (std::size_t i = 4; i < other.size(); ++i) other[i] = static_cast<std::uint8_t>(~other[i]);
    if (zb::ImageType(other) != type) Fail("ImageType looked beyond byte 3");

    const std::span<const std::uint8_t> body =
        file.size() > zb::kImageHeaderSize
            ? std::span<const std::uint8_t>(file).subspan(zb::kImageHeaderSize)
            : std::span<const std::uint8_t>();
    zb::WordSum whole;
    whole.Add(body);
    zb::WordSum pieces;
    const std::size_t step = 1 + (flags >> 4);
    for (std::size_t at = 0; at < body.size(); at += step)
        pieces.Add(body.subspan(at, std::min(step, body.size() - at)));
    pieces.Add({});
    if (whole.Finish() != ExpectedSum(body) || pieces.Finish() != whole.Finish())
        Fail("WordSum differs from the sum of the body's words");

    // The whole check against a device on the link.
    if ((flags & 4) && type) device_type = *type;
    const bool refuses = (flags & 8) != 0;
    zbfuzz::PtyLink& pty = zbfuzz::PtyLink::Get();
    pty.Reset();
    Image().Write({reinterpret_cast<const char*>(file.data()), file.size()});
    if (!file.empty()) {
        char reply[40];
        std::snprintf(reply, sizeof reply, "!VDS%c0000%08x%04x\n", refuses ? '1' : '0', 0u,
                      device_type);
        pty.Send({reinterpret_cast<const std::uint8_t*>(reply), std::strlen(reply)});
    }

    // An empty file fails on its size before the device is asked.
    const bool size_matches = file.size() >= zb::kImageHeaderSize &&
                              file.size() - zb::kImageHeaderSize == Le32(header.data() + 8);
    std::string expected;
    if (!file.empty() && refuses)
        expected = "Divce verification fail";
    else if (!file.empty() && (!type || *type != device_type))
        expected = "Firmware type is invalid";
    else if (!size_matches)
        expected = "File size is invalid";
    else if (ExpectedSum(body) != Le32(header.data() + 16))
        expected = "Checksum is invalid";

    Recorder recorder;
    zb::JobContext job(recorder);
    zb::DeviceRecord record;
    record.com_no = 1;
    record.link = pty.link();
    const bool ok = zb::ValidateImage(job, record, Image().path());
    if (ok != expected.empty()) Fail("ValidateImage's verdict is wrong");
    if (recorder.message != expected) Fail("ValidateImage gave the wrong reason");
    if (record.job_failed != !ok || recorder.failed != !ok)
        Fail("ValidateImage's failure mark does not match its verdict");
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zb::SetPauseScale(0);
    return 0;
}
