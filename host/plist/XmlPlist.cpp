#include "plist/XmlPlist.h"

#include <expat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "plist/PlistCodec.h"
#include "plist/PlistText.h"

namespace quaymark::plist {

namespace {

constexpr std::string_view kWhitespace = " \t\r\n";

std::string_view trimmed(std::string_view text) {
    std::size_t first = text.find_first_not_of(kWhitespace);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
}

std::optional<PlistValue> parseString(std::string_view text) {
    return PlistValue(std::string(text));
}

std::optional<PlistValue> parseInteger(std::string_view text) {
    text = trimmed(text);
    bool negative = text.starts_with('-');
    if (negative || text.starts_with('+'))
        text.remove_prefix(1);
    int base = 10;
    if (!negative && (text.starts_with("0x") || text.starts_with("0X"))) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    if (!negative)
        return PlistValue::unsignedInteger(magnitude);
    if (magnitude > std::uint64_t{1} << 63)
        return std::nullopt;
    return PlistValue::integer(static_cast<std::int64_t>(0 - magnitude));
}

std::optional<PlistValue> parseReal(std::string_view text) {
    text = trimmed(text);
    // from_chars takes a minus sign but no plus, and "inf", "infinity" and "nan" in any case.
    if (text.starts_with('+') && !text.starts_with("+-"))
        text.remove_prefix(1);
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return PlistValue::real(value);
}

// YYYY-MM-DDTHH:MM:SSZ, as every writer of the format spells a date.
std::optional<PlistValue> parseDate(std::string_view text) {
    text = trimmed(text);
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
        return std::nullopt;
    }
    auto number = [&](std::size_t at, std::size_t length) -> int {
        int value = 0;
        auto [end, error] = std::from_chars(text.data() + at, text.data() + at + length, value);
        return error == std::errc() && end == text.data() + at + length ? value : -1;
    };
    using namespace std::chrono;
    year_month_day date{year(number(0, 4)), month(static_cast<unsigned>(number(5, 2))),
                        day(static_cast<unsigned>(number(8, 2)))};
    int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (number(0, 4) < 1 || !date.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59) {
        return std::nullopt;
    }
    auto sinceReference = sys_days(date) - sys_days(2001y / January / 1);
    double total = static_cast<double>(duration_cast<seconds>(sinceReference).count());
    return PlistValue(PlistDate{total + hour * 3600 + minute * 60 + second});
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Base64 with white space anywhere, and padding; nothing for any other character, a length
// that is no multiple of four, or padding before the end.
std::optional<PlistValue> parseData(std::string_view text) {
    constexpr signed char kSkipped = -2;
    static const auto kValues = [] {
        std::array<signed char, 256> values;
        values.fill(-1);
        for (int i = 0; i < 64; ++i)
            values[static_cast<unsigned char>(kBase64[i])] = static_cast<signed char>(i);
        for (char c : kWhitespace)
            values[static_cast<unsigned char>(c)] = kSkipped;
        return values;
    }();
    PlistData bytes;
    bytes.reserve(text.size() / 4 * 3);
    std::uint32_t group = 0;
    int digits = 0, padding = 0;
    for (char c : text) {
        signed char value = kValues[static_cast<unsigned char>(c)];
        if (value == kSkipped)
            continue;
        if (c == '=' && digits >= 2) {
            ++padding;
            value = 0;
        } else if (value < 0 || padding > 0) {
            return std::nullopt;
        }
        group = (group << 6) | static_cast<std::uint32_t>(value);
        if (++digits < 4)
            continue;
        for (int i = 0; i < 3 - padding; ++i)
            bytes.push_back(static_cast<std::uint8_t>(group >> (16 - 8 * i)));
        digits = 0;
        group = 0;
        if (padding > 0)
            padding = 3;  // nothing may follow a padded group
    }
    if (digits != 0)
        return std::nullopt;
    return PlistValue::data(std::move(bytes));
}

// Builds the value from expat's events, one frame per open element, so that nesting costs
// no stack of our own. Any event the format has no place for stops the parser.
class Reader {
public:
    std::optional<PlistValue> read(std::string_view bytes) {
        std::unique_ptr<XML_ParserStruct, FreeParser> parser(XML_ParserCreate(nullptr));
        if (!parser)
            return std::nullopt;
        _parser = parser.get();
        XML_SetUserData(_parser, this);
        XML_SetElementHandler(_parser, &Reader::started, &Reader::ended);
        XML_SetCharacterDataHandler(_parser, &Reader::characters);
        // No property list declares entities; refusing their declarations leaves nothing to
        // expand. A reference to an undeclared one is skipped only in a document with an
        // external subset, which is never read (no network, no external DTD).
        XML_SetEntityDeclHandler(_parser, &Reader::entityDeclared);
        XML_SetSkippedEntityHandler(_parser, &Reader::entitySkipped);
        XML_SetParamEntityParsing(_parser, XML_PARAM_ENTITY_PARSING_NEVER);
        constexpr std::size_t kChunk = std::size_t{1} << 30;  // XML_Parse takes an int length
        do {
            std::size_t length = std::min(bytes.size(), kChunk);
            bool last = length == bytes.size();
            if (XML_Parse(_parser, bytes.data(), static_cast<int>(length), last) != XML_STATUS_OK) {
                return std::nullopt;
            }
            bytes.remove_prefix(length);
        } while (!bytes.empty());
        return _failed ? std::nullopt : std::move(_result);
    }

private:
    struct FreeParser {
        void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
    };

