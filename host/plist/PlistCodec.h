// Property-list bytes and files in the XML and binary formats, kept exactly both ways.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "PlistValue.h"
#include "Result.h"

namespace quaymark {

enum class PlistFormat { Xml, Binary };

struct DecodedPlist {
    PlistValue value;
    PlistFormat format;
};

// Containers nested deeper than this are refused both ways. Real files stay far below it;
// every reader and writer recurses once a level, which this bound keeps well inside the stack.
inline constexpr int kMaxPlistDepth = 1024;

// The value of an XML or binary ("bplist00") property list, exactly: integers over
// INT64_MIN..UINT64_MAX, dates over the whole range of each format (binary keeps fractions of a
// second), strings holding U+0000 or any Unicode, UIDs, dictionaries in their key order.
// Nothing when the bytes are not one whole, well-formed property list: cut short, followed by
// anything but white space and comments, a malformed number, date or base64, an unknown
// element, a damaged binary offset, reference or trailer, a cycle, nesting deeper than
// kMaxPlistDepth. Whatever it gives can be written back, in binary at least.
std::optional<DecodedPlist> decodePlist(std::string_view bytes);

// Succeeds when `value` can be written in `format` without being altered; otherwise why not. Both
// formats need UTF-8 text, finite dates and nesting within kMaxPlistDepth; XML moreover holds
// no UID, no character outside XML 1.0 (U+0000, most control characters, U+FFFE), and dates
// only in whole seconds within the years 1 to 9999. Callers then write binary instead.
Result<void> checkPlistEncodable(const PlistValue& value, PlistFormat format);

// The bytes of `value` in `format`. Throws std::invalid_argument when checkPlistEncodable
// refuses it, rather than write a changed value.
std::string encodePlist(const PlistValue& value, PlistFormat format);

// The property list in the file at `path`; nothing when the file is missing, unreadable or not a
// property list by the rules of decodePlist.
std::optional<DecodedPlist> readPlistFile(const std::string& path);

}  // namespace quaymark
