#include "protocol/xmodem.h"

#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "firmware_image.h"
#include "modem_link_fixture.h"

namespace {

using namespace zb;
using zbtest::PortMap;
using zbtest::PtyPeer;

// A firmware image the virtual loader accepts, `total` bytes long with its header.
std::vector<std::uint8_t> make_image(std::size_t total, const char* version) {
    return zbtest::MakeImage("0101", zbtest::PatternBody(total - 32), version);
}

// The bytes in a temporary file, which the transfer reads with stdio.
struct MemFile {
    explicit MemFile(const std::vector<std::uint8_t>& bytes) : f(std::tmpfile()) {
        EXPECT_NE(f, nullptr);
        if (f == nullptr) return;
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::rewind(f);
    }
    ~MemFile() {
        if (f != nullptr) std::fclose(f);
    }
    std::FILE* f;
};

class TransferToSim : public zbtest::SimFixture {
protected:
    XmResult send_image(std::vector<std::uint8_t>& image, std::uint64_t* blocks) {
        sim->set_mode(1, zbsim::ModemMode::Loader);
        MemFile file(image);
        XmHooks hooks;
        hooks.on_block_acked = [blocks](std::uint64_t, std::uint64_t) { ++*blocks; };
        return xm_transfer(link, file.f, image.size(), hooks);
    }
};

TEST_F(TransferToSim, ExactBlocksArriveWhole) {
    auto image = make_image(256, "SIM 2.0.0");
    std::uint64_t blocks = 0;
    EXPECT_EQ(send_image(image, &blocks), XmResult::Done);
    EXPECT_EQ(blocks, 2u);
    const auto snap = sim->snapshot(1);
    EXPECT_EQ(snap.mode, zbsim::ModemMode::Application);
    EXPECT_EQ(snap.settings.fw_version, "SIM 2.0.0");
    ASSERT_GE(snap.image.size(), 256u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), snap.image.begin()));
}

// Each block may be asked for again one time short of the limit.
TEST_F(TransferToSim, BlocksNakedUpToTheLimitStillArrive) {
    auto image = make_image(300, "SIM 3.0");
    for (int i = 1; i < XM_RESEND_LIMIT; ++i) {
        sim->add_fault(1, zbsim::Fault::Counted(zbsim::FaultKind::NakBlock, 2));
        sim->add_fault(1, zbsim::Fault::Counted(zbsim::FaultKind::NakBlock, 3));
    }
    std::uint64_t blocks = 0;
    EXPECT_EQ(send_image(image, &blocks), XmResult::Done);
    EXPECT_EQ(blocks, 3u);
    const auto snap = sim->snapshot(1);
    EXPECT_EQ(snap.settings.fw_version, "SIM 3.0");
    EXPECT_EQ(snap.upgrades, 1u);
}

TEST_F(TransferToSim, CancelAndSilenceEndTheTransfer) {
    auto image = make_image(1024, "X");
    sim->add_fault(1, zbsim::Fault::Counted(zbsim::FaultKind::CanBlock, 3));
    std::uint64_t blocks = 0;
    EXPECT_EQ(send_image(image, &blocks), XmResult::NoAnswer);
    EXPECT_EQ(blocks, 2u);
    EXPECT_EQ(sim->snapshot(1).upgrades, 0u);
}

// A loader that NAKs every block or sends junk instead of its 'C' is stopped inside the
// resends or the synchronisation, before their limits end the transfer.
TEST_F(TransferToSim, StopEndsResendsAndJunkInsteadOfC) {
    struct Case {
        zbsim::FaultKind kind;
        bool synced;
    };
    for (const Case& c :
         {Case{zbsim::FaultKind::NakAll, true}, Case{zbsim::FaultKind::SyncJunk, false}}) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        sim->clear_faults(1);
        sim->add_fault(1, zbsim::Fault::Paused(c.kind, 10));
        sim->set_mode(1, zbsim::ModemMode::Loader);

        auto image = make_image(1024, "X");
        MemFile file(image);
        // After a few junk bytes, or at the third resend, short of the limit: a block NAKed
        // and not resent leaves nothing on the wire for the next case.
        int asks = 0;
        bool synced = false;
        XmHooks hooks;
        hooks.should_abort = [&] { return ++asks > (synced ? 6 : 8); };
        hooks.on_synced = [&] {
            synced = true;
            asks = 0;
        };
        EXPECT_EQ(xm_transfer(link, file.f, image.size(), hooks), XmResult::Aborted);
        EXPECT_EQ(synced, c.synced);
        EXPECT_EQ(sim->snapshot(1).blocks_acked, 0u);
    }
}

