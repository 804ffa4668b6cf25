// Choosing the release a running system should be offered, by the update framework's rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "PlistValue.h"
#include "Result.h"
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

// Whether the item is for this system and on the default channel or one of `allowedChannels`.
bool itemIsForThisSystemAndChannels(const SUAppcastItem& item,
                                    const std::vector<std::string>& allowedChannels);

// What an item means to the version that runs.
struct ItemState {
    // Nothing to install: the item's page is offered.
    bool informational = false;
    // It may not be skipped.
    bool critical = false;
    // The running version is below the item's minimum autoupdate version.
    bool majorUpgrade = false;
};

ItemState resolveItemState(const SUAppcastItem& item, const std::string& hostVersion);

// The versions the user skipped, as the framework stores them: the last skipped minor
// version, and of the last skipped major upgrade its minimum autoupdate version and its own.
struct SkippedUpdate {
    std::string minorVersion;
    std::string majorVersion;
    std::string majorSubreleaseVersion;
    bool operator==(const SkippedUpdate&) const = default;
};

// What is stored when the user skips the item: a major upgrade replaces the skipped major
// version, anything else the skipped minor one; the other half stays.
SkippedUpdate skipUpdate(const SUAppcastItem& item, const std::string& hostVersion,
                         SkippedUpdate previous);

// Whether the user's skipping hides the item: it is at or below the skipped minor version,
// or it belongs to a skipped major upgrade's train (its minimum autoupdate version is at or
// below the skipped one) while the running version is below that major version. A critical
// update is never hidden.
bool itemIsSkipped(const SUAppcastItem& item, const SkippedUpdate& skipped,
                   const std::string& hostVersion);

// The installation's phased rollout group, 0 to 6, from its stored random identifier.
inline constexpr std::uint32_t kPhasedUpdateGroups = 7;
std::uint32_t phasedUpdateGroup(std::uint32_t identifier);

// Whether the item has reached the group: `group` times its rollout interval has passed since
// its publication date. Items without an interval or a readable date, and critical ones, are
// ready for everyone.
bool itemIsReadyForPhasedRollout(const SUAppcastItem& item, std::uint32_t group, PlistDate now,
                                 const std::string& hostVersion);

// What a check knows when it chooses. Background checks set the phased rollout group and the
// skipped versions; a check the user asked for sets neither, and so sees every release.
struct SelectionContext {
    std::string hostVersion{};
    RunningSystem system{};
    std::vector<std::string> allowedChannels{};
    std::optional<std::uint32_t> phasedUpdateGroup{};
    std::optional<SkippedUpdate> skipped{};
    PlistDate now{};
};

// The release to offer: the highest version (the first of equals) that is for this system
// and channels, suits the system, has reached this installation and is not skipped, when it
// is newer than the running version. Updates that are not major upgrades are preferred: a
// major upgrade is chosen only when no other release is newer. Nothing when none qualifies.
std::optional<SUAppcastItem> bestItem(const SUAppcast& appcast, const SelectionContext& context);

// Succeeds when the item is an archived application; otherwise refused in one sentence naming
// its installation type and one saying what the user can do.
Result<void> checkInstallable(const SUAppcastItem& item);

}  // namespace quaymark
