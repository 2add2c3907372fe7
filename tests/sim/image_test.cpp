// The loader's image check, on images that the wire tests do not reach easily.
#include "sim/image.h"

#include <gtest/gtest.h>

#include "raw_client.h"

namespace {

using zbsim::check_image;

std::vector<std::uint8_t> padded(std::vector<std::uint8_t> image) {
    image.resize((image.size() + 127) / 128 * 128, 0);
    return image;
}

TEST(ImageCheck, ABodyOfOddLengthSumsItsLastWordZeroPadded) {
    auto image = simtest::make_image(7, "SIM 2.0");
    const auto check = check_image(padded(image), 0x0101);
    ASSERT_TRUE(check.ok) << check.reason;
    EXPECT_EQ(check.size, image.size());
    EXPECT_EQ(check.version, "SIM 2.0");
}

TEST(ImageCheck, VersionTextIsCutAtItsFirstNulAndTrailingSpaces) {
    auto image = simtest::make_image(64, "V 3  ");
    EXPECT_EQ(check_image(padded(image), 0x0101).version, "V 3");
    image[23] = 0;
    image[24] = 'x';
    EXPECT_EQ(check_image(padded(image), 0x0101).version, "V 3");
    image[20] = 0;
    EXPECT_EQ(check_image(padded(image), 0x0101).version, "");
}

TEST(ImageCheck, BodyLengthMustEndInTheLastBlock) {
    auto image = simtest::make_image(250, "X");
    simtest::put_le32(image, 8, 100);
    EXPECT_EQ(check_image(padded(image), 0x0101).reason, "length");
    // So large that 32 plus it would wrap in 32 bits.
    simtest::put_le32(image, 8, 0xFFFFFFF0u);
    EXPECT_EQ(check_image(padded(image), 0x0101).reason, "length");
}

TEST(ImageCheck, TypeIsReadAsUpToFourHexDigits) {
    auto bad = simtest::make_image(64, "X", "x101");
    EXPECT_EQ(check_image(padded(bad), 0x0101).reason, "type");
    auto image = simtest::make_image(64, "X", "a0");
    EXPECT_TRUE(check_image(padded(image), 0xA0).ok);
    EXPECT_FALSE(check_image(padded(image), 0x0101).ok);
    // A block boundary exactly at the end of the image: nothing to trim.
    image = simtest::make_image(96, "X");
    EXPECT_TRUE(check_image(image, 0x0101).ok);
    image.resize(31);
    EXPECT_EQ(check_image(image, 0x0101).reason, "short");
}

}  // namespace
