// zbsim's command line, parsed without opening any terminal. Pure; any thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "jobs/model/result.h"
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

// Parses argv[1..], or says what is wrong with it.
zb::Result<SimArgs> parse_args(const std::vector<std::string>& args);

// What --help prints before fault_help().
extern const char kUsage[];

}  // namespace zbsim
