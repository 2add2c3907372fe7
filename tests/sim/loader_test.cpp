// The firmware loader: entering it, its answers, and XMODEM-CRC transfers into it.
#include <functional>

#include "sim_test.h"

namespace {

using simtest::make_block;
using simtest::make_image;
using simtest::RawClient;
using simtest::SimTest;

constexpr int kAck = 0x06;
constexpr int kNak = 0x15;
constexpr int kCan = 0x18;

class LoaderTest : public SimTest {
protected:
    void enter_loader() {
        ASSERT_EQ(client->ask("?CXF00000"), "!CXF00000");
        ASSERT_EQ(client->ask("?CSR00000"), "!CSR00000");
        ASSERT_EQ(sim->snapshot(1).mode, zbsim::ModemMode::Loader);
    }
    // Waits for a 'C' beacon, dropping anything else.
    bool sync() {
        for (;;) {
            const int b = client->read_byte();
            if (b < 0) return false;
            if (b == 'C') return true;
        }
    }
    std::string block(const std::vector<std::uint8_t>& image, std::size_t index) {
        const std::size_t at = (index - 1) * 128;
        return make_block(static_cast<std::uint8_t>(index), image.data() + at,
                          std::min<std::size_t>(128, image.size() - at));
    }
    // Blocks 1..n and EOT, each answered with ACK.
    void send_all(const std::vector<std::uint8_t>& image) {
        const std::size_t blocks = (image.size() + 127) / 128;
        for (std::size_t i = 1; i <= blocks; ++i) {
            client->send(block(image, i));
            ASSERT_EQ(client->read_byte(), kAck) << "block " << i;
        }
        client->send(std::string(1, '\x04'));
        ASSERT_EQ(client->read_byte(), kAck);
    }
};

class Upgrade : public LoaderTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Upgrade, ValidImageIsTakenAndTheModemReturnsToItsApplication) {
    start(GetParam());
    enter_loader();
    // The loader's answers: "DS" for the upgrade commands, 'C' for the rest.
    EXPECT_EQ(client->ask("?VXT00000"), "!VDS00000000000000101");
    EXPECT_EQ(client->ask("?VDS00000"), "!VDS00000000000000101");
    client->request("?GSB00001");
    EXPECT_EQ(client->read_byte(), 'C');
    ASSERT_TRUE(sync());

    const auto image = make_image(300 - 32, "SIM 2.0");  // three blocks, the last short
    send_all(image);
    const auto snap = sim->snapshot(1);
    EXPECT_EQ(snap.mode, zbsim::ModemMode::Application);
    EXPECT_EQ(snap.upgrades, 1u);
    EXPECT_EQ(snap.blocks_acked, 3u);
    EXPECT_EQ(snap.image, image);
    EXPECT_EQ(client->ask("?R@V00000"), "!R@V00000SIM 2.0");
    EXPECT_EQ(client->ask("?VXT00000"), "!VXT00000OK");

