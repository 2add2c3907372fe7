// The byte encodings that need no port: command frames, reply checks, XMODEM blocks.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "protocol/command_frame.h"
#include "protocol/xmodem.h"

namespace {

using namespace zb;

const ComHandle any_link = ComHandle::from_native(1);

std::string frame_of(std::uint8_t cls, std::int32_t cmd, std::int32_t addr, const char* data) {
    std::uint8_t frame[FRAME_BUF_SIZE] = {};
    std::int32_t len = -5;
    const auto data_len = static_cast<std::int32_t>(data != nullptr ? std::strlen(data) : 0);
    if (cmd_build_frame(any_link, cls, cmd, addr, data, data_len, frame, sizeof frame, &len) != 0)
        return "refused";
    return std::string(reinterpret_cast<const char*>(frame), static_cast<std::size_t>(len));
}

struct FrameCase {
    std::uint8_t cls;
    std::int32_t cmd;
    std::int32_t addr;
    const char* data;
    const char* bytes;
};

class WorkedFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(WorkedFrames, AreBuiltByteForByte) {
    const FrameCase& c = GetParam();
    EXPECT_EQ(frame_of(c.cls, c.cmd, c.addr, c.data), std::string(c.bytes));
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, WorkedFrames,
    ::testing::Values(FrameCase{CLS_GET, CMD_SB, 0, nullptr, "\x10\x01\x01?GSB00001\n"},
                      FrameCase{CLS_SET, CMD_SB, 0, "12", "\x10\x01\x01?SSB00001;12\n"},
                      FrameCase{CLS_GET, CMD_ZC, 0, nullptr, "\x10\x01\x01?GZC0000\n"},
                      FrameCase{CLS_SET, CMD_ZC, 0, "15", "\x10\x01\x01?SZC000015\n"},
                      FrameCase{CLS_CONTROL, CMD_SR, 0x1A2B, "1", "\x10\x01\x01?CSR1A2B1\n"},
                      FrameCase{CLS_GET, CMD_SS, 0x00AB, nullptr, "\x10\x01\x01?GSS00AB1\n"},
                      FrameCase{CLS_VERIFY, CMD_SM, 0, nullptr, "\x10\x01\x01?VSM00001\n"},
                      FrameCase{CLS_SET, CMD_SD, 0, "", "\x10\x01\x01?SSD00001;\n"},
                      FrameCase{CLS_VERIFY, CMD_XT, 0xFFFF, "0", "\x10\x01\x01?VXTFFFF0\n"},
                      FrameCase{CLS_REVISION, CMD_AV, 0, "0", "\x10\x01\x01?R@V00000\n"},
                      // Refusals: unknown command, a class the command does not allow, several
                      // class bits, an address out of range.
                      FrameCase{CLS_GET, 37, 0, nullptr, "refused"},
                      FrameCase{CLS_GET | CLS_SET, CMD_SB, 0, nullptr, "refused"},
                      FrameCase{CLS_GET, CMD_ZA, 0, nullptr, "refused"},
                      FrameCase{0x20, CMD_ZA, 0, nullptr, "refused"},
                      FrameCase{CLS_GET, CMD_SB, 0x10000, nullptr, "refused"},
                      FrameCase{CLS_GET, CMD_SB, -1, nullptr, "refused"}));

TEST(FrameBuilder, RefusesNullLinkAndDataThatDoesNotFit) {
    std::uint8_t frame[FRAME_BUF_SIZE];
    std::int32_t len = -5;
    EXPECT_EQ(
        cmd_build_frame(ComHandle(), CLS_GET, CMD_SB, 0, nullptr, 0, frame, sizeof frame, &len),
        ST_BAD_ARG);
    const std::string longest(114, 'x');
    EXPECT_EQ(cmd_build_frame(any_link, CLS_SET, CMD_SB, 0, longest.data(), 114, frame,
                              sizeof frame, &len),
              ST_OK);
    EXPECT_EQ(len, 128);
    EXPECT_EQ(cmd_build_frame(any_link, CLS_SET, CMD_SB, 0, longest.data(), 115, frame,
                              sizeof frame, &len),
              ST_BAD_ARG);
    EXPECT_EQ(len, 128);
    const std::string plain(117, 'x');
    EXPECT_EQ(
        cmd_build_frame(any_link, CLS_SET, CMD_BN, 0, plain.data(), 117, frame, sizeof frame, &len),
        ST_BAD_ARG);
}

TEST(CheckReply, LoaderAnswerOnlyWhenTheOwnCodeIsMissing) {
    EXPECT_EQ(cmd_check_reply(CMD_XT, nullptr), ST_BAD_ARG);
    EXPECT_EQ(cmd_check_reply(CMD_XT, "!VXT00000OK"), ST_OK);
    EXPECT_EQ(cmd_check_reply(CMD_XT, "!VDS00000"), ST_LOADER);
    EXPECT_EQ(cmd_check_reply(CMD_SR, "!CDS0000"), ST_LOADER);
    EXPECT_EQ(cmd_check_reply(CMD_XF, "!CXF0DS00"), ST_OK);
    EXPECT_EQ(cmd_check_reply(CMD_DS, "!VDS00000000000000101"), ST_OK);
    // "DS" in the payload does not count.
    EXPECT_EQ(cmd_check_reply(CMD_XT, "!VXT00000DS"), ST_OK);
    EXPECT_EQ(cmd_check_reply(CMD_XT, "!"), ST_OK);
}

static_assert(xm_crc_table[0] == 0x0000);
static_assert(xm_crc_table[1] == 0x1021);
static_assert(xm_crc_table[255] == 0x1EF0);

TEST(Crc16, CheckValueAndEmptyInput) {
    const auto* digits = reinterpret_cast<const std::uint8_t*>("123456789");
    EXPECT_EQ(xm_crc16(digits, 9), 0x31C3);
    EXPECT_EQ(xm_crc16(digits, 0), 0);
    EXPECT_EQ(xm_crc16(digits, -4), 0);
}

TEST(Block, ShortDataIsPaddedWithZerosAndCoveredByTheCrc) {
    std::uint8_t data[44];
    std::memset(data, 0xEE, sizeof data);
    std::uint8_t block[XM_BLOCK_SIZE];
    xm_build_block(3, data, sizeof data, block);
    EXPECT_EQ(block[0], XM_SOH);
    EXPECT_EQ(block[1], 3);
    EXPECT_EQ(block[2], 252);
    EXPECT_EQ(block[3 + 43], 0xEE);
    for (std::size_t i = 44; i < XM_DATA_SIZE; ++i) ASSERT_EQ(block[3 + i], 0x00) << i;
    const std::uint16_t crc = xm_crc16(block + 3, 128);
    EXPECT_EQ(block[131], crc >> 8);
    EXPECT_EQ(block[132], crc & 0xFF);
}

// A firmware image the virtual loader accepts, `total` bytes long with its header.

}  // namespace
