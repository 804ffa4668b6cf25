// The main bundle's information strings, as the updater reads them.
#pragma once

#include <optional>
#include <string>

#include "Bundle.h"

namespace quaymark {

// The string under `key` in the bundle's information dictionary; nothing when the key is
// absent, holds another type, or holds an empty string.
std::optional<std::string> infoString(Bundle& bundle, const std::string& key);

}  // namespace quaymark
