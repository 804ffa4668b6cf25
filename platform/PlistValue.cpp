#include "PlistValue.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <ostream>
#include <sstream>
#include <unordered_map>

namespace quaymark {

PlistDictionary::PlistDictionary(std::initializer_list<Entry> entries) {
    for (const auto& entry : entries)
        set(entry.first, entry.second);
}

PlistDictionary::PlistDictionary(std::vector<Entry> entries) {
    // A small dictionary is checked by find(), a large one through a hash of its keys, so that
    // reading a file stays linear.
    constexpr std::size_t kLinearSize = 16;
    std::unordered_map<std::string_view, std::size_t> positions;
    _entries.reserve(entries.size());
    for (Entry& entry : entries) {
        PlistValue* existing = nullptr;
        if (entries.size() <= kLinearSize) {
            existing = find(entry.first);
        } else if (auto it = positions.find(entry.first); it != positions.end()) {
            existing = &_entries[it->second].second;
        }
        if (existing != nullptr) {
            *existing = std::move(entry.second);
            continue;
        }
        _entries.push_back(std::move(entry));
        // The reserved vector never moves, so the key's characters stay where they are.
        if (entries.size() > kLinearSize)
            positions.emplace(_entries.back().first, _entries.size() - 1);
    }
}

const PlistValue* PlistDictionary::find(std::string_view key) const {
    auto it = std::find_if(_entries.begin(), _entries.end(),
                           [&](const Entry& entry) { return entry.first == key; });
    return it == _entries.end() ? nullptr : &it->second;
}

PlistValue* PlistDictionary::find(std::string_view key) {
    return const_cast<PlistValue*>(std::as_const(*this).find(key));
}

void PlistDictionary::set(std::string key, PlistValue value) {
    if (PlistValue* existing = find(key)) {
        *existing = std::move(value);
        return;
    }
    _entries.emplace_back(std::move(key), std::move(value));
}

bool PlistDictionary::remove(std::string_view key) {
    auto it = std::find_if(_entries.begin(), _entries.end(),
                           [&](const Entry& entry) { return entry.first == key; });
    if (it == _entries.end())
        return false;
    _entries.erase(it);
    return true;
}

bool operator==(const PlistDictionary& a, const PlistDictionary& b) {
    if (a.size() != b.size())
        return false;
    // Dictionaries with their keys in the same order, as a file read twice, compare without a
    // search per key.
    if (std::equal(a.begin(), a.end(), b.begin(),
                   [](const auto& x, const auto& y) { return x.first == y.first; })) {
        return std::equal(a.begin(), a.end(), b.begin(),
                          [](const auto& x, const auto& y) { return x.second == y.second; });
    }
    return std::all_of(a.begin(), a.end(), [&](const PlistDictionary::Entry& entry) {
        const PlistValue* other = b.find(entry.first);
        return other != nullptr && *other == entry.second;
    });
}

PlistValue PlistValue::integer(std::int64_t value) {
    PlistValue result;
    result._value.emplace<1>(PlistInteger{static_cast<std::uint64_t>(value), value < 0});
    return result;
}

PlistValue PlistValue::unsignedInteger(std::uint64_t value) {
    PlistValue result;
    result._value.emplace<1>(PlistInteger{value, false});
    return result;
}

PlistValue PlistValue::real(double value) {
    PlistValue result;
    result._value.emplace<2>(value);
    return result;
}

PlistValue PlistValue::boolean(bool value) {
    PlistValue result;
    result._value.emplace<3>(value);
    return result;
}

PlistValue PlistValue::data(PlistData bytes) {
    PlistValue result;
    result._value.emplace<5>(std::move(bytes));
    return result;
}

PlistValue PlistValue::stringArray(const std::vector<std::string>& strings) {
    PlistArray array(strings.begin(), strings.end());
    return PlistValue(std::move(array));
}

std::optional<std::int64_t> PlistValue::asInteger() const {
    auto* value = std::get_if<1>(&_value);
    if (value == nullptr || (!value->negative && value->bits >> 63 != 0))
        return std::nullopt;
    return static_cast<std::int64_t>(value->bits);
}

std::optional<std::uint64_t> PlistValue::asUnsignedInteger() const {
    auto* value = std::get_if<1>(&_value);
    if (value == nullptr || value->negative)
        return std::nullopt;
    return value->bits;
}

std::optional<PlistUid> PlistValue::asUid() const {
    if (auto* value = std::get_if<8>(&_value))
        return *value;
    return std::nullopt;
}

std::optional<double> PlistValue::asReal() const {
    if (auto* value = std::get_if<2>(&_value))
        return *value;
    return std::nullopt;
}

std::optional<bool> PlistValue::asBoolean() const {
    if (auto* value = std::get_if<3>(&_value))
        return *value;
    return std::nullopt;
}

std::optional<PlistDate> PlistValue::asDate() const {
    if (auto* value = std::get_if<4>(&_value))
        return *value;
    return std::nullopt;
}

const char* typeName(PlistValue::Type type) {
    switch (type) {
        case PlistValue::Type::String:
            return "string";
        case PlistValue::Type::Integer:
            return "integer";
        case PlistValue::Type::Real:
            return "real";
        case PlistValue::Type::Boolean:
            return "boolean";
        case PlistValue::Type::Date:
            return "date";
        case PlistValue::Type::Data:
            return "data";
        case PlistValue::Type::Array:
            return "array";
        case PlistValue::Type::Dictionary:
            return "dictionary";
        case PlistValue::Type::Uid:
            return "UID";
    }
    return "unknown";
}

namespace {

bool isBareWord(const std::string& text) {
    if (text.empty())
        return false;
    return std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '_' || c == '/' || c == '-';
    });
}