    enum class Kind { Plist, Array, Dictionary, Key, Boolean, Scalar };

    struct Frame {
        Kind kind = Kind::Plist;
        bool isTrue = false;                                        // Boolean
        std::optional<PlistValue> (*parse)(std::string_view) = {};  // Scalar
        std::string text;                                           // Key, Boolean, Scalar
        PlistArray items;                                           // Array
        std::vector<PlistDictionary::Entry> entries;                // Dictionary
        std::optional<std::string> key;                             // Dictionary: unmatched
        std::optional<PlistValue> value;                            // Plist
    };

    static Reader& of(void* data) { return *static_cast<Reader*>(data); }

    void fail() {
        if (!_failed)
            XML_StopParser(_parser, XML_FALSE);
        _failed = true;
    }

    static void XMLCALL entityDeclared(void* data, const XML_Char*, int, const XML_Char*, int,
                                       const XML_Char*, const XML_Char*, const XML_Char*,
                                       const XML_Char*) {
        of(data).fail();
    }

    static void XMLCALL entitySkipped(void* data, const XML_Char*, int) { of(data).fail(); }

    static void XMLCALL started(void* data, const XML_Char* name, const XML_Char**) {
        Reader& reader = of(data);
        if (!reader._failed && !reader.open(name))
            reader.fail();
    }

    static void XMLCALL ended(void* data, const XML_Char*) {
        Reader& reader = of(data);
        if (!reader._failed && !reader.close())
            reader.fail();
    }

    static void XMLCALL characters(void* data, const XML_Char* text, int length) {
        Reader& reader = of(data);
        if (reader._failed || reader._frames.empty())
            return;
        Frame& top = reader._frames.back();
        std::string_view chunk(text, static_cast<std::size_t>(length));
        if (top.kind == Kind::Key || top.kind == Kind::Boolean || top.kind == Kind::Scalar)
            top.text += chunk;
        else if (!trimmed(chunk).empty())
            reader.fail();  // text between the elements of a container
    }

    Frame& push(Kind kind) {
        Frame& frame = _frames.emplace_back();
        frame.kind = kind;
        return frame;
    }

