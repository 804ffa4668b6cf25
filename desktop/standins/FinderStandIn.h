// The Finder stand-in: a process that loads its toolbar at start and clicks toolbar items.
#pragma once

#include <optional>
#include <string>

#include "PlistValue.h"
#include "launch/HostWorkspace.h"
#include "launch/SystemRoot.h"

namespace quaymark {

// Folders inside the desktop's runtime folder through which the desktop tool talks to the
// running Finder: it drops a request file, signals SIGUSR1, and waits for the response file.
struct FinderChannel {
    explicit FinderChannel(const SystemRoot& root);
    std::string folder;         // <runtime>/finder
    std::string requests;       // <runtime>/finder/requests
    std::string responses;      // <runtime>/finder/responses
    std::string loadedToolbar;  // what Finder loaded at its last start
    std::string keeper;         // the pid of the process that keeps Finder running
};

class FinderStandIn {
public:
    FinderStandIn(SystemRoot root, std::string home);

    // Starts the desktop's Finder keeper unless it runs, then serves until SIGTERM, SIGINT or
    // SIGHUP; returns the exit status.
    int run();

    // Carries out one request, {"Action": "click", optional "Index"} or {"Action":
    // "add-item", "Path"} (the user dragging an item into the toolbar); the response.
    PlistDictionary handle(const PlistDictionary& request);

private:
    void loadToolbar();
    void serveRequests();
    PlistDictionary click(std::optional<std::int64_t> index);
    PlistDictionary addItem(const std::string& path);

    SystemRoot _root;
    std::string _home;
    FinderChannel _channel;
    HostWorkspace _workspace;
    std::optional<PlistValue> _toolbar;
};

}  // namespace quaymark
