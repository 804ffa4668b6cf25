// Laying out the bundles of the stand-in terminals in a desktop's system root.
#pragma once

#include <optional>
#include <string>

#include "Result.h"
#include "launch/SystemRoot.h"
#include "scripting/TerminalStandIn.h"

namespace quaymark {

// Where the stand-in of a terminal is installed, as the system names the path.
std::string terminalStandInPath(TerminalKind kind);

// Lays out the stand-in bundle of a terminal inside the system root, replacing one laid out
// before: Contents/Info.plist (identifier, version, executable and the stand-in role),
// Contents/MacOS/<process name> (a copy of the built `standInProgram`) and
// Contents/Resources/tmux.conf, whose windows run `shell` ("bash", "zsh" or a path) as a
// plain interactive shell started in $HOME. The reason when it could not be done.
Result<void> layOutTerminalStandIn(const SystemRoot& root, TerminalKind kind,
                                   const std::string& version, const std::string& shell,
                                   const std::string& standInProgram);

// The tmux configuration of a stand-in whose windows run the shell at `shellPath`.
std::string standInTmuxConfiguration(TerminalKind kind, const std::string& version,
                                     const std::string& shellPath);

}  // namespace quaymark
