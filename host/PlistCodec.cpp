#include "PlistCodec.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace quaymark {

namespace {

using PlistHandle = std::unique_ptr<void, void (*)(plist_t)>;

PlistHandle adopt(plist_t node) {
    return PlistHandle(node, plist_free);
}

// Iterators and strings that libplist allocates are released with free().
using MallocHandle = std::unique_ptr<void, void (*)(void*)>;

MallocHandle adoptMalloced(void* memory) {
    return MallocHandle(memory, std::free);
}

struct DateParts {
    std::int32_t seconds;
    std::int32_t microseconds;
};

// Whole seconds toward zero and microseconds of the same sign, the way plist_new_date adds
// them up; nothing when the seconds do not fit the 32 bits libplist 2.2 takes.
std::optional<DateParts> splitDate(PlistDate date) {
    double total = date.sinceReferenceDate;
    if (!std::isfinite(total))
        return std::nullopt;
    double whole = std::trunc(total);
    double microseconds = std::round((total - whole) * 1e6);
    if (std::abs(microseconds) >= 1e6) {
        whole += microseconds > 0 ? 1 : -1;
        microseconds = 0;
    }
    if (whole < std::numeric_limits<std::int32_t>::min() ||
        whole > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return DateParts{static_cast<std::int32_t>(whole), static_cast<std::int32_t>(microseconds)};
}

// XML 1.0 characters, less the carriage return, which XML readers turn into a line feed.
bool isXmlCharacter(char32_t c) {
    return c == 0x9 || c == 0xA || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           c >= 0x10000;
}

std::string codePointName(char32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
    return buffer;
}

// What in `text` the format cannot carry. libplist 2.2 copies strings as C strings and, for
// the binary format, converts them to UTF-16 without checking the UTF-8 first.
std::optional<std::string> textProblem(std::string_view text, PlistFormat format) {
    static constexpr char32_t kSmallestOfLength[] = {0, 0, 0x80, 0x800, 0x10000};
    std::size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80             ? 1
                             : (lead & 0xE0) == 0xC0 ? 2
                             : (lead & 0xF0) == 0xE0 ? 3
                             : (lead & 0xF8) == 0xF0 ? 4
                                                     : 0;
        if (length == 0 || i + length > text.size())
            return "invalid UTF-8";
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return "invalid UTF-8";
            c = (c << 6) | (next & 0x3F);
        }
        if (c < kSmallestOfLength[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return "invalid UTF-8";
        }
        if (c == 0)
            return "a NUL byte, where libplist 2.2 would cut the string";
        if (format == PlistFormat::Xml && !isXmlCharacter(c)) {
            return codePointName(c) + ", which XML cannot carry";
        }
        i += length;
    }
    return std::nullopt;
}

std::optional<std::string> encodingProblem(const PlistValue& value, PlistFormat format, int depth) {
    switch (value.type()) {
        case PlistValue::Type::String:
            return textProblem(*value.asString(), format);
        case PlistValue::Type::Date:
            if (!splitDate(*value.asDate())) {
                return "the date " + value.description() + ", beyond libplist 2.2's 32-bit seconds";
            }
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

// Only for values plistEncodingProblem accepts.
plist_t nodeOfValue(const PlistValue& value) {
    switch (value.type()) {
        case PlistValue::Type::String:
            return plist_new_string(value.asString()->c_str());
        case PlistValue::Type::Integer:
            // libplist 2.2 writes an integer node it made itself as signed 64 bits.
            return plist_new_uint(static_cast<std::uint64_t>(*value.asInteger()));
        case PlistValue::Type::Real:
            return plist_new_real(*value.asReal());
        case PlistValue::Type::Boolean:
            return plist_new_bool(*value.asBoolean() ? 1 : 0);
        case PlistValue::Type::Date: {
            DateParts parts = *splitDate(*value.asDate());
            return plist_new_date(parts.seconds, parts.microseconds);
        }
        case PlistValue::Type::Data: {
            // plist_new_data hands the pointer to memcpy, which must not get a null one.
            static const char kNoBytes = 0;
            const PlistData& bytes = *value.asData();
            return plist_new_data(
                bytes.empty() ? &kNoBytes : reinterpret_cast<const char*>(bytes.data()),
                bytes.size());
        }
        case PlistValue::Type::Array: {
            plist_t array = plist_new_array();
            for (const PlistValue& item : *value.asArray()) {
                plist_array_append_item(array, nodeOfValue(item));
            }
            return array;
        }
        case PlistValue::Type::Dictionary: {
            plist_t dictionary = plist_new_dict();
            for (const auto& [key, item] : *value.asDictionary()) {
                plist_dict_set_item(dictionary, key.c_str(), nodeOfValue(item));
            }
            return dictionary;
        }
    }
    return nullptr;
}

std::optional<PlistValue> integerOfNode(plist_t node) {
    std::uint64_t bits = 0;
    plist_get_uint_val(node, &bits);
    if (bits > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        // libplist 2.2 hands out negative integers and those above INT64_MAX alike, as uint64.
        // It tells them apart by a hidden width (8 bytes for the negative ones, as
        // plist_new_uint makes them, 16 for the large ones) that node comparison includes.
        PlistHandle probe = adopt(plist_new_uint(bits));
        if (!plist_compare_node_value(node, probe.get()))
            return std::nullopt;
    }
    return PlistValue::integer(static_cast<std::int64_t>(bits));
}

std::optional<PlistValue> dateOfNode(plist_t node) {
    std::int32_t seconds = 0;
    std::int32_t microseconds = 0;
    plist_get_date_val(node, &seconds, &microseconds);
    // Beyond 32-bit seconds the conversions inside libplist overflow, in practice to INT32_MIN
    // for the seconds and garbage for the microseconds.
    constexpr std::int32_t kSecondsLimits[] = {std::numeric_limits<std::int32_t>::min(),
                                               std::numeric_limits<std::int32_t>::max()};
    if (microseconds < 0 || microseconds >= 1'000'000)
        return std::nullopt;
    // libplist 2.2 keeps a date as a double but hands it out as whole seconds toward zero and
    // the truncated absolute microseconds. Of the parts it can have come from, the one that
    // rebuilds the stored double exactly gives the date to the microsecond, sign included.
    for (std::int32_t candidate :
         {microseconds, -microseconds, microseconds + 1, -(microseconds + 1)}) {
        PlistHandle probe = adopt(plist_new_date(seconds, candidate));
        if (plist_compare_node_value(node, probe.get())) {
            return PlistValue(PlistDate{static_cast<double>(seconds) + candidate / 1e6});
        }
    }
    if (seconds == kSecondsLimits[0] || seconds == kSecondsLimits[1])
        return std::nullopt;
    // Another writer's date with digits below the microsecond: within a microsecond, except
    // that within a second of 2001-01-01 a date before it reads as one after it.
    double fraction = microseconds / 1e6;
    return PlistValue(PlistDate{seconds < 0 ? seconds - fraction : seconds + fraction});
}

std::optional<PlistValue> valueOfNode(plist_t node, int depth) {
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            std::uint8_t flag = 0;
            plist_get_bool_val(node, &flag);
            return PlistValue::boolean(flag != 0);
        }
        case PLIST_UINT:
            return integerOfNode(node);
        case PLIST_REAL: {
            double real = 0;
            plist_get_real_val(node, &real);
            return PlistValue::real(real);
        }
        case PLIST_STRING: {
            std::uint64_t length = 0;
            const char* text = plist_get_string_ptr(node, &length);
            // A string that is not UTF-8 could be written back in neither format.
            if (text == nullptr || textProblem({text, length}, PlistFormat::Binary)) {
                return std::nullopt;
            }
            return PlistValue(std::string(text, length));
        }
        case PLIST_DATE:
            return dateOfNode(node);
        case PLIST_DATA: {
            std::uint64_t length = 0;
            const char* bytes = plist_get_data_ptr(node, &length);
            if (bytes == nullptr)
                return PlistValue::data({});
            auto* first = reinterpret_cast<const std::uint8_t*>(bytes);
            return PlistValue::data(PlistData(first, first + length));
        }
        case PLIST_ARRAY: {
            if (depth >= kMaxPlistDepth)
                return std::nullopt;
            PlistArray array;
            array.reserve(plist_array_get_size(node));
            // The iterator, unlike plist_array_get_item, does not walk the list from its start.
            plist_array_iter rawIterator = nullptr;
            plist_array_new_iter(node, &rawIterator);
            MallocHandle iterator = adoptMalloced(rawIterator);
            for (;;) {
                plist_t item = nullptr;
                plist_array_next_item(node, rawIterator, &item);
                if (item == nullptr)
                    break;
                std::optional<PlistValue> value = valueOfNode(item, depth + 1);
                if (!value)
                    return std::nullopt;
                array.push_back(std::move(*value));
            }
            return PlistValue(std::move(array));
        }
        case PLIST_DICT: {
            if (depth >= kMaxPlistDepth)
                return std::nullopt;
            PlistDictionary dictionary;
            plist_dict_iter rawIterator = nullptr;
            plist_dict_new_iter(node, &rawIterator);
            MallocHandle iterator = adoptMalloced(rawIterator);
            for (;;) {
                char* rawKey = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, rawIterator, &rawKey, &item);
                MallocHandle key = adoptMalloced(rawKey);
                if (item == nullptr)
                    break;
                std::optional<PlistValue> value = valueOfNode(item, depth + 1);
                if (!value || rawKey == nullptr || textProblem(rawKey, PlistFormat::Binary)) {
                    return std::nullopt;
                }
                dictionary.set(rawKey, std::move(*value));
            }
            return PlistValue(std::move(dictionary));
        }
        default:
            // UIDs belong to keyed archives, not to preferences; keys appear only inside dicts.
            return std::nullopt;
    }
}

