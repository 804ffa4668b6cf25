#include "BundleInfo.h"

#include <string_view>

namespace quaymark {

std::optional<std::string> infoString(Bundle& bundle, const std::string& key) {
    const std::optional<PlistValue> value = bundle.objectForInfoDictionaryKey(key);
    if (!value || value->asString() == nullptr || value->asString()->empty())
        return std::nullopt;
    return *value->asString();
}

bool infoBool(Bundle& bundle, const std::string& key) {
    const std::optional<PlistValue> value = bundle.objectForInfoDictionaryKey(key);
    if (!value)
        return false;
    if (const std::optional<bool> boolean = value->asBoolean())
        return *boolean;
    if (const std::optional<double> real = value->asReal())
        return *real != 0;
    if (value->type() == PlistValue::Type::Integer)
        // Only a negative number has no unsigned value, and it is not zero either.
        return value->asUnsignedInteger().value_or(1) != 0;
    const std::string* text = value->asString();
    if (text == nullptr)
        return false;
    std::size_t at = text->find_first_not_of(" \t\n\r\f\v");
    if (at != std::string::npos && ((*text)[at] == '+' || (*text)[at] == '-'))
        ++at;
    at = at == std::string::npos ? at : text->find_first_not_of('0', at);
    return at != std::string::npos &&
           std::string_view("YyTt123456789").find((*text)[at]) != std::string_view::npos;
}

}  // namespace quaymark
