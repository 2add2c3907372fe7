#include "sim/image.h"

namespace zbsim {
namespace {

constexpr std::size_t kBlockSize = 128;

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

int hex_value(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::uint32_t image_word_sum(const std::uint8_t* data, std::size_t size) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) sum += le32(data + i);
    if (i < size) {
        std::uint8_t tail[4] = {0, 0, 0, 0};
        for (std::size_t k = 0; i + k < size; ++k) tail[k] = data[i + k];
        sum += le32(tail);
    }
    return sum;
}

ImageCheck check_image(const std::vector<std::uint8_t>& received, int fw_type) {
    ImageCheck result;
    if (received.size() < kImageHeaderSize) {
        result.reason = "short";
        return result;
    }
    const std::uint8_t* header = received.data();

    int type = 0;
    int digits = 0;
    while (digits < 4 && hex_value(header[digits]) >= 0)
        type = type * 16 + hex_value(header[digits++]);
    if (digits == 0 || type != fw_type) {
        result.reason = "type";
        return result;
    }

    // 64-bit so that a huge announced length cannot wrap around the comparisons.
    const std::uint64_t size = kImageHeaderSize + std::uint64_t{le32(header + 8)};
    if (size > received.size() || received.size() - size >= kBlockSize) {
        result.reason = "length";
        return result;
    }
    for (std::size_t i = static_cast<std::size_t>(size); i < received.size(); ++i) {
        if (received[i] != 0) {
            result.reason = "padding";
            return result;
        }
    }
    const std::size_t body = static_cast<std::size_t>(size) - kImageHeaderSize;
    if (image_word_sum(header + kImageHeaderSize, body) != le32(header + 16)) {
        result.reason = "checksum";
        return result;
    }

    for (std::size_t i = 20; i < kImageHeaderSize && header[i] != 0; ++i) {
        const char c = static_cast<char>(header[i]);
        result.version.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    }
    while (!result.version.empty() && result.version.back() == ' ') result.version.pop_back();
    result.ok = true;
    result.size = static_cast<std::size_t>(size);
    return result;
}

}  // namespace zbsim