    bool open(std::string_view tag) {
        if (_frames.empty()) {
            if (tag != "plist" || _result)
                return false;
            push(Kind::Plist);
            return true;
        }
        Frame& parent = _frames.back();
        switch (parent.kind) {
            case Kind::Plist:
                if (parent.value)
                    return false;
                break;
            case Kind::Dictionary:
                if (tag == "key") {
                    if (parent.key)
                        return false;
                    push(Kind::Key);
                    return true;
                }
                if (!parent.key)
                    return false;
                break;
            case Kind::Array:
                break;
            default:
                return false;  // an element inside text
        }
        if (tag == "array" || tag == "dict") {
            if (_containers >= kMaxPlistDepth)
                return false;
            ++_containers;
            push(tag == "array" ? Kind::Array : Kind::Dictionary);
            return true;
        }
        if (tag == "true" || tag == "false") {
            push(Kind::Boolean).isTrue = tag == "true";
            return true;
        }
        auto parse = tag == "string"    ? parseString
                     : tag == "integer" ? parseInteger
                     : tag == "real"    ? parseReal
                     : tag == "date"    ? parseDate
                     : tag == "data"    ? parseData
                                        : nullptr;
        if (parse == nullptr)
            return false;
        push(Kind::Scalar).parse = parse;
        return true;
    }

    // The element of the top frame ended (expat checks that its end tag matches).
    bool close() {
        Frame frame = std::move(_frames.back());
        _frames.pop_back();
        std::optional<PlistValue> value;
        switch (frame.kind) {
            case Kind::Plist:
                _result = std::move(frame.value);
                return _result.has_value();
            case Kind::Key:
                _frames.back().key = std::move(frame.text);
                return true;
            case Kind::Boolean:
                if (!trimmed(frame.text).empty())
                    return false;
                value = PlistValue::boolean(frame.isTrue);
                break;
            case Kind::Scalar:
                value = frame.parse(frame.text);
                break;
            case Kind::Array:
                --_containers;
                value = PlistValue(std::move(frame.items));
                break;
            case Kind::Dictionary:
                --_containers;
                if (frame.key)
                    return false;  // a key without its value
                value = PlistValue(PlistDictionary(std::move(frame.entries)));
                break;
        }
        if (!value)
            return false;
        Frame& parent = _frames.back();
        if (parent.kind == Kind::Array) {
            parent.items.push_back(std::move(*value));
        } else if (parent.kind == Kind::Dictionary) {
            parent.entries.emplace_back(std::move(*parent.key), std::move(*value));
            parent.key.reset();
        } else {
            parent.value = std::move(value);
        }
        return true;
    }

    XML_Parser _parser = nullptr;
    std::vector<Frame> _frames;
    int _containers = 0;
    std::optional<PlistValue> _result;
    bool _failed = false;
};

class Writer {
public:
    std::string write(const PlistValue& root) {
        _out =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n";
        value(root, 0);
        _out += "</plist>\n";
        return std::move(_out);
    }

private:
    void indent(int depth) { _out.append(static_cast<std::size_t>(depth), '\t'); }

    // Markup characters as entities; a carriage return as a reference, which XML readers
    // keep while they turn a literal one into a line feed.
    void escaped(std::string_view text) {
        for (char c : text) {
            switch (c) {
                case '&':
                    _out += "&amp;";
                    break;
                case '<':
                    _out += "&lt;";
                    break;
                case '>':
                    _out += "&gt;";
                    break;
                case '\r':
                    _out += "&#13;";
                    break;
                default:
                    _out += c;
            }
        }
    }

    void element(std::string_view tag, std::string_view text, int depth) {
        indent(depth);
        _out.append("<").append(tag).append(">");
        _out += text;
        _out.append("</").append(tag).append(">\n");
    }

    void string(const std::string& text, int depth) {
        indent(depth);
        _out += "<string>";
        escaped(text);
        _out += "</string>\n";
    }

    void integer(const PlistValue& value, int depth) {
        if (auto negative = value.asInteger(); negative && *negative < 0)
            element("integer", std::to_string(*negative), depth);
        else
            element("integer", std::to_string(*value.asUnsignedInteger()), depth);
    }

