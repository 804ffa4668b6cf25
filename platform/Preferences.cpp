#include "Preferences.h"

#include <algorithm>
#include <cctype>

namespace quaymark {

namespace {

bool equalsIgnoringCase(const std::string& text, std::string_view word) {
    return text.size() == word.size() &&
           std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

}  // namespace

std::string PreferencesFailure::message() const {
    return file + ": " + reason;
}

std::optional<bool> booleanForm(const PlistValue& value) {
    if (auto flag = value.asBoolean())
        return *flag;
    if (auto number = value.asInteger())
        return *number != 0;
    if (const std::string* text = value.asString()) {
        if (equalsIgnoringCase(*text, "true") || equalsIgnoringCase(*text, "yes"))
            return true;
        if (equalsIgnoringCase(*text, "false") || equalsIgnoringCase(*text, "no"))
            return false;
    }
    return std::nullopt;
}

std::optional<bool> Preferences::appBooleanValue(const std::string& key,
                                                 const std::string& domain) {
    std::optional<PlistValue> value = copyAppValue(key, domain);
    if (!value)
        return std::nullopt;
    return booleanForm(*value);
}

}  // namespace quaymark
