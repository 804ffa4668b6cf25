#include "TerminalIdentifiers.h"

#include <array>
#include <chrono>
#include <utility>

#include "PathUtilities.h"
#include "PlatformException.h"
#include "QuaymarkPreferences.h"
#include "Url.h"

namespace quaymark {

namespace {

using namespace std::chrono_literals;

struct CatalogueEntry {
    std::string_view identifier;
    std::string_view name;
};

constexpr std::array<CatalogueEntry, 4> kCatalogue{{
    {terminal_identifier::kAppleTerminal, "Terminal"},
    {terminal_identifier::kITerm, "iTerm"},
    {terminal_identifier::kITerm2, "iTerm2"},
    {terminal_identifier::kXterm, "xterm"},
}};

// Detection order, which the settings window's list shows as well: iTerm2 before iTerm.
constexpr std::array<const char*, 3> kDetectedBundles{
    terminal_identifier::kAppleTerminal, terminal_identifier::kITerm2, terminal_identifier::kITerm};

constexpr const char* kFinderBundleIdentifier = "com.apple.Finder";
constexpr const char* kDefaultSessionProfile = "Default Session";
constexpr std::string_view kPlaceholder = "%PATH%";
// Long enough for the new tab to exist before the command is sent to it.
constexpr std::chrono::microseconds kKeystrokePause = 250000us;

// The characters a shell treats specially in a word, each written with a backslash.
constexpr std::string_view kEscapeSet = "\\ !#^$%&*?()={}[]'`~|;<>\"";

// Writes one byte as an ANSI-C quoted sequence, which bash and zsh both turn back into the
// byte, so that a control character or a stray byte is never typed into the terminal.
void appendQuotedByte(std::string& out, unsigned char byte) {
    switch (byte) {
        case '\t':
            out += "$'\\t'";
            return;
        case '\n':
            out += "$'\\n'";
            return;
        case '\r':
            out += "$'\\r'";
            return;
        default:
            out += "$'\\";
            out += static_cast<char>('0' + (byte >> 6));
            out += static_cast<char>('0' + ((byte >> 3) & 7));
            out += static_cast<char>('0' + (byte & 7));
            out += '\'';
    }
}

// Length of the well-formed UTF-8 sequence starting at `at` (no overlong forms, no
// surrogates, nothing above U+10FFFF); 0 when the byte there starts none.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
    auto byte = [&](std::size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
    };
    auto continues = [&](std::size_t i, unsigned char low = 0x80, unsigned char high = 0xBF) {
        return byte(i) >= low && byte(i) <= high;
    };
    unsigned char lead = byte(0);
    if (lead >= 0xC2 && lead <= 0xDF)
        return continues(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return continues(1, low, high) && continues(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return continues(1, low, high) && continues(2) && continues(3) ? 4 : 0;
    }
    return 0;
}

// "%%" becomes "%"; a lone "%" has no meaning of its own and is kept as it is.
void appendTemplateText(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%')
            ++i;
    }
}

}  // namespace

std::vector<std::string> TerminalIdentifiers::installedTerminals() const {
    std::vector<std::string> installed;
    for (const char* bundleIdentifier : kDetectedBundles) {
        if (_platform.workspace.absolutePathForAppBundleWithIdentifier(bundleIdentifier)) {
            installed.emplace_back(bundleIdentifier);
        }
    }
    if (_platform.fileManager.fileExistsAtPath(terminal_identifier::kXterm)) {
        installed.emplace_back(terminal_identifier::kXterm);
    }
    return installed;
}

std::optional<std::string> TerminalIdentifiers::nameForTerminal(std::string_view identifier) const {
    for (const CatalogueEntry& entry : kCatalogue) {
        if (entry.identifier == identifier)
            return std::string(entry.name);
    }
    return std::nullopt;
}

