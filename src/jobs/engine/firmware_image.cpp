#include "jobs/engine/firmware_image.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace zb {
namespace {

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

std::string FirmwareTypeText(std::uint32_t type) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(type));
    return text;
}

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

FilePtr OpenImage(const std::string& path, std::uint64_t* size) {
    if (path.empty()) return nullptr;
    Result<OpenedFile> opened = OpenFileForReading(path);
    if (!opened) return nullptr;
    *size = opened->size;
    return std::move(opened->file);
}

ImageFile InspectImage(const std::string& path) {
    ImageFile image;
    const FilePtr file = OpenImage(path, &image.size);
    if (!file) return image;
    image.opened = true;
    // A file shorter than its header leaves the missing header bytes zero; its size check
    // then fails.
    std::array<std::uint8_t, kImageHeaderSize> header{};
    (void)std::fread(header.data(), 1, header.size(), file.get());
    if (std::ferror(file.get())) return image;
    image.header_read = true;
    image.type = ImageType(header);
    image.body_length = Le32(header.data() + 8);
    for (std::size_t i = 20; i < kImageHeaderSize && header[i] != 0; ++i)
        image.version += static_cast<char>(header[i]);
    image.size_ok =
        image.size >= kImageHeaderSize && image.size - kImageHeaderSize == image.body_length;
    if (!image.size_ok) return image;
    WordSum sum;
    std::uint8_t chunk[4096];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        sum.Add({chunk, got});
        if (got < sizeof chunk) break;
    }
    if (std::ferror(file.get())) return image;
    image.body_read = true;
    image.checksum_ok = sum.Finish() == Le32(header.data() + 16);
    return image;
}

std::string ImageRefusal(const ImageFile& image) {
    if (!image.opened) return "not a file that can be opened";
    if (image.size == 0) return "the file is empty";
    if (!image.header_read || (image.size_ok && !image.body_read)) return "the file cannot be read";
    const std::string not_image = "not a firmware image: ";
    if (!image.type) return not_image + "its first 4 bytes hold no firmware type";
    if (image.size < kImageHeaderSize)
        return not_image + std::to_string(image.size) + " bytes, shorter than an image header (" +
               std::to_string(kImageHeaderSize) + " bytes)";
    if (!image.size_ok)
        return not_image + "its header gives a body of " + std::to_string(image.body_length) +
               " bytes, the file holds " + std::to_string(image.size - kImageHeaderSize);
    if (!image.checksum_ok) return not_image + "its body does not match the checksum in its header";
    return {};
}

std::vector<std::uint8_t> MakeImage(std::string_view type_text, std::span<const std::uint8_t> body,
                                    std::string_view version) {
    std::vector<std::uint8_t> image(kImageHeaderSize + body.size(), 0);
    std::copy_n(type_text.begin(), std::min<std::size_t>(type_text.size(), 4), image.begin());
    const auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (std::size_t i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put32(8, static_cast<std::uint32_t>(body.size()));
    WordSum sum;
    sum.Add(body);
    put32(16, sum.Finish());
    std::copy_n(version.begin(), std::min<std::size_t>(version.size(), 12), image.begin() + 20);
    std::copy(body.begin(), body.end(), image.begin() + kImageHeaderSize);
    return image;
}

std::vector<std::uint8_t> PatternBody(std::size_t size) {
    std::vector<std::uint8_t> body(size);
    std::uint32_t x = 0x12345678;
    for (auto& b : body) {
        x = x * 1103515245U + 12345U;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return body;
}

}  // namespace zb
