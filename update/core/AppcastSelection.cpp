#include "AppcastSelection.h"

#include <QDateTime>
#include <QString>
#include <QSysInfo>
#include <algorithm>

#include "AppcastReader.h"
#include "VersionComparator.h"

namespace quaymark {
namespace {

// Qt and feeds name some architectures differently.
std::string canonicalArchitecture(std::string name) {
    if (name == "x86-64" || name == "amd64")
        return "x86_64";
    if (name == "aarch64")
        return "arm64";
    return name;
}

bool isBelow(const std::string& version, const std::string& bound) {
    return compareVersions(version, bound) < 0;
}

// The running version has reached the major version: there is none, or it is not below it.
bool passesMinimumAutoupdateVersion(const std::string& minimum, const std::string& hostVersion) {
    return minimum.empty() || !isBelow(hostVersion, minimum);
}

bool isInformational(const SUAppcastItem& item, const std::string& hostVersion) {
    if (!item.informationalUpdate)
        return false;
    if (item.informationalVersions.empty() && item.informationalBelowVersions.empty())
        return true;
    // Listed versions are matched as written, as the framework matches them.
    if (std::ranges::find(item.informationalVersions, hostVersion) !=
        item.informationalVersions.end())
        return true;
    return std::ranges::any_of(item.informationalBelowVersions, [&](const std::string& bound) {
        return isBelow(hostVersion, bound);
    });
}

std::optional<PlistDate> publicationDate(const std::string& pubDate) {
    const QDateTime date =
        QDateTime::fromString(QString::fromStdString(pubDate).trimmed(), Qt::RFC2822Date);
    if (!date.isValid())
        return std::nullopt;
    return PlistDate::fromUnixSeconds(static_cast<double>(date.toSecsSinceEpoch()));
}

const SUAppcastItem* highest(const std::vector<const SUAppcastItem*>& items) {
    const SUAppcastItem* best = nullptr;
    for (const SUAppcastItem* item : items) {
        if (best == nullptr || compareVersions(item->version, best->version) > 0)
            best = item;
    }
    return best;
}

}  // namespace

std::string hostArchitecture() {
    return canonicalArchitecture(QSysInfo::currentCpuArchitecture().toStdString());
}

bool itemSuitsSystem(const SUAppcastItem& item, const RunningSystem& system) {
    const bool hasBounds = !item.minimumSystemVersion.empty() || !item.maximumSystemVersion.empty();
    if (hasBounds && system.version.empty())
        return false;
    if (!item.minimumSystemVersion.empty() &&
        compareVersions(item.minimumSystemVersion, system.version) > 0)
        return false;
    if (!item.maximumSystemVersion.empty() &&
        compareVersions(item.maximumSystemVersion, system.version) < 0)
        return false;
    for (const std::string& requirement : item.hardwareRequirements) {
        if (canonicalArchitecture(requirement) != system.architecture)
            return false;
    }
    return true;
}

bool itemIsForThisSystemAndChannels(const SUAppcastItem& item,
                                    const std::vector<std::string>& allowedChannels) {
    if (item.os != kThisSystem)
        return false;
    return item.channel.empty() ||
           std::ranges::find(allowedChannels, item.channel) != allowedChannels.end();
}

ItemState resolveItemState(const SUAppcastItem& item, const std::string& hostVersion) {
    ItemState state;
    state.informational = isInformational(item, hostVersion);
    state.critical = item.criticalUpdate &&
                     (item.criticalVersion.empty() || isBelow(hostVersion, item.criticalVersion));
    state.majorUpgrade =
        !passesMinimumAutoupdateVersion(item.minimumAutoupdateVersion, hostVersion);
    return state;
}

SkippedUpdate skipUpdate(const SUAppcastItem& item, const std::string& hostVersion,
                         SkippedUpdate previous) {
    if (resolveItemState(item, hostVersion).majorUpgrade) {
        previous.majorVersion = item.minimumAutoupdateVersion;
        previous.majorSubreleaseVersion = item.version;
    } else {
        previous.minorVersion = item.version;
    }
    return previous;
}

bool itemIsSkipped(const SUAppcastItem& item, const SkippedUpdate& skipped,
                   const std::string& hostVersion) {
    if (resolveItemState(item, hostVersion).critical)
        return false;
    const bool inSkippedMajorTrain =
        !passesMinimumAutoupdateVersion(skipped.majorVersion, hostVersion) &&
        !item.minimumAutoupdateVersion.empty() &&
        !isBelow(skipped.majorVersion, item.minimumAutoupdateVersion) &&
        // A release may ask to be seen again by those who skipped only its train's earlier
        // releases.
        (item.ignoreSkippedUpgradesBelowVersion.empty() ||
         (!skipped.majorSubreleaseVersion.empty() &&
          !isBelow(skipped.majorSubreleaseVersion, item.ignoreSkippedUpgradesBelowVersion)));
    if (inSkippedMajorTrain)
        return true;
    return !skipped.minorVersion.empty() && !isBelow(skipped.minorVersion, item.version);
}

std::uint32_t phasedUpdateGroup(std::uint32_t identifier) {
    return identifier % kPhasedUpdateGroups;
}

bool itemIsReadyForPhasedRollout(const SUAppcastItem& item, std::uint32_t group, PlistDate now,
                                 const std::string& hostVersion) {
    if (!item.phasedRolloutInterval || resolveItemState(item, hostVersion).critical)
        return true;
    const std::optional<PlistDate> published = publicationDate(item.pubDate);
    if (!published)
        return true;
    const double wait = static_cast<double>(*item.phasedRolloutInterval) * group;
    return now.timeIntervalSince(*published) >= wait;
}

std::optional<SUAppcastItem> bestItem(const SUAppcast& appcast, const SelectionContext& context) {
    const auto best = [&](bool allowMajorUpgrades) -> const SUAppcastItem* {
        std::vector<const SUAppcastItem*> candidates;
        for (const SUAppcastItem& item : appcast.items) {
            if (!itemIsForThisSystemAndChannels(item, context.allowedChannels) ||
                !itemSuitsSystem(item, context.system))
                continue;
            if (context.phasedUpdateGroup &&
                !itemIsReadyForPhasedRollout(item, *context.phasedUpdateGroup, context.now,
                                             context.hostVersion))
                continue;
            if (!allowMajorUpgrades && resolveItemState(item, context.hostVersion).majorUpgrade)
                continue;
            if (context.skipped && itemIsSkipped(item, *context.skipped, context.hostVersion))
                continue;
            candidates.push_back(&item);
        }
        const SUAppcastItem* chosen = highest(candidates);
        return chosen != nullptr && isBelow(context.hostVersion, chosen->version) ? chosen
                                                                                  : nullptr;
    };
    // Minor updates install with less disturbance, so they win over a newer major upgrade.
    const SUAppcastItem* chosen = best(false);
    if (chosen == nullptr)
        chosen = best(true);
    if (chosen == nullptr)
        return std::nullopt;
    return *chosen;
}

Result<void> checkInstallable(const SUAppcastItem& item) {
    if (item.installationType == "application")
        return Result<void>::success();
    return Result<void>::failure(
        "Version " + item.displayVersion + " cannot be installed: its installation type is \"" +
        item.installationType +
        "\", and only archived applications are installed here. Download it from the "
        "publisher's site and install it by hand.");
}

}  // namespace quaymark
