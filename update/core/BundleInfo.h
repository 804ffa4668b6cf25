// The main bundle's information strings and switches, as the updater reads them.
#pragma once

#include <optional>
#include <string>

#include "Bundle.h"

namespace quaymark {

// The string under `key` in the bundle's information dictionary; nothing when the key is
// absent, holds another type, or holds an empty string.
std::optional<std::string> infoString(Bundle& bundle, const std::string& key);

// Whether the switch under `key` is on, read as the framework reads one: a true boolean, a
// number other than zero, or a string that begins (after spaces, a sign and zeros) with Y, y,
// T, t or a digit 1 to 9; off when absent or of another type.
bool infoBool(Bundle& bundle, const std::string& key);

}  // namespace quaymark
