// The commands that talk to the desktop's Finder: its windows and its toolbar.
#include <filesystem>
#include <ostream>
#include <sstream>

#include "commands/DesktopCommand.h"

namespace quaymark {

namespace fs = std::filesystem;

std::string describe(const PlistDictionary& answer) {
    if (const PlistValue* error = answer.find("Error"))
        return "failed: " + error->description();
    std::ostringstream out;
    for (const auto& [key, value] : answer)
        out << key << " " << value << "; ";
    return out.str();
}

namespace {

int open(const Invocation& call) {
    std::string path = fs::absolute(call.words[0]).lexically_normal().string();
    if (!call.desktop->openFinderWindow(path)) {
        call.err << "cannot open a Finder window\n";
        return 1;
    }
    return 0;
}

int close(const Invocation& call) {
    if (!call.desktop->closeFinderWindow()) {
        call.err << "Finder has no window\n";
        return 1;
    }
    return 0;
}

int finder(const Invocation& call) {
    std::vector<FinderWindow> windows = call.desktop->finderWindows();
    call.out << "Finder windows, front to back: " << windows.size() << "\n";
    for (const FinderWindow& window : windows)
        call.out << "  " << window.targetUrl.value_or("(no target)") << "\n";
    if (auto toolbar = call.desktop->loadedToolbar())
        call.out << "Toolbar loaded at start: " << PlistValue(*toolbar) << "\n";
    return 0;
}

int tell(const Invocation& call, const PlistDictionary& answer) {
    (answer.contains("Error") ? call.err : call.out) << describe(answer) << "\n";
    return answer.contains("Error") ? 1 : 0;
}

int addToToolbar(const Invocation& call) {
    return tell(call, call.desktop->addToolbarItem(call.words[0]));
}

int click(const Invocation& call) {
    std::optional<int> index;
    if (!call.words.empty())
        index = std::stoi(call.words[0]);
    return tell(call, call.desktop->clickToolbarItem(index));
}

}  // namespace

const DesktopCommand kOpenCommand{.name = "open",
                                  .arguments = "PATH",
                                  .usage = "open a Finder window in front, showing PATH",
                                  .handler = open,
                                  .fewestWords = 1,
                                  .mostWords = 1};

const DesktopCommand kCloseCommand{
    .name = "close", .usage = "close the front Finder window", .handler = close};

const DesktopCommand kFinderCommand{
    .name = "finder",
    .usage = "Finder's windows, front to back, and the toolbar it loaded",
    .handler = finder};

const DesktopCommand kAddToToolbarCommand{
    .name = "add-to-toolbar",
    .arguments = "PATH",
    .usage = "drag an item (such as QuaymarkHelper.app) into Finder's toolbar",
    .handler = addToToolbar,
    .fewestWords = 1,
    .mostWords = 1};

const DesktopCommand kClickCommand{
    .name = "click",
    .arguments = "[INDEX]",
    .usage = "click a toolbar item (by default the first that leads to an app)",
    .handler = click,
    .mostWords = 1};

}  // namespace quaymark
