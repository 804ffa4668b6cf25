// The binary property-list format ("bplist00"), read and written by hand.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "PlistValue.h"

namespace quaymark::plist {

// The value of a whole binary property list; nothing for anything else: a damaged or cut
// header, trailer, offset or reference, bytes after the offset table, a cycle, an object type
// PlistValue has no place for (null, set, fill), a key that is no string, an ASCII string with
// bytes above 0x7F, UTF-16 with an unpaired surrogate, a date that is no finite number, an
// integer outside INT64_MIN..UINT64_MAX, or nesting deeper than kMaxPlistDepth.
std::optional<PlistValue> readBinaryPlist(std::string_view bytes);

// The binary form of a value checkPlistEncodable accepts for the binary format.
std::string writeBinaryPlist(const PlistValue& value);

}  // namespace quaymark::plist