void describeString(std::ostream& out, const std::string& text) {
    if (isBareWord(text)) {
        out << text;
        return;
    }
    out << '"';
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out << "\\\"";
                break;
            case '\\':
                out << "\\\\";
                break;
            case '\n':
                out << "\\n";
                break;
            case '\t':
                out << "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\%03o", c);
                    out << buffer;
                } else {
                    out << c;
                }
        }
    }
    out << '"';
}

void describe(std::ostream& out, const PlistValue& value);

void describeInteger(std::ostream& out, const PlistValue& value) {
    if (auto unsignedValue = value.asUnsignedInteger())
        out << *unsignedValue;
    else
        out << *value.asInteger();
}

void describeDate(std::ostream& out, const PlistDate& date) {
    double unix = date.unixSeconds();
    // Beyond what gmtime renders (and what converts to time_t), the plain number.
    if (!(std::abs(unix) < 1e15)) {
        out << date.sinceReferenceDate << " s since 2001-01-01";
        return;
    }
    std::time_t seconds = static_cast<std::time_t>(std::floor(unix));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[40];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &utc);
    out << buffer;
}

void describeData(std::ostream& out, const PlistData& data) {
    out << '<';
    char buffer[4];
    for (std::uint8_t byte : data) {
        std::snprintf(buffer, sizeof buffer, "%02x", byte);
        out << buffer;
    }
    out << '>';
}

void describeArray(std::ostream& out, const PlistArray& array) {
    out << '(';
    bool first = true;
    for (const PlistValue& element : array) {
        out << (first ? "" : ", ");
        describe(out, element);
        first = false;
    }
    out << ')';
}

void describeDictionary(std::ostream& out, const PlistDictionary& dictionary) {
    out << '{';
    for (const auto& [key, element] : dictionary) {
        describeString(out, key);
        out << " = ";
        describe(out, element);
        out << "; ";
    }
    out << '}';
}

void describe(std::ostream& out, const PlistValue& value) {
    switch (value.type()) {
        case PlistValue::Type::String:
            describeString(out, *value.asString());
            break;
        case PlistValue::Type::Integer:
            describeInteger(out, value);
            break;
        case PlistValue::Type::Real:
            out << *value.asReal();
            break;
        case PlistValue::Type::Boolean:
            out << (*value.asBoolean() ? "YES" : "NO");
            break;
        case PlistValue::Type::Date:
            describeDate(out, *value.asDate());
            break;
        case PlistValue::Type::Data:
            describeData(out, *value.asData());
            break;
        case PlistValue::Type::Array:
            describeArray(out, *value.asArray());
            break;
        case PlistValue::Type::Uid:
            // As Foundation describes a keyed archive's reference.
            out << "<CFKeyedArchiverUID>{value = " << value.asUid()->value << "}";
            break;
        case PlistValue::Type::Dictionary:
            describeDictionary(out, *value.asDictionary());
            break;
    }
}

}  // namespace

std::string PlistValue::description() const {
    std::ostringstream out;
    describe(out, *this);
    return out.str();
}

std::ostream& operator<<(std::ostream& out, const PlistValue& value) {
    describe(out, value);
    return out;
}

std::ostream& operator<<(std::ostream& out, const PlistDictionary& dictionary) {
    describe(out, PlistValue(dictionary));
    return out;
}

}  // namespace quaymark