    const std::string log = log_text();
    for (const char* line : {"COM1 ?CSR00000\n", "COM1 block 1 ack\n", "COM1 block 3 ack\n",
                             "COM1 eot\n", "COM1 image accepted SIM 2.0\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << " not in\n" << log;
}

INSTANTIATE_TEST_SUITE_P(Sim, Upgrade, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Paced" : "Unpaced"; });

TEST_F(LoaderTest, DamagedBlocksAreNakedAndRepeatsAcknowledgedOnce) {
    enter_loader();
    ASSERT_TRUE(sync());
    const auto image = make_image(400, "SIM 4.1");
    std::string bad = block(image, 1);
    bad[40] ^= 0x01;
    client->send(bad);
    EXPECT_EQ(client->read_byte(), kNak);
    client->send(block(image, 1));
    EXPECT_EQ(client->read_byte(), kAck);
    // The sender missed our ACK and repeats the block: ACK again, store it once.
    client->send(block(image, 1));
    EXPECT_EQ(client->read_byte(), kAck);
    EXPECT_EQ(sim->snapshot(1).blocks_acked, 1u);
    // The sender starts over with block 1: taken as a fresh transfer.
    client->send(block(image, 2));
    EXPECT_EQ(client->read_byte(), kAck);
    client->send(block(image, 1));
    EXPECT_EQ(client->read_byte(), kAck);
    EXPECT_EQ(sim->snapshot(1).blocks_acked, 1u);
    for (std::size_t i = 2; i <= 4; ++i) {
        client->send(block(image, i));
        EXPECT_EQ(client->read_byte(), kAck);
    }
    client->send(std::string(1, '\x04'));
    EXPECT_EQ(client->read_byte(), kAck);
    EXPECT_EQ(sim->snapshot(1).image, image);
    EXPECT_NE(log_text().find("COM1 block 1 nak (crc)\n"), std::string::npos);
}

TEST_F(LoaderTest, BlockOutOfSequenceCancels) {
    enter_loader();
    ASSERT_TRUE(sync());
    const auto image = make_image(600, "X");
    client->send(block(image, 1));
    EXPECT_EQ(client->read_byte(), kAck);
    client->send(block(image, 3));
    EXPECT_EQ(client->read_byte(), kCan);
    // The loader asks again for a transfer.
    EXPECT_TRUE(sync());
}

TEST_F(LoaderTest, CutOrDamagedBlocksAreDroppedWholeAfterSilenceAndNaked) {
    enter_loader();
    ASSERT_TRUE(sync());
    const auto image = make_image(300, "SIM 5");
    client->send(block(image, 1).substr(0, 60));
    EXPECT_EQ(client->read_byte(), kNak);
    client->send(block(image, 1));
    EXPECT_EQ(client->read_byte(), kAck);
    // A broken header; the data that follows holds an EOT and a command line, neither of
    // which may be acted on.
    std::string bad = block(image, 2);
    bad[2] = 0;
    bad[10] = '\x04';
    bad.replace(20, 10, "?VXT00000\n");
    client->send(bad);
    EXPECT_EQ(client->read_byte(), kNak);
    client->send(block(image, 2));
    EXPECT_EQ(client->read_byte(), kAck);
    client->send(block(image, 3));
    EXPECT_EQ(client->read_byte(), kAck);
    client->send(std::string(1, '\x04'));
    EXPECT_EQ(client->read_byte(), kAck);
    EXPECT_EQ(sim->snapshot(1).image, image);
}

TEST_F(LoaderTest, ACommandDuringATransferEndsIt) {
    enter_loader();
    ASSERT_TRUE(sync());
    const auto image = make_image(300, "SIM 6");
    client->send(block(image, 1));
    EXPECT_EQ(client->read_byte(), kAck);
    EXPECT_EQ(client->ask("?VXT00000"), "!VDS00000000000000101");
    EXPECT_TRUE(sync());
    send_all(image);
    EXPECT_EQ(sim->snapshot(1).settings.fw_version, "SIM 6");
}

struct BadImage {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> spoil;
    const char* reason;
};

class RejectedImages : public LoaderTest, public ::testing::WithParamInterface<BadImage> {};

TEST_P(RejectedImages, LeaveTheModemInItsLoader) {
    enter_loader();
    ASSERT_TRUE(sync());
    auto image = make_image(250, "SIM 9");
    GetParam().spoil(image);
    send_all(image);
    const auto snap = sim->snapshot(1);
    EXPECT_EQ(snap.mode, zbsim::ModemMode::Loader);
    EXPECT_EQ(snap.upgrades, 0u);
    EXPECT_EQ(snap.settings.fw_version, "SIM 1.0.0");
    EXPECT_NE(log_text().find(std::string("image rejected (") + GetParam().reason + ")"),
              std::string::npos)
        << log_text();
    // Beacons again, and another transfer can follow.
    EXPECT_TRUE(sync());
}

INSTANTIATE_TEST_SUITE_P(
    Sim, RejectedImages,
    ::testing::Values(BadImage{"OtherType", [](auto& img) { img[3] = '2'; }, "type"},
                      BadImage{"Checksum", [](auto& img) { img[100] ^= 0x40; }, "checksum"},
                      BadImage{"BodyLongerThanSent",
                               [](auto& img) { simtest::put_le32(img, 8, 400); }, "length"},
                      // Four bytes short of the blocks' end: the tail is not padding but data.
                      BadImage{"TailNotZero",
                               [](auto& img) {
                                   simtest::put_le32(img, 8, 246);
                                   simtest::put_le32(img, 16, 0);
                               },
                               "padding"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(LoaderTest, SetModeEntersAndLeavesTheLoader) {
    sim->set_mode(1, zbsim::ModemMode::Loader);
    EXPECT_TRUE(sync());
    client->request("?GZC0000");
    EXPECT_EQ(client->read_byte(), 'C');
    sim->set_mode(1, zbsim::ModemMode::Application);
    client->flush_input();
    EXPECT_EQ(client->ask("?GZC0000"), "!GZC0000011");
}

}  // namespace
