// Property-list bytes and files in the XML and binary formats, through libplist 2.2.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "PlistValue.h"

namespace quaymark {

enum class PlistFormat { Xml, Binary };

struct DecodedPlist {
    PlistValue value;
    PlistFormat format;
};

// Containers nested deeper than this are refused both ways; no preference file comes near it,
// and the bound keeps the recursive conversions well inside the stack.
inline constexpr int kMaxPlistDepth = 256;

// The value of an XML or binary property list; nothing when the bytes are not a whole property
// list, or hold what PlistValue cannot keep exactly: an integer above INT64_MAX, a date outside
// 1932-12-13..2069-01-19 (libplist 2.2 hands dates out as 32-bit seconds since 2001), a string
// or key that is not UTF-8 or holds U+0000, a keyed-archive UID, or nesting deeper than
// kMaxPlistDepth. Whatever it gives can therefore be written back, in binary at least.
// Damage libplist 2.2 still lets through: a malformed XML number reads as 0, bad base64 as
// empty data, and an ASCII string in a binary file is cut at a NUL byte.
// Binary dates keep microseconds; XML dates are whole seconds in every writer.
std::optional<DecodedPlist> decodePlist(std::string_view bytes);

// Why `value` cannot be written in `format` without being altered (libplist 2.2 cuts strings at
// a NUL byte, XML readers cannot take most control characters, ...); nothing when it can.
std::optional<std::string> plistEncodingProblem(const PlistValue& value, PlistFormat format);

// The bytes of `value` in `format`. Throws std::invalid_argument when plistEncodingProblem
// names a problem, rather than write a changed value.
std::string encodePlist(const PlistValue& value, PlistFormat format);

// The property list in the file at `path`; nothing when the file is missing, unreadable or not a
// property list by the rules of decodePlist.
std::optional<DecodedPlist> readPlistFile(const std::string& path);

}  // namespace quaymark
