// A virtual modem bank on pseudo-terminals, reachable as COM 1.. through a private port map.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/serial_link.h"
#include "pty_peer.h"
#include "sim/simulator.h"

namespace zbtest {

class SimFixture : public ::testing::Test {
protected:
    explicit SimFixture(int count = 1, bool pacing = false) : count_(count), pacing_(pacing) {}

    void SetUp() override {
        sim = map.StartModems(count_, 1, pacing_);
        ASSERT_FALSE(HasFailure());
        ASSERT_EQ(zb::com_open(1, &link), zb::ST_OK);
        ASSERT_EQ(zb::com_setup(link, 115200, 0, 8, 0, zb::FLOW_NONE), zb::ST_OK);
        ASSERT_EQ(zb::com_purge(link, zb::PURGE_INPUT), zb::ST_OK);
    }
    void TearDown() override {
        if (link) zb::com_close(link);
        sim.reset();
    }

    // The requests COM 1 received since the last call.
    std::vector<std::string> take_requests() {
        std::vector<std::string> r = sim->requests(1);
        sim->clear_requests(1);
        return r;
    }

    PortMap map;
    std::unique_ptr<zbsim::Simulator> sim;
    zb::ComHandle link;

private:
    int count_;
    bool pacing_;
};

}  // namespace zbtest
