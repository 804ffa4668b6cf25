// The commands that set what the update check meets: the network's reachability and a feed
// served on 127.0.0.1.
#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <sstream>

#include "commands/DesktopCommand.h"
#include "network/HostReachability.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

// "reachable,connection-required" and the like as the service's flags; "none" is 0, and
// nothing for a word it does not know.
std::optional<std::uint32_t> reachabilityFlags(const std::string& words) {
    static const std::map<std::string, std::uint32_t> kFlags = {
        {"none", 0},
        {"reachable", reachability_flag::kReachable},
        {"connection-required", reachability_flag::kConnectionRequired},
        {"transient-connection", reachability_flag::kTransientConnection},
    };
    std::uint32_t flags = 0;
    std::stringstream list(words);
    std::string word;
    while (std::getline(list, word, ',')) {
        auto flag = kFlags.find(word);
        if (flag == kFlags.end())
            return std::nullopt;
        flags |= flag->second;
    }
    return flags;
}

int reachability(const Invocation& call) {
    const std::string& host = call.words[0];
    std::optional<std::uint32_t> flags = reachabilityFlags(call.words[1]);
    if (!flags && call.words[1] != "real") {
        call.err << "unknown reachability flags: " << call.words[1] << "\n";
        return 2;
    }
    if (!HostReachability::setFlagsForHostName(call.desktop->systemRoot(), host, flags)) {
        call.err << "cannot set the reachability of " << host << "\n";
        return 1;
    }
    return 0;
}

int serveFeed(const Invocation& call) {
    std::string server = StandInPrograms::besideRunningExecutable("feed/quaymark-feed-server");
    Result<void> served = call.desktop->serveFeed(fs::absolute(call.words[0]).string(), server);
    if (!served) {
        call.err << served.error() << "\n";
        return 1;
    }
    call.out << call.desktop->feed()->address << "\n";
    return 0;
}

}  // namespace

const DesktopCommand kReachabilityCommand{
    .name = "reachability",
    .arguments = "HOST FLAG[,FLAG...]|real",
    .usage =
        "what the network reachability service answers for HOST:\n"
        "reachable, connection-required, transient-connection or none;\n"
        "real asks the machine again",
    .handler = reachability,
    .fewestWords = 2,
    .mostWords = 2};

const DesktopCommand kServeFeedCommand{
    .name = "serve-feed",
    .arguments = "FOLDER",
    .usage = "serve an update feed from FOLDER on 127.0.0.1 and print its URL",
    .handler = serveFeed,
    .fewestWords = 1,
    .mostWords = 1};

}  // namespace quaymark
