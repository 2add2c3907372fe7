// zbsim's command line, read without starting any modem.
#include <gtest/gtest.h>

#include "sim/sim_args.h"

namespace {

using zbsim::SimAction;
using zbsim::SimArgs;

TEST(SimArgs, OptionsTakeTheirValuesInEitherSpelling) {
    const auto parsed =
        zbsim::parse_args({"--count=3", "--first-com", "7", "--ports-dir", "/p", "--no-pacing",
                           "--log=/l", "--fault", "silent:COM8", "--fault=silent"});
    ASSERT_TRUE(parsed) << parsed.error().reason;
    const SimArgs& args = *parsed;
    EXPECT_EQ(args.action, SimAction::Run);
    EXPECT_EQ(args.options.count, 3);
    EXPECT_EQ(args.options.first_com, 7);
    EXPECT_EQ(args.options.ports_dir, "/p");
    EXPECT_FALSE(args.options.pacing);
    EXPECT_EQ(args.options.log_path, "/l");
    EXPECT_FALSE(args.options.record_requests);
    ASSERT_EQ(args.faults.size(), 2u);
    EXPECT_EQ(args.faults[0].first, 8);
    EXPECT_EQ(args.faults[1].first, 0);
}

TEST(SimArgs, EachLineGivesOneActionOrSaysWhatIsWrong) {
    const struct {
        std::vector<std::string> args;
        SimAction action;
        std::string error;  // empty: the line is taken
    } cases[] = {
        {{"--count", "2", "--help", "--bogus"}, SimAction::Help, ""},
        {{"-h"}, SimAction::Help, ""},
        {{"--version"}, SimAction::Version, ""},
        {{"--version", "X 1", "--make-image=f", "--type", "102", "--size", "9"},
         SimAction::MakeImage,
         ""},
        {{"--make-image=f", "--type=0x0102"}, SimAction::MakeImage, ""},
        {{"--make-image", "f", "--count", "2"}, SimAction::Run, "--make-image runs no modems"},
        {{"--count", "2", "--size", "9"},
         SimAction::Run,
         "--type and --size belong to --make-image"},
        {{"--make-image", "f", "--type", "1g"},
         SimAction::Run,
         "--type needs 1 to 4 hexadecimal digits, 0x allowed: 0x0101"},
        {{"--make-image", "f", "--type", "0x"},
         SimAction::Run,
         "--type needs 1 to 4 hexadecimal digits, 0x allowed: 0x0101"},
        {{"--count", "4096"}, SimAction::Run, ""},
        {{"--version=1"}, SimAction::Run, "unknown argument \"--version=1\""},
        {{}, SimAction::Run, "--count is required"},
        {{"--count"}, SimAction::Run, "--count needs a number from 1 to 4096"},
        {{"--count", "0"}, SimAction::Run, "--count needs a number from 1 to 4096"},
        {{"--count", "2x"}, SimAction::Run, "--count needs a number from 1 to 4096"},
        {{"--count", "4097"}, SimAction::Run, "--count needs a number from 1 to 4096"},
        {{"--count=2", "--first-com=0"}, SimAction::Run, "--first-com needs a number of 1 or more"},
        {{"--count", "2", "--fault", "explode"}, SimAction::Run, "unknown fault kind \"explode\""},
        {{"--count", "2", "--fault", "silent:COM3"},
         SimAction::Run,
         "a fault names COM3, which is not one of the simulated ports"},
        {{"--count", "2", "--bogus"}, SimAction::Run, "unknown argument \"--bogus\""},
        {{"--count", "2", "--no-pacing=1"}, SimAction::Run, "unknown argument \"--no-pacing=1\""},
        {{"--count", "2", "--ports-dir"}, SimAction::Run, "--ports-dir needs a directory"},
        {{"--count", "2", "--log="}, SimAction::Run, "--log needs a file name"},
    };
    for (const auto& c : cases) {
        const auto parsed = zbsim::parse_args(c.args);
        EXPECT_EQ(parsed ? "" : parsed.error().reason, c.error) << ::testing::PrintToString(c.args);
        if (c.error.empty()) {
            EXPECT_EQ(parsed->action, c.action) << ::testing::PrintToString(c.args);
        }
    }
}

}  // namespace