    void array(const PlistArray& items, int depth) {
        indent(depth);
        if (items.empty()) {
            _out += "<array/>\n";
            return;
        }
        _out += "<array>\n";
        for (const PlistValue& item : items)
            value(item, depth + 1);
        indent(depth);
        _out += "</array>\n";
    }

    void dictionary(const PlistDictionary& entries, int depth) {
        indent(depth);
        if (entries.empty()) {
            _out += "<dict/>\n";
            return;
        }
        _out += "<dict>\n";
        for (const auto& [key, item] : entries) {
            indent(depth + 1);
            _out += "<key>";
            escaped(key);
            _out += "</key>\n";
            value(item, depth + 1);
        }
        indent(depth);
        _out += "</dict>\n";
    }

    void value(const PlistValue& value, int depth) {
        switch (value.type()) {
            case PlistValue::Type::String:
                string(*value.asString(), depth);
                break;
            case PlistValue::Type::Integer:
                integer(value, depth);
                break;
            case PlistValue::Type::Real:
                element("real", realText(*value.asReal()), depth);
                break;
            case PlistValue::Type::Boolean:
                indent(depth);
                _out += *value.asBoolean() ? "<true/>\n" : "<false/>\n";
                break;
            case PlistValue::Type::Date:
                element("date", dateText(*value.asDate()), depth);
                break;
            case PlistValue::Type::Data:
                data(*value.asData(), depth);
                break;
            case PlistValue::Type::Array:
                array(*value.asArray(), depth);
                break;
            case PlistValue::Type::Dictionary:
                dictionary(*value.asDictionary(), depth);
                break;
            case PlistValue::Type::Uid:
                // checkPlistEncodable keeps UIDs out of XML.
                break;
        }
    }

    static std::string realText(double real) {
        if (std::isnan(real))
            return "nan";
        if (std::isinf(real))
            return real > 0 ? "+infinity" : "-infinity";
        char buffer[32];
        auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, real);
        return std::string(buffer, end);
    }

    // Only whole seconds in years 1 to 9999 get here (checkPlistEncodable).
    static std::string dateText(PlistDate date) {
        using namespace std::chrono;
        auto total = static_cast<std::int64_t>(date.sinceReferenceDate);
        sys_seconds moment = sys_days(2001y / January / 1) + seconds(total);
        sys_days day = floor<days>(moment);
        year_month_day ymd(day);
        hh_mm_ss time(moment - day);
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                      static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                      static_cast<unsigned>(ymd.day()), static_cast<int>(time.hours().count()),
                      static_cast<int>(time.minutes().count()),
                      static_cast<int>(time.seconds().count()));
        return buffer;
    }

    void data(const PlistData& bytes, int depth) {
        indent(depth);
        _out += "<data>\n";
        // Lines of 68 characters at the element's own indentation, as Apple writes them.
        for (std::size_t line = 0; line < bytes.size(); line += 51) {
            indent(depth);
            for (std::size_t i = line; i < std::min(bytes.size(), line + 51); i += 3) {
                std::size_t left = bytes.size() - i;
                std::uint32_t group = bytes[i] << 16 | (left > 1 ? bytes[i + 1] << 8 : 0) |
                                      (left > 2 ? bytes[i + 2] : 0);
                for (std::size_t k = 0; k < 4; ++k) {
                    _out += k <= std::min<std::size_t>(left, 3)
                                ? kBase64[(group >> (18 - 6 * k)) & 63]
                                : '=';
                }
            }
            _out += '\n';
        }
        indent(depth);
        _out += "</data>\n";
    }

    std::string _out;
};

}  // namespace

std::optional<PlistValue> readXmlPlist(std::string_view bytes) {
    return Reader().read(bytes);
}

std::string writeXmlPlist(const PlistValue& value) {
    return Writer().write(value);
}

}  // namespace quaymark::plist
