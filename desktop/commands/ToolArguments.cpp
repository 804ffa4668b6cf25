#include "commands/ToolArguments.h"

#include <algorithm>

namespace quaymark {

bool ToolArguments::hasFlag(const std::string& flag) const {
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

std::string ToolArguments::option(const std::string& name, const std::string& fallback) const {
    auto found = options.find(name);
    return found == options.end() ? fallback : found->second;
}

ToolArguments parseToolArguments(const std::vector<std::string>& arguments) {
    static const std::vector<std::string> kValued = {
        "-d",      "--system-version", "--terminals", "--iterm2-version",
        "--shell", "--timeout",        "--screenshot"};
    ToolArguments parsed;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!parsed.words.empty() &&
            (parsed.words.front() == "run" || parsed.words.front() == "keys" ||
             parsed.words.front() == "type")) {
            parsed.words.push_back(argument);
        } else if (argument == "--info" && i + 1 < arguments.size()) {
            parsed.infos.push_back(arguments[++i]);
        } else if (std::find(kValued.begin(), kValued.end(), argument) != kValued.end() &&
                   i + 1 < arguments.size()) {
            parsed.options[argument] = arguments[++i];
        } else if (argument.starts_with("--")) {
            parsed.flags.push_back(argument);
        } else {
            parsed.words.push_back(argument);
        }
    }
    return parsed;
}

}  // namespace quaymark
