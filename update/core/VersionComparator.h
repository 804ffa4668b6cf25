// The order of version strings used to decide whether a release is newer.
#pragma once

#include <compare>
#include <string_view>

namespace quaymark {

// Orders versions the way the macOS update framework's standard comparator does. Everything
// from the first '-' after the first character on is ignored ("1.5-335d3e2" == "1.5"). The rest
// splits into runs of digits, runs of other characters (words) and single separators (periods,
// whitespace, punctuation). The leading run of numbers and periods of the shorter version is
// padded with zeros to the other's length ("2.0rc1" == "2.0.0rc1"), then the parts are compared
// in turn: numbers by value ("1.10" > "1.9"), words by their characters, any separator equals
// any other; a word sorts before a number or separator, so a pre-release precedes its release
// ("1.0b1" < "1.0"), and a number sorts after a separator. Past the end of the shorter version,
// a word next in the longer one makes the longer older, anything else makes it newer.
//
// Two answers differ from the framework's: numbers of any length compare by value, where the
// framework holds no number above 2^63 - 1 and makes all such numbers equal; and a leading '-'
// sorts before a separator whichever side it is on, where the framework calls whichever version
// it is given first the older.
// Never fails: any two strings, empty ones included, have an order, and the order is
// antisymmetric. It is transitive among versions whose leading numbers and periods, if any,
// are numbers joined by single periods; the framework's padding is not transitive otherwise
// ("" == "." and "" == "0", but "." < "0").
std::strong_ordering compareVersions(std::string_view a, std::string_view b);

}  // namespace quaymark
