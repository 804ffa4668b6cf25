#include "standins/FinderStandIn.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "HostSystem.h"
#include "Url.h"
#include "plist/PlistCodec.h"
#include "preferences/AtomicFile.h"
#include "preferences/FilePreferences.h"
#include "standins/FinderKeeper.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

const char* const kToolbarKey = "NSToolbar Configuration Browser";
const char* const kFinderDomain = "com.apple.finder";

PlistDictionary failure(const std::string& message) {
    return PlistDictionary{{"Error", message}};
}

// The application bundle a location item's URL names, as the system names it.
std::optional<std::string> applicationPath(const PlistValue& itemPlist) {
    const PlistDictionary* item = itemPlist.asDictionary();
    const PlistValue* urlString = item ? item->find("_CFURLString") : nullptr;
    if (!urlString || !urlString->asString())
        return std::nullopt;
    std::optional<Url> url = Url::fromString(*urlString->asString());
    if (!url || !url->isFileUrl())
        return std::nullopt;
    std::string path = url->path();
    if (!path.ends_with(".app"))
        return std::nullopt;
    return path;
}

}  // namespace

FinderChannel::FinderChannel(const SystemRoot& root)
    : folder(root.runtimeDirectory() + "/finder"),
      requests(folder + "/requests"),
      responses(folder + "/responses"),
      loadedToolbar(folder + "/loaded-toolbar.plist"),
      keeper(folder + "/keeper.plist") {}

FinderStandIn::FinderStandIn(SystemRoot root, std::string home)
    : _root(std::move(root)), _home(std::move(home)), _channel(_root), _workspace(_root, _home) {}

void FinderStandIn::loadToolbar() {
    StderrLog log("Finder");
    FilePreferences preferences = FilePreferences::forHome(_home, log);
    _toolbar = preferences.copyAppValue(kToolbarKey, kFinderDomain);
    PlistDictionary record{{"Pid", PlistValue::integer(getpid())}};
    if (_toolbar)
        record.set("Toolbar", *_toolbar);
    writePlistFileAtomically(_channel.loadedToolbar, record);
}

PlistDictionary FinderStandIn::click(std::optional<std::int64_t> index) {
    const PlistDictionary* toolbar = _toolbar ? _toolbar->asDictionary() : nullptr;
    const PlistValue* identifiers = toolbar ? toolbar->find("TB Item Identifiers") : nullptr;
    const PlistValue* plists = toolbar ? toolbar->find("TB Item Plists") : nullptr;
    if (!identifiers || !identifiers->asArray())
        return failure("the toolbar has no items");
    auto count = static_cast<std::int64_t>(identifiers->asArray()->size());

    // Without an index, the first item that leads to an application is clicked.
    std::optional<std::string> path;
    for (std::int64_t position = index.value_or(0); position < (index ? *index + 1 : count);
         ++position) {
        if (position < 0 || position >= count)
            return failure("there is no toolbar item " + std::to_string(position));
        const PlistValue* item = plists && plists->asDictionary()
                                     ? plists->asDictionary()->find(std::to_string(position))
                                     : nullptr;
        if (item && (path = applicationPath(*item))) {
            index = position;
            break;
        }
    }
    if (!path)
        return failure(index ? "toolbar item " + std::to_string(*index) + " leads to no application"
                             : "no toolbar item leads to an application");
    int pid = _workspace.launchBundle(*path, {});
    if (pid <= 0)
        return failure("could not launch " + *path);
    return PlistDictionary{{"Index", PlistValue::integer(*index)},
                           {"Launched", *path},
                           {"Pid", PlistValue::integer(pid)}};
}

