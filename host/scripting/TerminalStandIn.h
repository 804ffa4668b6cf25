// The stand-in terminal applications: what a bundle stands in for, the scripting
// vocabulary it speaks, and where its tmux server listens.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "launch/SystemRoot.h"

namespace quaymark {

enum class TerminalKind { AppleTerminal, ITerm, ITerm2 };

enum class TerminalVocabulary { AppleTerminal, ITermClassic, ITermNextGeneration };

// The Info.plist key whose string names the role of a stand-in application bundle.
inline constexpr const char* kStandInRoleKey = "QuaymarkStandIn";

// "Terminal", "iTerm" or "iTerm2": the value of kStandInRoleKey.
std::string standInRole(TerminalKind kind);
std::optional<TerminalKind> terminalKindForRole(std::string_view role);
std::string bundleIdentifierFor(TerminalKind kind);
// iTerm2 before version 3 ran as process "iTerm", as iTerm itself does.
std::string processNameFor(TerminalKind kind, std::string_view version);
// iTerm2 before version 3 speaks the classic vocabulary; a version without a leading
// number counts as a current one.
TerminalVocabulary vocabularyFor(TerminalKind kind, std::string_view version);

struct TerminalStandIn {
    TerminalKind kind = TerminalKind::AppleTerminal;
    std::string bundleIdentifier;
    std::string processName;  // CFBundleExecutable, the name launch services registers
    std::string version;      // CFBundleShortVersionString
    std::string realBundlePath;

    TerminalVocabulary vocabulary() const { return vocabularyFor(kind, version); }
    std::string tmuxConfiguration() const {
        return realBundlePath + "/Contents/Resources/tmux.conf";
    }
};

// Nothing when the folder holds no stand-in terminal bundle.
std::optional<TerminalStandIn> readTerminalStandIn(const std::string& realBundlePath);

// The socket of the tmux server behind the application. Named by bundle identifier, not by
// process name: iTerm and iTerm2 before 3 share the process name "iTerm".
std::string tmuxSocketPath(const SystemRoot& root, const std::string& bundleIdentifier);

}  // namespace quaymark