std::optional<std::string> TerminalIdentifiers::identifierForTerminalName(
    std::string_view name) const {
    for (const CatalogueEntry& entry : kCatalogue) {
        if (entry.name == name)
            return std::string(entry.identifier);
    }
    return std::nullopt;
}

bool TerminalIdentifiers::isTerminalInstalled(std::string_view identifier) const {
    for (const std::string& installed : installedTerminals()) {
        if (installed == identifier)
            return true;
    }
    return false;
}

std::string TerminalIdentifiers::pathToFrontFinderWindow() const {
    std::unique_ptr<FinderScripting> finder = _platform.scripting.finder(kFinderBundleIdentifier);
    std::optional<std::string> urlString = finder->frontWindowTargetUrl();
    // Making a URL of no string, or of text that is no URL, is the platform's failure.
    if (!urlString) {
        throw PlatformException("NSInvalidArgumentException",
                                "the front Finder window's target has no URL");
    }
    std::optional<Url> url = Url::fromString(*urlString);
    if (!url)
        throw PlatformException("NSInvalidArgumentException", "not a URL: " + *urlString);

    bool isFolder = false;
    // Only a file URL naming an existing item gives a file-system reference; without one the
    // folder flag stays false and the parent of the named path is used.
    if (url->isFileUrl()) {
        if (std::optional<AliasResolution> resolution =
                _platform.fileManager.resolveAliasFile(url->path())) {
            isFolder = resolution->succeeded && resolution->isFolder;
            if (resolution->succeeded && resolution->wasAliased) {
                url = Url::fileUrlWithPath(resolution->resolvedPath, resolution->isFolder);
            }
        }
    }
    std::string path = url->path();
    if (!isFolder)
        path = stringByDeletingLastPathComponent(path);
    return path;
}

std::string TerminalIdentifiers::fixedPath(std::string_view path) const {
    // One pass that puts a backslash before each character of the escape set; it gives what
    // replacing the set's characters one after the other gives when the backslash goes first.
    std::string fixed;
    fixed.reserve(path.size() * 2);
    for (std::size_t i = 0; i < path.size();) {
        auto byte = static_cast<unsigned char>(path[i]);
        if (byte < 0x80) {
            // No path holds U+0000, but should one appear it is quoted like the other controls.
            if (byte < 0x20 || byte == 0x7F) {
                appendQuotedByte(fixed, byte);
            } else {
                if (kEscapeSet.find(static_cast<char>(byte)) != std::string_view::npos) {
                    fixed += '\\';
                }
                fixed += static_cast<char>(byte);
            }
            ++i;
            continue;
        }
        std::size_t length = utf8SequenceLength(path, i);
        bool isC1Control =
            length == 2 && byte == 0xC2 && static_cast<unsigned char>(path[i + 1]) <= 0x9F;
        if (length == 0) {
            appendQuotedByte(fixed, byte);
            ++i;
        } else if (isC1Control) {
            appendQuotedByte(fixed, byte);
            appendQuotedByte(fixed, static_cast<unsigned char>(path[i + 1]));
            i += 2;
        } else {
            fixed.append(path.substr(i, length));
            i += length;
        }
    }
    return fixed;
}

std::string TerminalIdentifiers::commandWithPath(std::string_view escapedPath) const {
    std::optional<PlistValue> stored =
        _platform.preferences.copyAppValue(preference_key::kTerminalCommand, kPreferencesDomain);
    // The system only ever stores a string here; anything else counts as no template.
    std::string commandTemplate =
        stored && stored->asString() ? *stored->asString() : kDefaultCommandTemplate;
    // The placeholders are found first, left to right, so "%%PATH%" is a "%" and then the
    // path; only the text between them is read for "%%", and the inserted path never is.
    std::string command;
    std::string_view rest = commandTemplate;
    for (std::size_t found = rest.find(kPlaceholder); found != std::string_view::npos;
         found = rest.find(kPlaceholder)) {
        appendTemplateText(command, rest.substr(0, found));
        command += escapedPath;
        rest.remove_prefix(found + kPlaceholder.size());
    }
    appendTemplateText(command, rest);
    return command;
}

