// Path manipulation with the conventions the system's file paths follow.
#pragma once

#include <string>
#include <string_view>

namespace quaymark {

// The path without its last component: "/a/b" gives "/a", "/a" gives "/", "/" stays "/",
// "a" gives ""; trailing slashes are ignored.
std::string stringByDeletingLastPathComponent(std::string_view path);
// Joins with exactly one "/" and never leaves a trailing "/".
std::string stringByAppendingPathComponent(std::string_view path, std::string_view component);
std::string lastPathComponent(std::string_view path);
// A leading "~" (alone or before "/") becomes `home`; anything else is returned unchanged.
std::string stringByExpandingTildeInPath(std::string_view path, std::string_view home);

}  // namespace quaymark
