// The builder's commands. Each takes the arguments after its name and
// returns the exit status: 0 done, 1 any error (and then nothing written).
#pragma once

#include <string>
#include <vector>

namespace mkinstaller {

using Args = std::vector<std::string>;

int run_build(const Args& args);
int run_check(const Args& args);
int run_pack(const Args& args);
int run_inspect(const Args& args);
int run_list(const Args& args);

// Help texts of the tool ("") and of each command.
const char* help_text(const std::string& command);

}  // namespace mkinstaller