void TerminalIdentifiers::openTerminalWithIdentifier(std::string_view identifier,
                                                     bool inNewWindow) const {
    std::string folder;
    try {
        folder = pathToFrontFinderWindow();
    } catch (const PlatformException&) {
        // Finder could not say: the Desktop stands in, without a word to anyone.
        folder = stringByExpandingTildeInPath("~/Desktop", _platform.fileManager.homeDirectory());
    }
    std::string command = commandWithPath(fixedPath(folder));

    if (identifier == terminal_identifier::kAppleTerminal) {
        openAppleTerminalWithCommand(command, inNewWindow);
    } else if (identifier == terminal_identifier::kITerm) {
        openiTermWithCommand(command, inNewWindow);
    } else if (identifier == terminal_identifier::kITerm2) {
        openiTerm2WithCommand(command, inNewWindow);
    } else if (identifier == terminal_identifier::kXterm) {
        // xterm starts in the folder itself, so it takes the path as the file system names it.
        openXtermAtPath(folder);
    }
}

void TerminalIdentifiers::openAppleTerminalWithCommand(const std::string& command,
                                                       bool inNewWindow) const {
    try {
        std::unique_ptr<TerminalScripting> terminal =
            _platform.scripting.terminal(terminal_identifier::kAppleTerminal);
        // Asked before activate, which would make the answer always yes.
        bool wasRunning = terminal->isRunning();
        terminal->activate();
        if (!wasRunning) {
            // Terminal has just opened its first window; the command goes there.
            ObjectSpecifier window = terminal->windowAtIndex(0);
            terminal->doScript(command, window);
        } else if (inNewWindow) {
            terminal->doScript(command, std::nullopt);
        } else {
            // Taken before the keystroke but resolved only by doScript, when it names the
            // front window, whose selected tab is the one the keystroke opened.
            ObjectSpecifier window = terminal->windowAtIndex(0);
            bool tabOpened = emulateCMDTPressForAppleTerminal();
            // Without the new tab the front tab still runs whatever it ran (an editor, ssh, a
            // half-typed line that the command would complete), so a new window takes it.
            terminal->doScript(command, tabOpened ? std::optional(window) : std::nullopt);
        }
    } catch (...) {
        // Whatever goes wrong, the click ends quietly; what was done stays done.
    }
}

bool TerminalIdentifiers::emulateCMDTPressForAppleTerminal() const {
    return emulateCMDTPress("Terminal");
}

// Also used for iTerm2, whose keystroke goes to process "iTerm" all the same.
bool TerminalIdentifiers::emulateCMDTPressForIterm() const {
    return emulateCMDTPress("iTerm");
}

bool TerminalIdentifiers::emulateCMDTPress(const std::string& processName) const {
    std::string source = "tell application \"System Events\" to tell process \"" + processName +
                         "\" to keystroke \"t\" using command down";
    bool pressed = false;
    try {
        // A Mac without the keystroke permission answers with an error message here.
        pressed = static_cast<bool>(_platform.appleScript.executeScript(source));
    } catch (const PlatformException&) {
        // A raised failure is a failed script like any other; the pause is still taken.
    }
    _platform.clock.sleepFor(kKeystrokePause);
    return pressed;
}

void TerminalIdentifiers::openXtermAtPath(const std::string& path) const {
    TaskOptions options;
    options.launchPath = terminal_identifier::kXterm;
    options.currentDirectory = path;
    options.environment = _platform.tasks.processEnvironment();
    // Both of xterm's streams go to this program's standard output.
    options.standardOutput = TaskStream::ToStandardOutput;
    options.standardError = TaskStream::ToStandardOutput;
    // The task is not waited for: xterm outlives this call and the program.
    _platform.tasks.launch(options);
}

