// The installer from the command line, for people who set up their machines from scripts:
// `Quaymark install`, `Quaymark uninstall`, `Quaymark status`, `Quaymark --help`.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "FinderToolBarController.h"
#include "Platform.h"
#include "Result.h"

namespace quaymark {

// Exit statuses of the commands.
inline constexpr int kCommandSucceeded = 0;
// The command did not get all the way: a preference file could not be read, saving failed,
// or Finder did not come back.
inline constexpr int kCommandFailed = 1;
inline constexpr int kCommandUsageError = 2;

// Succeeds when an install or uninstall went through; otherwise the one line that says why it
// changed nothing: Finder's preferences could not be read, or the changed toolbar could not
// be saved.
Result<void> checkToolbarChange(const ToolbarChange& change);

// Carries out the command the arguments (without the program name) name, reporting on `out`
// and problems on `err`; one of the statuses above. Unknown words are a usage error.
int runInstallerCommand(const std::vector<std::string>& arguments,
                        FinderToolBarController& controller, Platform platform, std::ostream& out,
                        std::ostream& err);

}  // namespace quaymark
