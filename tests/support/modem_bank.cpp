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

int CountRequests(const zbsim::Simulator& sim, int com,
                  std::initializer_list<std::string_view> codes) {
    int n = 0;
    for (const std::string& r : sim.requests(com))
        for (std::string_view code : codes)
            if (r.size() >= 4 && std::string_view(r).substr(2, 2) == code) ++n;
    return n;
}

int CountClass(const zbsim::Simulator& sim, int com, char cls) {
    int n = 0;
    for (const std::string& r : sim.requests(com))
        if (r.size() >= 2 && r[1] == cls) ++n;
    return n;
}

}  // namespace zbtest
