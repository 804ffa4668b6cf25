#include "AppcastSelection.h"

#include <QString>
#include <QSysInfo>

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

std::optional<SUAppcastItem> bestItem(const SUAppcast& appcast, const RunningSystem& system) {
    const SUAppcastItem* best = nullptr;
    for (const SUAppcastItem& item : appcast.items) {
        if (!itemSuitsSystem(item, system))
            continue;
        if (best == nullptr || compareVersions(item.version, best->version) > 0)
            best = &item;
    }
    if (best == nullptr)
        return std::nullopt;
    return *best;
}

}  // namespace quaymark
