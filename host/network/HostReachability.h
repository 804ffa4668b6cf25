// Whether a host can be reached, from what this machine knows: its name resolves and a route
// to one of its addresses exists. A stand-in desktop can set the flags for a name instead.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "Reachability.h"
#include "launch/SystemRoot.h"

namespace quaymark {

class HostReachability : public NetworkReachability {
public:
    // The flags a desktop set under `root` take the place of the real answer; an empty root
    // has none.
    explicit HostReachability(SystemRoot root,
                              std::chrono::milliseconds lookupLimit = std::chrono::seconds(3));

    // Reachable when the name resolves within the lookup limit and the kernel has a route to
    // one of its addresses (a connected datagram socket, which sends nothing); 0 otherwise.
    // Never sets ConnectionRequired or TransientConnection, which have no meaning here.
    // Nothing for a name no host can have: empty, over 253 bytes, or with characters outside
    // letters, digits, ".", "-", "_" and the ":" of an IPv6 address.
    std::optional<std::uint32_t> flagsForHostName(const std::string& hostName) override;

    // Makes every HostReachability under `root` answer `flags` for `hostName`, or the real
    // answer again when `flags` is nothing; false when the setting cannot be written.
    static bool setFlagsForHostName(const SystemRoot& root, const std::string& hostName,
                                    std::optional<std::uint32_t> flags);

private:
    SystemRoot _root;
    std::chrono::milliseconds _lookupLimit;
};

}  // namespace quaymark
