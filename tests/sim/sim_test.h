// A simulator with one client on its first modem, and a scratch directory.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "raw_client.h"
#include "scratch_dir.h"
#include "sim/simulator.h"

namespace simtest {

using TempDir = zbtest::ScratchDir;

inline std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class SimTest : public ::testing::Test {
protected:
    // Called by SetUp with no pacing; tests that need other options call it again.
    void start(bool pacing = false, int count = 1, bool record_requests = true) {
        client.reset();
        sim.reset();
        zbsim::SimOptions options;
        options.count = count;
        options.pacing = pacing;
        options.log_path = dir.path() + "/sim.log";
        options.record_requests = record_requests;
        sim = std::make_unique<zbsim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim->start(&error)) << error;
        client = std::make_unique<RawClient>(sim->device_path(1));
        ASSERT_TRUE(client->ok());
    }
    void SetUp() override { start(); }

    std::string log_text() const { return read_file(dir.path() + "/sim.log"); }

    TempDir dir;
    std::unique_ptr<zbsim::Simulator> sim;
    std::unique_ptr<RawClient> client;
};

}  // namespace simtest
