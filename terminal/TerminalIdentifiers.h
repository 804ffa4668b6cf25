// The terminal launching core: the terminal catalogue, the front Finder folder, the command
// that is typed, and the openers that drive each terminal.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform.h"

namespace quaymark {

// The four terminals the system knows, each named by its bundle identifier or, for xterm,
// the path of its executable. Compared exactly, letter case included.
namespace terminal_identifier {
inline constexpr const char* kAppleTerminal = "com.apple.Terminal";
inline constexpr const char* kITerm = "net.sourceforge.iTerm";
inline constexpr const char* kITerm2 = "com.googlecode.iterm2";
inline constexpr const char* kXterm = "/usr/X11R6/bin/xterm";
}  // namespace terminal_identifier

class TerminalIdentifiers {
public:
    // Keeps references to the services; holds no other state.
    explicit TerminalIdentifiers(Platform platform) : _platform(platform) {}

    // The installed terminals, detected afresh, in the order Terminal, iTerm2, iTerm, xterm;
    // empty when none is installed.
    std::vector<std::string> installedTerminals() const;
    // The display name; nothing for a string that is not a catalogue identifier.
    std::optional<std::string> nameForTerminal(std::string_view identifier) const;
    // The identifier; nothing for a string that is not a catalogue display name.
    std::optional<std::string> identifierForTerminalName(std::string_view name) const;
    // False for anything not in installedTerminals() at the moment of the call.
    bool isTerminalInstalled(std::string_view identifier) const;

    // The folder the front Finder window shows, without a trailing slash (the root stays
    // "/"); a file or a missing item gives its parent folder. Raises PlatformException when
    // Finder has no window or its target has no URL that can be parsed.
    std::string pathToFrontFinderWindow() const;
    // The path as one shell word that bash and zsh read back unchanged; never fails.
    std::string fixedPath(std::string_view path) const;
    // The stored command template (or the default) with the escaped path in place of each
    // "%PATH%"; never fails.
    std::string commandWithPath(std::string_view escapedPath) const;

    // Opens the terminal at the front Finder folder, the Desktop when that cannot be had; an
    // unknown identifier opens nothing. Failures the chosen opener lets through pass on.
    void openTerminalWithIdentifier(std::string_view identifier, bool inNewWindow) const;
    // Swallows every failure.
    void openAppleTerminalWithCommand(const std::string& command, bool inNewWindow) const;
    // Command-T in process "Terminal", then a 0.25 s pause whatever came of it; false when
    // System Events did not press the keys (its answer or a PlatformException says so).
    bool emulateCMDTPressForAppleTerminal() const;
    // Command-T in process "iTerm", then a 0.25 s pause; false as above.
    bool emulateCMDTPressForIterm() const;
    // Starts xterm in the folder; raises PlatformException when it cannot be started.
    void openXtermAtPath(const std::string& path) const;
    // Swallows PlatformException silently; other exceptions pass.
    void openiTermWithCommand(const std::string& command, bool inNewWindow) const;
    // The classic path swallows PlatformException and logs it; the choice of vocabulary and
    // the next-generation path let everything pass.
    void openiTerm2WithCommand(const std::string& command, bool inNewWindow) const;
    // Lets every failure pass.
    void openiTerm2NextGenerationWithCommand(const std::string& command, bool inNewWindow) const;

private:
    bool isRunning(const std::string& bundleIdentifier) const;
    bool emulateCMDTPress(const std::string& processName) const;
    void openThroughClassicVocabulary(ITermScripting& target, bool wasRunning,
                                      const std::string& command, bool inNewWindow) const;

    Platform _platform;
};

}  // namespace quaymark
