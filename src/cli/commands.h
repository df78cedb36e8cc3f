// The commands of the vantrel tool. Each takes its own arguments (without the command name),
// prints what it has to say, and returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace vantrel {

using Arguments = std::vector<std::string>;

int RunProbe(const Arguments& args);
int RunRemux(const Arguments& args);
int RunJoin(const Arguments& args);

}  // namespace vantrel
