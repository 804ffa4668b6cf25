// Replacing a small file so that a reader sees the old contents or the new, whole.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "plist/PlistCodec.h"

namespace quaymark {

enum class Durability {
    None,           // nothing synced: a cache, whose reader refuses a file a crash cut short
    File,           // the new contents are synced before the rename
    FileAndFolder,  // the folder too, after it, so that the rename itself survives a crash
};

struct AtomicWriteOptions {
    mode_t mode = 0600;
    Durability durability = Durability::File;
    // By default the bytes go first to a file beside the target under a name of this
    // process's own. A writer that holds a lock may name one fixed file instead: what a
    // writer killed halfway leaves there is then truncated by the next, rather than piling up.
    std::optional<std::string> temporaryPath{};
};

// Writes `bytes` to the temporary file, syncs them and renames it over the file; false (errno
// set, the temporary file removed) when any step failed. When only the folder sync fails the
// file is already replaced. Writers that may race need no lock: the last rename wins, and
// each file renamed in is whole. Folders are not created.
bool writeFileAtomically(const std::string& path, std::string_view bytes,
                         const AtomicWriteOptions& options = {});
// The same for a property list in `format`.
bool writePlistFileAtomically(const std::string& path, const PlistValue& value,
                              PlistFormat format = PlistFormat::Xml);

}  // namespace quaymark
