// Unpacking an update archive (zip or tar.xz) that must hold one application bundle and
// nothing that could write outside the folder it is unpacked into.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "Result.h"

namespace quaymark {

struct UnpackLimits {
    std::uint64_t maximumEntries = 100'000;
    std::uint64_t maximumBytes = 2ull * 1024 * 1024 * 1024;
};

// Unpacks `archivePath` into the existing, empty folder `destination`, which then holds
// `topLevelName` (a folder) and nothing else. The whole archive is read and judged before
// anything is written. Refused with one line saying why: an unreadable or truncated archive,
// an absolute name or one with "..", a link that points (or an entry that reaches) outside
// through a symbolic link, a device or other special file, a name given twice, anything
// besides the one top-level folder, or more entries or bytes than the limits. A refusal
// during writing leaves `destination` partly filled; the caller removes it. `cancelled`, when
// given, is read between blocks: once set, unpacking stops with kUpdateCancelled.
Result<void> unpackArchive(const std::string& archivePath, const std::string& destination,
                           const std::string& topLevelName, const UnpackLimits& limits = {},
                           const std::atomic<bool>* cancelled = nullptr);

// The reason an installation gives when the user stopped it.
inline constexpr const char* kUpdateCancelled = "The update was cancelled.";

}  // namespace quaymark
