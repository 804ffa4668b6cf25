// The XML property-list format: read through expat, written the way Apple writes it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "PlistValue.h"

namespace quaymark::plist {

// The value of a whole XML property list; nothing when the document is not well formed
// (cut short, trailing content), declares entities, holds an element or text where the
// format has none, a malformed or out-of-range number, bad base64, a date that is not
// YYYY-MM-DDTHH:MM:SSZ, or nesting deeper than kMaxPlistDepth.
std::optional<PlistValue> readXmlPlist(std::string_view bytes);

// The XML form of a value checkPlistEncodable accepts for the XML format.
std::string writeXmlPlist(const PlistValue& value);

}  // namespace quaymark::plist