PlistDictionary FinderStandIn::addItem(const std::string& path) {
    std::error_code error;
    bool isFolder = fs::is_directory(_root.map(path), error);
    if (!isFolder && !fs::exists(_root.map(path), error))
        return failure(path + " does not exist");

    // What the user sees: the stored configuration, or an empty toolbar when there is none.
    PlistDictionary toolbar;
    if (_toolbar && _toolbar->asDictionary())
        toolbar = *_toolbar->asDictionary();
    PlistArray identifiers;
    if (const PlistValue* stored = toolbar.find("TB Item Identifiers");
        stored && stored->asArray()) {
        identifiers = *stored->asArray();
    }
    PlistDictionary plists;
    if (const PlistValue* stored = toolbar.find("TB Item Plists");
        stored && stored->asDictionary()) {
        plists = *stored->asDictionary();
    }
    // A dragged item goes to the end of the toolbar, under the position key of its place.
    std::string position = std::to_string(identifiers.size());
    identifiers.push_back("com.apple.finder.loc ");
    plists.set(position, PlistDictionary{{"_CFURLString",
                                          Url::fileUrlWithPath(path, isFolder).absoluteString()},
                                         {"_CFURLStringType", PlistValue::integer(15)}});
    toolbar.set("TB Item Identifiers", identifiers);
    toolbar.set("TB Item Plists", plists);

    StderrLog log("Finder");
    FilePreferences preferences = FilePreferences::forHome(_home, log);
    preferences.setAppValue(kToolbarKey, PlistValue(toolbar), kFinderDomain);
    if (!preferences.appSynchronize(kFinderDomain))
        return failure("cannot save the toolbar");
    _toolbar = PlistValue(toolbar);
    return PlistDictionary{{"Index", PlistValue::integer(std::stoll(position))}};
}

PlistDictionary FinderStandIn::handle(const PlistDictionary& request) {
    const PlistValue* action = request.find("Action");
    const std::string* name = action ? action->asString() : nullptr;
    if (name && *name == "click") {
        const PlistValue* index = request.find("Index");
        return click(index ? index->asInteger() : std::nullopt);
    }
    const PlistValue* path = request.find("Path");
    if (name && *name == "add-item" && path && path->asString())
        return addItem(*path->asString());
    return failure("unknown request");
}

void FinderStandIn::serveRequests() {
    std::error_code error;
    std::vector<fs::path> pending;
    for (const auto& entry : fs::directory_iterator(_channel.requests, error)) {
        if (entry.path().extension() == ".plist")
            pending.push_back(entry.path());
    }
    std::sort(pending.begin(), pending.end());
    for (const fs::path& request : pending) {
        std::optional<DecodedPlist> decoded = readPlistFile(request.string());
        const PlistDictionary* dictionary = decoded ? decoded->value.asDictionary() : nullptr;
        PlistDictionary response = dictionary ? handle(*dictionary) : failure("unreadable request");
        writePlistFileAtomically((fs::path(_channel.responses) / request.filename()).string(),
                                 response);
        fs::remove(request, error);
    }
}

int FinderStandIn::run() {
    // The signals are taken with sigwait, so they are blocked before anything else happens.
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGUSR1, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::error_code error;
    fs::create_directories(_channel.requests, error);
    fs::create_directories(_channel.responses, error);
    // Started by launch services it is registered already; started by hand it registers
    // itself, so that the system sees it either way.
    _workspace.registry().add({getpid(), kFinderDomain, "Finder"});
    // As on a Mac, Finder comes back whenever it ends, however this one was started; the
    // keeper is this same program.
    std::string program = fs::read_symlink("/proc/self/exe", error).string();
    if (error || !FinderKeeper::startUnlessRunning(_root, program))
        std::fprintf(stderr, "Finder: cannot start the keeper that restarts Finder\n");
    loadToolbar();
    serveRequests();

    while (true) {
        int received = 0;
        if (sigwait(&signals, &received) != 0)
            continue;
        if (received == SIGUSR1) {
            serveRequests();
            continue;
        }
        _workspace.registry().remove(getpid());
        return 0;
    }
}

}  // namespace quaymark