// Unattended, the same loaders end the transfer by themselves.
TEST_F(TransferToSim, ALoaderAskingForEveryBlockAgainEndsTheTransfer) {
    sim->add_fault(1, zbsim::Fault::Of(zbsim::FaultKind::NakAll));
    auto image = make_image(1024, "X");
    std::uint64_t blocks = 0;
    EXPECT_EQ(send_image(image, &blocks), XmResult::NoAnswer);
    EXPECT_EQ(blocks, 0u);
}

TEST_F(TransferToSim, JunkInsteadOfCEndsTheSynchronisation) {
    sim->add_fault(1, zbsim::Fault::Paused(zbsim::FaultKind::SyncJunk, 10));
    sim->set_mode(1, zbsim::ModemMode::Loader);
    std::uint8_t byte = 0;
    {
        zbtest::RealWaits real;  // the junk begins a second after the loader was entered
        ASSERT_EQ(com_read_long(link, &byte, 1), 1);
    }
    // The overall wait shrinks to about a second; the junk still keeps every read busy, so
    // only that wait can end it.
    zbtest::WaitScale scale(0.02);
    EXPECT_EQ(xm_sync_stoppable(link, {}), ST_TIMEOUT);
}

// A scripted loader on a bare terminal, for what the sender puts on the wire.
class ScriptedLoader : public zbtest::PtyLinkTest {
protected:
    ScriptedLoader() : PtyLinkTest(9) {}

    // Like a real loader: 'C' until the first block starts, since the sender purges its
    // input before it listens.
    std::string first_block() const {
        for (int i = 0; i < 40; ++i) {
            peer.send("C");
            std::string block = peer.receive(XM_BLOCK_SIZE, 500);
            if (!block.empty()) return block + peer.receive(XM_BLOCK_SIZE - block.size());
        }
        return {};
    }
};

TEST_F(ScriptedLoader, BlockNumbersWrapAndEotFollowsTheLastAck) {
    std::vector<std::uint8_t> image(std::size_t{257} * 128);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i / 128);
    std::vector<std::string> blocks;
    std::string tail;
    std::thread loader([&] {
        for (int i = 0; i < 257; ++i) {
            blocks.push_back(i == 0 ? first_block() : peer.receive(XM_BLOCK_SIZE));
            if (blocks.back().size() != XM_BLOCK_SIZE) return;
            peer.send(i == 4 ? "\x15" : i == 6 ? "C" : "\x06");
            if (i == 4 || i == 6) blocks.push_back(peer.receive(XM_BLOCK_SIZE));
            if (i == 4 || i == 6) peer.send("zz\x06");
        }
        tail = peer.receive(1);
        peer.send("\x06");
    });
    MemFile file(image);
    EXPECT_EQ(xm_transfer(link, file.f, image.size(), XmHooks{}), XmResult::Done);
    loader.join();
    ASSERT_EQ(blocks.size(), 259u);
    // Blocks 5 and 7 were asked for again and resent unchanged.
    EXPECT_EQ(blocks[4], blocks[5]);
    EXPECT_EQ(blocks[7], blocks[8]);
    const std::string& b256 = blocks[257];
    const std::string& b257 = blocks[258];
    EXPECT_EQ(static_cast<std::uint8_t>(b256[1]), 0);
    EXPECT_EQ(static_cast<std::uint8_t>(b256[2]), 255);
    EXPECT_EQ(static_cast<std::uint8_t>(b257[1]), 1);
    EXPECT_EQ(static_cast<std::uint8_t>(b257[2]), 254);
    EXPECT_EQ(static_cast<std::uint8_t>(b257[3]), 0);  // the 257th block of data
    EXPECT_EQ(tail, "\x04");
}

