// zbsim's command line, parsed without opening any terminal. Pure; any thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sim/simulator.h"

namespace zbsim {

enum class SimAction { Run, Help, Version };

struct SimArgs {
    SimAction action = SimAction::Run;
    SimOptions options;                         // with Run: the modems to start
    std::vector<std::pair<int, Fault>> faults;  // the COM a fault names (0: every modem), in order
};

// Parses argv[1..]. On failure returns false and says what is wrong in *error; *out is
// then unchanged.
bool parse_args(const std::vector<std::string>& args, SimArgs* out, std::string* error);

// What --help prints before fault_help().
extern const char kUsage[];

}  // namespace zbsim
