// Choosing the release a running system should be offered.
#pragma once

#include <optional>
#include <string>

#include "Updater.h"

namespace quaymark {

struct RunningSystem {
    // The system's "ProductVersion"; empty when it could not be read.
    std::string version;
    // The processor architecture under the names feeds use: "x86_64", "arm64", "i386", "arm".
    std::string architecture;
};

// This machine's architecture under the names feeds use.
std::string hostArchitecture();

// Whether the item may run here: its minimum and maximum system versions admit the running
// one, and every hardware requirement it lists is this machine's architecture. An item that
// names a system version bound is refused when the running version is unknown, and one that
// names a requirement this reader does not know is refused too: offering a release that may
// not run is worse than offering none.
bool itemSuitsSystem(const SUAppcastItem& item, const RunningSystem& system);

// The suitable item with the highest version (the first of equals); nothing when none suits.
std::optional<SUAppcastItem> bestItem(const SUAppcast& appcast, const RunningSystem& system);

}  // namespace quaymark
