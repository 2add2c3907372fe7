// A bare client of a virtual modem: opens the device like an adapter and moves raw bytes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace simtest {

using Clock = std::chrono::steady_clock;

// Generous: the waits end as soon as the condition holds.
inline constexpr int kWaitMs = 5000;

class RawClient {
public:
    explicit RawClient(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return;
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        cfsetspeed(&tio, B115200);
        tcsetattr(fd_, TCSANOW, &tio);
        ::ioctl(fd_, TIOCEXCL);
        tcflush(fd_, TCIFLUSH);
    }
    ~RawClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool ok() const { return fd_ >= 0; }

    void send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            ASSERT_GT(n, 0) << std::strerror(errno);
            done += static_cast<std::size_t>(n);
        }
    }
    void send(const std::vector<std::uint8_t>& bytes) {
        send(std::string(bytes.begin(), bytes.end()));
    }
    // A command frame: the three control bytes, the request text, the newline.
    void request(const std::string& text) { send(std::string("\x10\x01\x01", 3) + text + "\n"); }

    // One byte, or -1 when none came within timeout_ms.
    int read_byte(int timeout_ms = kWaitMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            std::uint8_t b = 0;
            if (::read(fd_, &b, 1) == 1) return b;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return -1;
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left.count()) + 1);
        }
    }
    // Everything up to and including the newline; what came by the deadline otherwise.
    std::string read_line(int timeout_ms = kWaitMs) {
        std::string line;
        for (;;) {
            const int b = read_byte(timeout_ms);
            if (b < 0) return line;
            line.push_back(static_cast<char>(b));
            if (b == '\n') return line;
        }
    }
    // Sends a request and returns its reply line without the newline ("" on silence).
    std::string ask(const std::string& text) {
        request(text);
        std::string line = read_line();
        if (!line.empty() && line.back() == '\n') line.pop_back();
        return line;
    }
    void flush_input() { tcflush(fd_, TCIFLUSH); }

private:
    int fd_ = -1;
};

// CRC-16/XMODEM bit by bit, independent of the table the modem uses.
inline std::uint16_t crc16(const std::uint8_t* data, std::size_t size) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

inline std::string make_block(std::uint8_t number, const std::uint8_t* data, std::size_t size) {
    std::string block(133, '\0');
    block[0] = 0x01;
    block[1] = static_cast<char>(number);
    block[2] = static_cast<char>(255 - number);
    std::memcpy(&block[3], data, std::min<std::size_t>(size, 128));
    const std::uint16_t crc = crc16(reinterpret_cast<const std::uint8_t*>(&block[3]), 128);
    block[131] = static_cast<char>(crc >> 8);
    block[132] = static_cast<char>(crc & 0xFF);
    return block;
}

inline void put_le32(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A firmware image: type text, body length, word-sum checksum, version text.
inline std::vector<std::uint8_t> make_image(std::size_t body, const std::string& version,
                                            const std::string& type = "0101") {
    std::vector<std::uint8_t> image(32 + body);
    std::memcpy(image.data(), type.data(), std::min<std::size_t>(type.size(), 4));
    for (std::size_t i = 0; i < body; ++i) image[32 + i] = static_cast<std::uint8_t>(i * 13 + 5);
    put_le32(image, 8, static_cast<std::uint32_t>(body));
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < body; i += 4) {
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 4 && i + k < body; ++k)
            word |= static_cast<std::uint32_t>(image[32 + i + k]) << (8 * k);
        sum += word;
    }
    put_le32(image, 16, sum);
    std::memcpy(image.data() + 20, version.data(), std::min<std::size_t>(version.size(), 12));
    return image;
}

}  // namespace simtest
