#include "commands/DesktopTool.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <sstream>

#include "commands/DesktopCommand.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

// The tool's commands in the order its usage shows them.
const DesktopCommand* const kCommands[] = {
    &kCreateCommand,       &kInstallCommand, &kStartCommand,   &kSettingsCommand,
    &kStopCommand,         &kOpenCommand,    &kCloseCommand,   &kFinderCommand,
    &kAddToToolbarCommand, &kClickCommand,   &kShowCommand,    &kKeystrokesCommand,
    &kReachabilityCommand, &kEnvCommand,     &kDisplayCommand, &kWindowsCommand,
    &kWaitWindowCommand,   &kKeysCommand,    &kTypeCommand,    &kScreenshotCommand,
    &kServeFeedCommand,    &kRunCommand,     &kDestroyCommand, &kDemoCommand,
};

// Where the usage starts each command's description, and every further line of it.
constexpr std::size_t kUsageColumn = 26;

// The usage text: the tool's synopsis, then each command with its arguments and, from
// kUsageColumn on (on a line of its own when the arguments reach that far), what it does.
std::string usage() {
    std::ostringstream text;
    text << "usage: quaymark-desktop [-d DESKTOP] COMMAND [ARGUMENTS]\n\n"
            "The desktop folder comes from -d or from $QUAYMARK_DESKTOP.\n\n";
    const std::string indent(kUsageColumn, ' ');
    for (const DesktopCommand* command : kCommands) {
        std::string synopsis = "  " + std::string(command->name);
        if (!command->arguments.empty())
            synopsis += " " + std::string(command->arguments);
        const std::size_t lastLine = synopsis.size() - (synopsis.rfind('\n') + 1);
        text << synopsis
             << (lastLine < kUsageColumn ? std::string(kUsageColumn - lastLine, ' ')
                                         : "\n" + indent);
        std::string description(command->usage);
        for (std::size_t end; (end = description.find('\n')) != std::string::npos;) {
            text << description.substr(0, end) << "\n" << indent;
            description.erase(0, end + 1);
        }
        text << description << "\n";
    }
    return text.str();
}

const DesktopCommand* commandNamed(const std::string& name) {
    auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                              [&](const DesktopCommand* command) { return command->name == name; });
    return found == std::end(kCommands) ? nullptr : *found;
}

// An option the tool does not know, or one left without its value, is a mistake to tell
// rather than to ignore; false after telling it.
bool knowsEveryFlag(const ToolArguments& arguments, std::ostream& err) {
    static const std::vector<std::string> kFlags = {"--help", "--home", "--all", "--keep"};
    for (const std::string& flag : arguments.flags) {
        if (std::find(kFlags.begin(), kFlags.end(), flag) == kFlags.end()) {
            err << "unknown option, or one without its value: " << flag << "\n" << usage();
            return false;
        }
    }
    return true;
}

}  // namespace

int runDesktopTool(const std::vector<std::string>& argumentList, std::ostream& out,
                   std::ostream& err) {
    const ToolArguments arguments = parseToolArguments(argumentList);
    if (arguments.words.empty() || arguments.hasFlag("--help")) {
        (arguments.words.empty() && !arguments.hasFlag("--help") ? err : out) << usage();
        return arguments.hasFlag("--help") ? 0 : 2;
    }
    if (!knowsEveryFlag(arguments, err))
        return 2;
    const DesktopCommand* command = commandNamed(arguments.words.front());
    const std::vector<std::string> words(arguments.words.begin() + 1, arguments.words.end());
    if (command && !command->onDesktop)
        return command->handler({arguments, words, nullptr, out, err});

    const char* fromEnvironment = std::getenv("QUAYMARK_DESKTOP");
    std::string folder = arguments.option("-d", fromEnvironment ? fromEnvironment : "");
    if (folder.empty()) {
        err << "which desktop? Give -d DESKTOP or set QUAYMARK_DESKTOP\n";
        return 2;
    }
    std::error_code error;
    Desktop desktop(fs::weakly_canonical(folder, error).string());
    if (!desktop.exists()) {
        err << folder << " is no desktop (make one with: quaymark-desktop create " << folder
            << ")\n";
        return 1;
    }
    desktop.enter();

    const bool fits =
        command && words.size() >= command->fewestWords && words.size() <= command->mostWords;
    const int status =
        fits ? command->handler({arguments, words, &desktop, out, err}) : kWrongArguments;
    if (status == kWrongArguments) {
        err << usage();
        return 2;
    }
    return status;
}

}  // namespace quaymark