TEST_F(ScriptedLoader, AStaleCIsPurgedBeforeSynchronising) {
    peer.send("C");
    peer.wait_queued(1);
    // The loader's fresh answer comes once the purge is done: the first look at the stop
    // flag follows it.
    bool answered = false;
    EXPECT_EQ(xm_sync_stoppable(link,
                                [&] {
                                    if (!answered) peer.send("xyC");
                                    answered = true;
                                    return false;
                                }),
              ST_OK);
    // The stale 'C' was dropped: nothing is left to read.
    std::uint8_t b = 0;
    EXPECT_EQ(com_read_short(link, &b, 1), ST_TIMEOUT);
}

TEST_F(ScriptedLoader, AcknowledgementAnswers) {
    peer.send("ab\x06");
    EXPECT_EQ(xm_wait_ack(link), XM_ACKED);
    peer.send("\x15");
    EXPECT_EQ(xm_wait_ack(link), XM_RESEND);
    peer.send("C");
    EXPECT_EQ(xm_wait_ack(link), XM_RESEND);
    peer.send("\x18");
    EXPECT_EQ(xm_wait_ack(link), ST_CANCELLED);
    EXPECT_EQ(xm_wait_ack(link), ST_NO_ACK);

    // A stop request is asked before every read, so junk cannot hold the wait.
    int asks = 0;
    const XmStop second_ask = [&asks] { return ++asks == 2; };
    peer.send("zz\x06");
    EXPECT_EQ(xm_wait_ack(link, second_ask), XM_STOPPED);
    EXPECT_EQ(xm_wait_ack(link), XM_ACKED);  // the rest of the junk, then the ACK
}

TEST_F(ScriptedLoader, CancelSendsNoEotAndAShrunkFileStops) {
    std::vector<std::uint8_t> image(512, 0x11);
    std::string after;
    std::thread loader([&] {
        first_block();
        peer.send("\x18");
        after = peer.receive(1, 300);
    });
    {
        MemFile file(image);
        EXPECT_EQ(xm_transfer(link, file.f, image.size(), XmHooks{}), XmResult::NoAnswer);
    }
    loader.join();
    EXPECT_EQ(after, "");

    // The file holds 200 bytes but 300 were announced: the transfer ends instead of looping.
    std::vector<std::uint8_t> shrunk(200, 0x22);
    int acked = 0;
    std::thread loader2([&] {
        first_block();
        peer.send("\x06");
    });
    MemFile file(shrunk);
    XmHooks hooks;
    hooks.on_block_acked = [&acked](std::uint64_t, std::uint64_t) { ++acked; };
    EXPECT_EQ(xm_transfer(link, file.f, 300, hooks), XmResult::ReadFailed);
    loader2.join();
    EXPECT_EQ(acked, 1);
}

TEST_F(ScriptedLoader, AbortIsHonouredAtABlockBoundary) {
    std::vector<std::uint8_t> image(1024, 0x33);
    int acked = 0;
    std::thread loader([&] {
        first_block();
        peer.send("\x06");
        peer.receive(XM_BLOCK_SIZE);
        peer.send("\x06");
    });
    MemFile file(image);
    XmHooks hooks;
    hooks.on_block_acked = [&acked](std::uint64_t, std::uint64_t) { ++acked; };
    hooks.should_abort = [&acked] { return acked == 2; };
    EXPECT_EQ(xm_transfer(link, file.f, image.size(), hooks), XmResult::Aborted);
    loader.join();
    EXPECT_EQ(acked, 2);
    EXPECT_EQ(peer.receive(1, 200), "");
}

}  // namespace
