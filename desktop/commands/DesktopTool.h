// The desktop tool's commands, so that tests can run them without a process of their own.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace quaymark {

// Runs one command line of `quaymark-desktop` (without the program name), writing to `out`
// and `err`; returns the exit status.
int runDesktopTool(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace quaymark
