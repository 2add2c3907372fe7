// Firmware image files: the format the modems' loaders take, the checks a file must pass
// before any device sees it, and the making of a valid image to try an upgrade with.
//
// An image is a 32-byte header (type as up to four hex characters at 0..3, body length LE
// at 8..11, the body's word sum LE at 16..19, version text at 20..31), then the body.
// Constant data, pure functions and whole-file reads only (through file_storage.h); any
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/platform/file_storage.h"

namespace zb {

inline constexpr std::size_t kImageHeaderSize = 32;

// The firmware type of a header, read from bytes 0..3 only: leading white space skipped, an
// optional "0x" or "0X", then hexadecimal digits up to the first character that is not one
// (a NUL, a blank, anything) or the end of byte 3. std::nullopt when no digit is found.
std::optional<std::uint32_t> ImageType(std::span<const std::uint8_t, kImageHeaderSize> header);
// A firmware type as every text shows it: "0x0101".
std::string FirmwareTypeText(std::uint32_t type);

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

// Opens the image for reading (others may read it at the same time) and takes its size
// (OpenFileForReading). Anything but a regular file counts as not openable: a directory would
// open and then fail every read. *size is unchanged on failure.
FilePtr OpenImage(const std::string& path, std::uint64_t* size);

// What a file holds, found by reading it once, with no device. A check that could not be
// made for an earlier one's failure stays false.
struct ImageFile {
    bool opened = false;  // OpenImage succeeded
    std::uint64_t size = 0;
    bool header_read = false;  // the first 32 bytes (or fewer, in a shorter file) were read
    std::optional<std::uint32_t> type;
    std::uint32_t body_length = 0;  // as the header gives it
    std::string version;            // bytes 20..31 up to the first NUL, as they are
    bool size_ok = false;           // the header's body length is what follows the header
    bool body_read = false;
    bool checksum_ok = false;
};
ImageFile InspectImage(const std::string& path);

// Why no modem could take the file, for a person; empty when it is a valid image. The type
// is not judged: that is each modem's.
std::string ImageRefusal(const ImageFile& image);

// A valid image: `type_text` (up to four characters) at 0..3, `version` (up to 12) at 20..31.
std::vector<std::uint8_t> MakeImage(std::string_view type_text, std::span<const std::uint8_t> body,
                                    std::string_view version);
// `size` bytes of a fixed pseudo-random pattern, the same every time: a body that is neither
// blank nor repetitive, to try an upgrade with.
std::vector<std::uint8_t> PatternBody(std::size_t size);

}  // namespace zb
