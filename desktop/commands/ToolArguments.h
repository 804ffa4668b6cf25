// The command line of quaymark-desktop, sorted into words, options with a value, and flags.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace quaymark {

struct ToolArguments {
    std::vector<std::string> words;
    std::map<std::string, std::string> options;
    std::vector<std::string> flags;
    // Every "--info KEY=VALUE", in order.
    std::vector<std::string> infos;

    bool hasFlag(const std::string& flag) const;
    std::string option(const std::string& name, const std::string& fallback) const;
};

// "--name value" for the options that take a value, "--name" for flags, words otherwise;
// everything after "run", "keys" or "type" is a word, so that what is typed can look like an
// option.
ToolArguments parseToolArguments(const std::vector<std::string>& arguments);

}  // namespace quaymark
