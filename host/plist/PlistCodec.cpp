#include "plist/PlistCodec.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "plist/BinaryPlist.h"
#include "plist/PlistText.h"
#include "plist/XmlPlist.h"

namespace quaymark {

namespace {

std::string codePointName(char32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
    return buffer;
}

// What in `text` the format cannot carry: any format needs UTF-8, XML also XML 1.0 characters.
std::optional<std::string> textProblem(std::string_view text, PlistFormat format) {
    std::optional<std::string> problem;
    bool valid = plist::forEachCodePoint(text, [&](char32_t c) {
        if (format == PlistFormat::Xml && !plist::isXmlCharacter(c))
            problem = codePointName(c) + ", which XML cannot carry";
        return !problem;
    });
    if (!valid && !problem)
        problem = "invalid UTF-8";
    return problem;
}

std::optional<std::string> dateProblem(PlistDate date, PlistFormat format) {
    double seconds = date.sinceReferenceDate;
    if (!std::isfinite(seconds))
        return "a date that is no number";
    if (format == PlistFormat::Binary)
        return std::nullopt;
    using namespace std::chrono;
    // XML dates are whole seconds in years 1 to 9999.
    constexpr double kFirst =
        static_cast<double>(duration_cast<std::chrono::seconds>(sys_days(1y / January / 1) -
                                                                sys_days(2001y / January / 1))
                                .count());
    constexpr double kEnd =
        static_cast<double>(duration_cast<std::chrono::seconds>(sys_days(10000y / January / 1) -
                                                                sys_days(2001y / January / 1))
                                .count());
    if (seconds != std::floor(seconds))
        return "a date with a fraction of a second, which XML cannot carry";
    if (seconds < kFirst || seconds >= kEnd)
        return "a date outside the years 1 to 9999, which XML cannot carry";
    return std::nullopt;
}

std::optional<std::string> encodingProblem(const PlistValue& value, PlistFormat format, int depth) {
    switch (value.type()) {
        case PlistValue::Type::String:
            return textProblem(*value.asString(), format);
        case PlistValue::Type::Date:
            return dateProblem(*value.asDate(), format);
        case PlistValue::Type::Uid:
            if (format == PlistFormat::Xml)
                return "a keyed-archive UID, which XML cannot carry";
            return std::nullopt;
        case PlistValue::Type::Array:
            if (depth >= kMaxPlistDepth)
                return "containers nested too deep";
            for (const PlistValue& item : *value.asArray()) {
                if (auto problem = encodingProblem(item, format, depth + 1))
                    return problem;
            }
            return std::nullopt;
        case PlistValue::Type::Dictionary:
            if (depth >= kMaxPlistDepth)
                return "containers nested too deep";
            for (const auto& [key, item] : *value.asDictionary()) {
                if (auto problem = textProblem(key, format))
                    return "a key with " + *problem;
                if (auto problem = encodingProblem(item, format, depth + 1)) {
                    return "under the key " + PlistValue(key).description() + ": " + *problem;
                }
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<DecodedPlist> decodePlist(std::string_view bytes) {
    // Every binary version starts so; only version 00 is read.
    if (bytes.starts_with("bplist")) {
        if (std::optional<PlistValue> value = plist::readBinaryPlist(bytes))
            return DecodedPlist{std::move(*value), PlistFormat::Binary};
        return std::nullopt;
    }
    if (std::optional<PlistValue> value = plist::readXmlPlist(bytes))
        return DecodedPlist{std::move(*value), PlistFormat::Xml};
    return std::nullopt;
}

std::optional<std::string> plistEncodingProblem(const PlistValue& value, PlistFormat format) {
    return encodingProblem(value, format, 0);
}

std::string encodePlist(const PlistValue& value, PlistFormat format) {
    if (auto problem = plistEncodingProblem(value, format)) {
        throw std::invalid_argument("cannot write a property list holding " + *problem);
    }
    return format == PlistFormat::Xml ? plist::writeXmlPlist(value)
                                      : plist::writeBinaryPlist(value);
}

std::optional<DecodedPlist> readPlistFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream contents;
    // Fails for a directory and for an empty file alike; neither is a property list.
    if (!(contents << file.rdbuf()))
        return std::nullopt;
    return decodePlist(contents.view());
}

}  // namespace quaymark
