// zbsim's command line, parsed without opening any terminal. Pure; any thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sim/simulator.h"

namespace zbsim {

enum class SimAction { Run, Help, Version, MakeImage };

// --make-image: a valid image for the virtual modems, written to `path`.
struct ImageRequest {
    std::string path;
    std::string version = "SIM 2.0.0";
    int type = 0x0101;
    int size = 16384;  // of the body
};

struct SimArgs {
    SimAction action = SimAction::Run;
    ImageRequest image;                         // with MakeImage
    SimOptions options;                         // with Run: the modems to start
    std::vector<std::pair<int, Fault>> faults;  // the COM a fault names (0: every modem), in order
};

// Parses argv[1..]. On failure returns false and says what is wrong in *error; *out is
// then unchanged.
bool parse_args(const std::vector<std::string>& args, SimArgs* out, std::string* error);

// What --help prints before fault_help().
extern const char kUsage[];

}  // namespace zbsim
