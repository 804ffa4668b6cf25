// Replacing a small file so that a reader sees the old contents or the new, whole.
#pragma once

#include <string>
#include <string_view>

#include "PlistCodec.h"

namespace quaymark {

// Writes `bytes` beside the file under a name of this process's own, syncs them and renames
// over the file; false (with nothing left behind) when any step failed. Writers that may
// race need no lock: the last rename wins, and each file renamed in is whole. Folders are
// not created.
bool writeFileAtomically(const std::string& path, std::string_view bytes);
// The same for a property list in `format`.
bool writePlistFileAtomically(const std::string& path, const PlistValue& value,
                              PlistFormat format = PlistFormat::Xml);

}  // namespace quaymark