void TerminalIdentifiers::openiTermWithCommand(const std::string& command, bool inNewWindow) const {
    try {
        bool wasRunning = isRunning(terminal_identifier::kITerm);
        std::unique_ptr<ITermScripting> iTerm =
            _platform.scripting.iTerm(terminal_identifier::kITerm);
        openThroughClassicVocabulary(*iTerm, wasRunning, command, inNewWindow);
    } catch (const PlatformException&) {
        // iTerm could not be driven; the click ends quietly.
    }
}

void TerminalIdentifiers::openiTerm2WithCommand(const std::string& command,
                                                bool inNewWindow) const {
    bool wasRunning = isRunning(terminal_identifier::kITerm2);
    std::unique_ptr<ITermScripting> iTerm2 =
        _platform.scripting.iTerm(terminal_identifier::kITerm2);
    if (!iTerm2->respondsToTerminals()) {
        openiTerm2NextGenerationWithCommand(command, inNewWindow);
        return;
    }
    try {
        openThroughClassicVocabulary(*iTerm2, wasRunning, command, inNewWindow);
    } catch (const PlatformException& exception) {
        _platform.log.log(exception.description());
    }
}

void TerminalIdentifiers::openiTerm2NextGenerationWithCommand(const std::string& command,
                                                              bool inNewWindow) const {
    std::unique_ptr<ITermScripting> iTerm2 =
        _platform.scripting.iTerm(terminal_identifier::kITerm2);
    bool wasRunning = isRunning(terminal_identifier::kITerm2);
    iTerm2->activate();
    ObjectSpecifier window = iTerm2->currentWindow();
    ObjectSpecifier session;
    if (wasRunning) {
        bool hasWindow = iTerm2->get(window);
        // Each reference is taken afresh, so it names the window that is current when the
        // command runs: after a new window, that one.
        if (!inNewWindow && hasWindow) {
            iTerm2->createTabWithDefaultProfile(iTerm2->currentWindow(), std::nullopt);
        } else {
            iTerm2->createWindowWithDefaultProfile(std::nullopt);
        }
        session = iTerm2->currentSession(iTerm2->currentWindow());
    } else {
        // The window iTerm2 opened when it started.
        session = iTerm2->currentSession(window);
    }
    bool takesNewline = iTerm2->sessionRespondsToWriteWithNewline(session);
    ObjectSpecifier target = iTerm2->currentSession(iTerm2->currentWindow());
    if (takesNewline) {
        iTerm2->writeContentsOfFile(target, std::nullopt, command, true);
    } else {
        iTerm2->writeContentsOfFile(target, std::nullopt, command);
    }
}

bool TerminalIdentifiers::isRunning(const std::string& bundleIdentifier) const {
    return !_platform.workspace.runningApplicationsWithBundleIdentifier(bundleIdentifier).empty();
}

void TerminalIdentifiers::openThroughClassicVocabulary(ITermScripting& target, bool wasRunning,
                                                       const std::string& command,
                                                       bool inNewWindow) const {
    ObjectSpecifier terminal;
    target.activate();
    if (!wasRunning) {
        // The window the application opened when it started; nothing is created.
        terminal = target.currentTerminal();
    } else {
        std::optional<ObjectSpecifier> terminals = target.terminals();
        // A refused keystroke made no tab, and the current session may run anything (an
        // editor, ssh, a half-typed line), so a new terminal takes the command instead.
        if (!inNewWindow && terminals && emulateCMDTPressForIterm()) {
            // Asked only now, so that it names the terminal holding the new tab.
            terminal = target.currentTerminal();
        } else {
            terminal = target.makeTerminal();
            // With no list there is nothing to add the terminal to, as a message to nil does
            // nothing; the session is launched in it all the same.
            if (terminals)
                target.addObject(*terminals, terminal);
            target.launchSession(terminal, kDefaultSessionProfile);
        }
    }
    target.writeContentsOfFile(target.currentSession(terminal), std::nullopt, command);
}

}  // namespace quaymark
