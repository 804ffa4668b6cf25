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
Result<void> checkText(std::string_view text, PlistFormat format) {
    std::optional<std::string> problem;
    bool valid = plist::forEachCodePoint(text, [&](char32_t c) {
        if (format == PlistFormat::Xml && !plist::isXmlCharacter(c))
            problem = codePointName(c) + ", which XML cannot carry";
        return !problem;
    });
    if (!valid && !problem)
        problem = "invalid UTF-8";
    return problem ? Result<void>::failure(*problem) : Result<void>::success();
}

Result<void> checkDate(PlistDate date, PlistFormat format) {
    double seconds = date.sinceReferenceDate;
    if (!std::isfinite(seconds))
        return Result<void>::failure("a date that is no number");
    if (format == PlistFormat::Binary)
        return Result<void>::success();
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
        return Result<void>::failure("a date with a fraction of a second, which XML cannot carry");
    if (seconds < kFirst || seconds >= kEnd)
        return Result<void>::failure("a date outside the years 1 to 9999, which XML cannot carry");
    return Result<void>::success();
}

Result<void> checkEncodable(const PlistValue& value, PlistFormat format, int depth) {
    switch (value.type()) {
        case PlistValue::Type::String:
            return checkText(*value.asString(), format);
        case PlistValue::Type::Date:
            return checkDate(*value.asDate(), format);
        case PlistValue::Type::Uid:
            if (format == PlistFormat::Xml)
                return Result<void>::failure("a keyed-archive UID, which XML cannot carry");
            return Result<void>::success();
        case PlistValue::Type::Array:
            if (depth >= kMaxPlistDepth)
                return Result<void>::failure("containers nested too deep");
            for (const PlistValue& item : *value.asArray()) {
                if (Result<void> encodable = checkEncodable(item, format, depth + 1); !encodable)
                    return encodable;
            }
            return Result<void>::success();
        case PlistValue::Type::Dictionary:
            if (depth >= kMaxPlistDepth)
                return Result<void>::failure("containers nested too deep");
            for (const auto& [key, item] : *value.asDictionary()) {
                if (Result<void> text = checkText(key, format); !text)
                    return Result<void>::failure("a key with " + text.error());
                if (Result<void> encodable = checkEncodable(item, format, depth + 1); !encodable) {
                    return Result<void>::failure("under the key " + PlistValue(key).description() +
                                                 ": " + encodable.error());
                }
            }
            return Result<void>::success();
        default:
            return Result<void>::success();
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

Result<void> checkPlistEncodable(const PlistValue& value, PlistFormat format) {
    return checkEncodable(value, format, 0);
}

std::string encodePlist(const PlistValue& value, PlistFormat format) {
    if (Result<void> encodable = checkPlistEncodable(value, format); !encodable) {
        throw std::invalid_argument("cannot write a property list holding " + encodable.error());
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
