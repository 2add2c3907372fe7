// Firmware image check done by the loader after the last block.
//
// The image is a 32-byte header and a body. Header bytes 0..3 hold the firmware type as
// up to four hex digits of text, 8..11 the body length and 16..19 the body's word sum
// (both little-endian u32), 20..31 the version text the modem reports afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zbsim {

inline constexpr std::size_t kImageHeaderSize = 32;

struct ImageCheck {
    bool ok = false;
    std::string reason;    // why it was rejected: "short", "type", "length", "padding", "checksum"
    std::size_t size = 0;  // header plus body, when ok
    std::string version;   // header bytes 20..31 up to the first NUL, trailing spaces cut
};

// `received` is what the blocks delivered: the image padded with zero bytes to a whole
// number of 128-byte blocks. The header's body length says where the image ends; anything
// after it must be less than one block of zero bytes.
ImageCheck check_image(const std::vector<std::uint8_t>& received, int fw_type);

// Sum of the 32-bit little-endian words of `data`, a trailing partial word padded with
// zeros, modulo 2^32.
std::uint32_t image_word_sum(const std::uint8_t* data, std::size_t size);

}  // namespace zbsim
