#include "modem_bank.h"

#include <gtest/gtest.h>

namespace zbtest {

std::unique_ptr<zbsim::Simulator> StartModems(const std::string& ports_dir, int count,
                                              int first_com, bool pacing) {
    zbsim::SimOptions options;
    options.count = count;
    options.first_com = first_com;
    options.ports_dir = ports_dir;
    options.pacing = pacing;
    auto sim = std::make_unique<zbsim::Simulator>(options);
    std::string error;
    EXPECT_TRUE(sim->start(&error)) << error;
    return sim;
}

}  // namespace zbtest