// libplist 2.2 accepts an XML document cut off anywhere after its last value. Every writer
// ends the document with the closing tag, so a document without it was cut short.
bool endsWithClosingTag(std::string_view xml) {
    std::size_t end = xml.find_last_not_of(" \t\r\n");
    return end != std::string_view::npos && xml.substr(0, end + 1).ends_with("</plist>");
}

// libplist 2.2 aborts on an assertion when asked for a dictionary key holding U+0000, which a
// binary file can spell in UTF-16. Its XML writer copes with such a key and writes the NUL out
// as it is, so a NUL byte in the XML rendering gives the key away (data is base64 there).
bool hasKeyWithNul(plist_t root) {
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    MallocHandle owner = adoptMalloced(xml);
    return xml == nullptr || std::memchr(xml, '\0', length) != nullptr;
}

}  // namespace

std::optional<DecodedPlist> decodePlist(std::string_view bytes) {
    // libplist takes 32-bit lengths.
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    auto length = static_cast<std::uint32_t>(bytes.size());
    PlistFormat format =
        plist_is_binary(bytes.data(), length) ? PlistFormat::Binary : PlistFormat::Xml;
    // No XML document holds a NUL byte; libplist 2.2 would silently cut a key at it.
    if (format == PlistFormat::Xml &&
        (!endsWithClosingTag(bytes) || bytes.find('\0') != std::string_view::npos)) {
        return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), length, &root);
    PlistHandle handle = adopt(root);
    if (root == nullptr || (format == PlistFormat::Binary && hasKeyWithNul(root))) {
        return std::nullopt;
    }
    std::optional<PlistValue> value = valueOfNode(root, 0);
    if (!value)
        return std::nullopt;
    return DecodedPlist{std::move(*value), format};
}

std::optional<std::string> plistEncodingProblem(const PlistValue& value, PlistFormat format) {
    return encodingProblem(value, format, 0);
}

std::string encodePlist(const PlistValue& value, PlistFormat format) {
    if (auto problem = plistEncodingProblem(value, format)) {
        throw std::invalid_argument("cannot write a property list holding " + *problem);
    }
    PlistHandle root = adopt(nodeOfValue(value));
    char* bytes = nullptr;
    std::uint32_t length = 0;
    if (format == PlistFormat::Xml) {
        plist_to_xml(root.get(), &bytes, &length);
    } else {
        plist_to_bin(root.get(), &bytes, &length);
    }
    MallocHandle owner = adoptMalloced(bytes);
    if (bytes == nullptr)
        throw std::bad_alloc();
    return std::string(bytes, length);
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
