// The order of version strings used to decide whether a release is newer.
#pragma once

#include <compare>
#include <string_view>

namespace quaymark {

// Orders versions the way the macOS update framework's standard comparator does: each string
// splits into runs of digits, runs of other characters, and single separators ('.', spaces,
// punctuation), compared run by run. Numbers compare by value ("1.10" > "1.9"); a word sorts
// before a number or separator, so a pre-release precedes its release ("1.0b1" < "1.0");
// trailing zero parts are insignificant ("1.0" == "1.0.0"). Never fails: any two strings,
// empty ones included, have an order.
std::strong_ordering compareVersions(std::string_view a, std::string_view b);

}  // namespace quaymark
