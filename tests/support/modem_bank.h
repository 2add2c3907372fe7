// Virtual modems for the tests that talk to them: one call that starts a bank and fails
// the running test when it cannot.
#pragma once

#include <memory>
#include <string>

#include "sim/simulator.h"

namespace zbtest {

// Modems COM first_com .. first_com+count-1, linked into `ports_dir`. A bank that cannot
// start fails the test and comes back stopped.
std::unique_ptr<zbsim::Simulator> StartModems(const std::string& ports_dir, int count,
                                              int first_com, bool pacing = false);

}  // namespace zbtest
