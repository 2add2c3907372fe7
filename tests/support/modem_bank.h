// Virtual modems for the tests that talk to them: one call that starts a bank and fails
// the running test when it cannot, and counts of the requests a modem received.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "sim/simulator.h"

namespace zbtest {

// Modems COM first_com .. first_com+count-1, linked into `ports_dir`. A bank that cannot
// start fails the test and comes back stopped.
std::unique_ptr<zbsim::Simulator> StartModems(const std::string& ports_dir, int count,
                                              int first_com, bool pacing = false);

// Requests of modem `com` whose two-letter code (at 2..3 of "?GSB0000...") is one of `codes`.
int CountRequests(const zbsim::Simulator& sim, int com,
                  std::initializer_list<std::string_view> codes);
// Requests of modem `com` in class `cls` (at 1 of "?GSB0000..."), 'S' for the writes.
int CountClass(const zbsim::Simulator& sim, int com, char cls);

}  // namespace zbtest
