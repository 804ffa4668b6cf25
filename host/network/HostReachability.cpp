#include "network/HostReachability.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <future>
#include <memory>
#include <thread>

#include "plist/PlistCodec.h"
#include "preferences/AtomicFile.h"

namespace quaymark {

namespace {

std::string overridesPath(const SystemRoot& root) {
    return root.runtimeDirectory() + "/reachability.plist";
}

bool isPossibleHostName(const std::string& name) {
    return !name.empty() && name.size() <= 253 &&
           std::all_of(name.begin(), name.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == ':';
           });
}

// Whether the kernel would send to one of the addresses: connecting a datagram socket picks
// a route and a source address, and sends nothing.
bool routeExists(const addrinfo* addresses) {
    for (const addrinfo* each = addresses; each != nullptr; each = each->ai_next) {
        int fd = ::socket(each->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        bool connected = ::connect(fd, each->ai_addr, each->ai_addrlen) == 0;
        ::close(fd);
        if (connected)
            return true;
    }
    return false;
}

// Resolves the name and looks for a route on a thread of its own, since the resolver cannot
// be given a time limit; a lookup still running after `limit` is left to finish unheard.
bool resolvesWithRoute(const std::string& name, std::chrono::milliseconds limit) {
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> reachable = answer->get_future();
    std::thread([name, answer] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* addresses = nullptr;
        // A numeric port: any will do, since nothing is sent.
        bool found = ::getaddrinfo(name.c_str(), "9", &hints, &addresses) == 0;
        bool route = found && routeExists(addresses);
        if (addresses != nullptr)
            ::freeaddrinfo(addresses);
        answer->set_value(route);
    }).detach();
    return reachable.wait_for(limit) == std::future_status::ready && reachable.get();
}

}  // namespace

HostReachability::HostReachability(SystemRoot root, std::chrono::milliseconds lookupLimit)
    : _root(std::move(root)), _lookupLimit(lookupLimit) {}

std::optional<std::uint32_t> HostReachability::flagsForHostName(const std::string& hostName) {
    if (!isPossibleHostName(hostName))
        return std::nullopt;
    if (!_root.root().empty()) {
        std::optional<DecodedPlist> overrides = readPlistFile(overridesPath(_root));
        const PlistDictionary* hosts = overrides ? overrides->value.asDictionary() : nullptr;
        const PlistValue* flags = hosts ? hosts->find(hostName) : nullptr;
        if (flags && flags->asInteger() && *flags->asInteger() >= 0)
            return static_cast<std::uint32_t>(*flags->asInteger());
    }
    return resolvesWithRoute(hostName, _lookupLimit) ? reachability_flag::kReachable : 0;
}

bool HostReachability::setFlagsForHostName(const SystemRoot& root, const std::string& hostName,
                                           std::optional<std::uint32_t> flags) {
    std::optional<DecodedPlist> existing = readPlistFile(overridesPath(root));
    PlistDictionary hosts;
    if (existing && existing->value.asDictionary())
        hosts = *existing->value.asDictionary();
    hosts.remove(hostName);
    if (flags)
        hosts.set(hostName, PlistValue::integer(*flags));
    std::error_code error;
    std::filesystem::create_directories(root.runtimeDirectory(), error);
    return writePlistFileAtomically(overridesPath(root), PlistValue(std::move(hosts)));
}

}  // namespace quaymark
