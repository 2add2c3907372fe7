// zbctl's bash completion script, made from the tables the parser (cli_args.h) and the
// record fields (jobs/record_fields.h) read, so that a new option, command or field value
// is completed without anyone editing the script. The build writes it; pure.
#pragma once

#include <string>

namespace zbctl {

// A script for bash-completion's completions folder: commands, options, the ports of the
// port map (from `zbctl ports`), --set's field names and the values the window shows for
// them, and files or folders where a command or option takes one.
std::string BashCompletionScript();

}  // namespace zbctl
