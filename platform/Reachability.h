// Whether a host can be reached over the network now, as the reachability service tells.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quaymark {

// The flags of the reachability service that the system looks at; the values are the
// service's own.
namespace reachability_flag {
inline constexpr std::uint32_t kTransientConnection = 1;
inline constexpr std::uint32_t kReachable = 2;
inline constexpr std::uint32_t kConnectionRequired = 4;
}  // namespace reachability_flag

class NetworkReachability {
public:
    virtual ~NetworkReachability() = default;
    // The current flags for the host name; nothing when no target can be made for the name
    // (empty, or a name the service refuses). Returns within a few seconds whatever the
    // network does.
    virtual std::optional<std::uint32_t> flagsForHostName(const std::string& hostName) = 0;
};

}  // namespace quaymark
