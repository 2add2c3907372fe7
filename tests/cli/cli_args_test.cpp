// zbctl's command line: where options may stand, which commands they belong to, and what
// each command takes. The refusals scripts meet most are zbctl_test's.
#include <gtest/gtest.h>

#include "cli/cli_args.h"

namespace {

using zbctl::Command;

TEST(ZbctlArgs, EachLineGivesOneCommandOrSaysWhatIsWrong) {
    const struct {
        std::vector<std::string> args;
        Command command;
        std::string error;  // empty: the line is taken
    } cases[] = {
        {{"read", "COM3", "--json", "--ports-dir=/p", "--retry=2"}, Command::Read, ""},
        {{"read", "COM3", "--help", "--bogus"}, Command::Help, ""},
        {{"--version=1"}, Command::Version, ""},
        {{"help", "anything", "--json"}, Command::Read, "unknown command \"anything\""},
        {{"image-info", "fw.rom", "--json"}, Command::ImageInfo, ""},
        {{"image-info"}, Command::Read, "image-info needs an image file"},
        {{"image-info", "fw.rom", "COM3"}, Command::Read, "image-info takes one image file"},
        {{"image-info", "--retry=1", "fw.rom"},
         Command::Read,
         "--retry belongs to the commands that run jobs"},
        {{"-h"}, Command::Help, ""},
        {{"ports", "--scan"}, Command::Ports, ""},
        {{"import", "--verify", "f.txt", "4"}, Command::Import, ""},
        {{"--json=1", "read", "COM3"}, Command::Read, "unknown option --json=1"},
        {{"read", "---x", "COM3"}, Command::Read, "unknown option ---x"},
        {{"frobnicate", "--retry"}, Command::Read, "unknown command \"frobnicate\""},
        {{"read", "COM3", "--retry"}, Command::Read, "--retry needs a value"},
        {{"--report=", "read", "COM3"}, Command::Read, "--report needs a file"},
        {{"--ports-dir", "", "read", "COM3"}, Command::Read, "--ports-dir needs a directory"},
        {{"--set=", "apply", "COM3"}, Command::Read, "--set takes FIELD=VALUE, not \"\""},
        {{"read", "--set", "a=1", "COM3"},
         Command::Read,
         "--set belongs to the apply and watch commands"},
        {{"ports", "--report", "r.csv", "--retry", "1"},
         Command::Read,
         "--report belongs to the commands that run jobs"},
        {{"help", "--retry", "1"}, Command::Read, "--retry belongs to the commands that run jobs"},
        {{"read", "--scan", "COM3"}, Command::Read, "--scan belongs to the ports command"},
        {{"ports", "COM3"}, Command::Read, "ports takes no arguments"},
        {{"upgrade"}, Command::Read, "upgrade needs an image file and at least one port"},
        {{"export"}, Command::Read, "export needs a folder and at least one port"},
        {{"import"}, Command::Read, "import needs a configuration file and at least one port"},
        {{"export", "out"}, Command::Read, "no port given"},
        {{"watch", "--once", "--upgrade=i.bin", "--verify", "--import", "f"}, Command::Watch, ""},
        {{"read", "--once", "COM3"},
         Command::Read,
         "--upgrade, --import and --once belong to the watch command"},
        {{"watch", "--set", "a=1", "--import", "f"}, Command::Watch, ""},
        {{"watch"},
         Command::Read,
         "watch needs --upgrade IMAGE, --set FIELD=VALUE or --import FILE"},
        {{"watch", "--upgrade", "i.bin", "--verify"},
         Command::Read,
         "watch --verify needs --set or --import"},
        {{"watch", "--set", "a=1", "COM3"},
         Command::Read,
         "watch takes no ports: it waits for them to appear"},
    };
    for (const auto& c : cases) {
        const auto parsed = zbctl::ParseArgs(c.args);
        EXPECT_EQ(parsed ? "" : parsed.error().reason, c.error) << ::testing::PrintToString(c.args);
        if (c.error.empty()) {
            EXPECT_EQ(parsed->command, c.command) << ::testing::PrintToString(c.args);
        }
    }
}

TEST(ZbctlArgs, HelpAfterACommandIsItsUsageAndDoubleDashEndsTheOptions) {
    const struct {
        std::vector<std::string> args;
        Command command;
        Command help_on;
        std::string path;
        std::string error;
    } cases[] = {
        {{"upgrade", "--help"}, Command::Help, Command::Upgrade, "", ""},
        {{"help", "export"}, Command::Help, Command::Export, "", ""},
        {{"--help", "read"}, Command::Help, Command::Help, "", ""},
        {{"upgrade", "-q", "--", "-x.rom", "COM3"}, Command::Upgrade, Command::Help, "-x.rom", ""},
        {{"read", "--", "--json"},
         Command::Read,
         Command::Help,
         "",
         "\"--json\" is not a port: write COM1 to COM1024"},
    };
    for (const auto& c : cases) {
        const auto parsed = zbctl::ParseArgs(c.args);
        EXPECT_EQ(parsed ? "" : parsed.error().reason, c.error);
        if (!c.error.empty()) continue;
        EXPECT_EQ(parsed->command, c.command) << ::testing::PrintToString(c.args);
        EXPECT_EQ(parsed->help_on, c.help_on) << ::testing::PrintToString(c.args);
        EXPECT_EQ(parsed->path, c.path) << ::testing::PrintToString(c.args);
    }
}

}  // namespace
