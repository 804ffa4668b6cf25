// Property-list values: the data model of preferences and configuration files.
#pragma once

#include <compare>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quaymark {

// A point in time as property lists store it: seconds since 2001-01-01 00:00:00 UTC.
struct PlistDate {
    double sinceReferenceDate = 0;

    static constexpr double kReferenceDateUnixSeconds = 978307200.0;
    static PlistDate fromUnixSeconds(double unixSeconds) {
        return PlistDate{unixSeconds - kReferenceDateUnixSeconds};
    }
    double unixSeconds() const { return sinceReferenceDate + kReferenceDateUnixSeconds; }
    // Seconds from `earlier` to this date; negative when `earlier` is in fact later.
    double timeIntervalSince(PlistDate earlier) const {
        return sinceReferenceDate - earlier.sinceReferenceDate;
    }
    auto operator<=>(const PlistDate&) const = default;
};

using PlistData = std::vector<std::uint8_t>;

// An integer anywhere in INT64_MIN..UINT64_MAX: the 64 bits, and whether they are read as
// negative. Only values below zero are negative, so equal integers have equal fields.
struct PlistInteger {
    std::uint64_t bits = 0;
    bool negative = false;
    auto operator<=>(const PlistInteger&) const = default;
};

// A keyed archive's reference to another object: an opaque number, kept as it was read.
struct PlistUid {
    std::uint64_t value = 0;
    auto operator<=>(const PlistUid&) const = default;
};

class PlistValue;
using PlistArray = std::vector<PlistValue>;

// A dictionary that keeps its keys in insertion order, so that files are written
// back in the order they were read. Equality ignores the order, as property lists do.
class PlistDictionary {
public:
    using Entry = std::pair<std::string, PlistValue>;

    PlistDictionary() = default;
    PlistDictionary(std::initializer_list<Entry> entries);
    // The entries in their order; of a key given twice the last value is kept, at the first
    // place, as set() would. Linear in the number of entries, for readers of large files.
    explicit PlistDictionary(std::vector<Entry> entries);

    const PlistValue* find(std::string_view key) const;
    PlistValue* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    // Replaces the value of an existing key in place, or appends a new key.
    void set(std::string key, PlistValue value);
    // False when the key was not there.
    bool remove(std::string_view key);

    // Defined below PlistValue, which an entry needs complete.
    std::size_t size() const;
    bool empty() const;
    const std::vector<Entry>& entries() const { return _entries; }
    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;

    friend bool operator==(const PlistDictionary& a, const PlistDictionary& b);

private:
    std::vector<Entry> _entries;
};

class PlistValue {
public:
    // Uid comes last so that the indices of the older types stay as they were.
    enum class Type { String, Integer, Real, Boolean, Date, Data, Array, Dictionary, Uid };

    PlistValue() : PlistValue(std::string()) {}
    PlistValue(std::string text) : _value(std::in_place_index<0>, std::move(text)) {}
    PlistValue(const char* text) : _value(std::in_place_index<0>, text) {}
    PlistValue(PlistArray array) : _value(std::in_place_index<6>, std::move(array)) {}
    PlistValue(PlistDictionary dictionary)
        : _value(std::in_place_index<7>, std::move(dictionary)) {}
    PlistValue(PlistDate date) : _value(std::in_place_index<4>, date) {}
    PlistValue(PlistUid uid) : _value(std::in_place_index<8>, uid) {}

    static PlistValue integer(std::int64_t value);
    static PlistValue unsignedInteger(std::uint64_t value);
    static PlistValue real(double value);
    static PlistValue boolean(bool value);
    static PlistValue data(PlistData bytes);
    static PlistValue stringArray(const std::vector<std::string>& strings);

    Type type() const { return static_cast<Type>(_value.index()); }

    // Each accessor gives nothing when the value is of another type.
    const std::string* asString() const { return std::get_if<0>(&_value); }
    // Nothing also for an integer above INT64_MAX.
    std::optional<std::int64_t> asInteger() const;
    // Nothing also for a negative integer.
    std::optional<std::uint64_t> asUnsignedInteger() const;
    std::optional<double> asReal() const;
    std::optional<bool> asBoolean() const;
    std::optional<PlistDate> asDate() const;
    const PlistData* asData() const { return std::get_if<5>(&_value); }
    const PlistArray* asArray() const { return std::get_if<6>(&_value); }
    PlistArray* asArray() { return std::get_if<6>(&_value); }
    const PlistDictionary* asDictionary() const { return std::get_if<7>(&_value); }
    PlistDictionary* asDictionary() { return std::get_if<7>(&_value); }
    std::optional<PlistUid> asUid() const;

    // A readable rendering in the old-style property-list notation, for logs and tests.
    std::string description() const;

    friend bool operator==(const PlistValue& a, const PlistValue& b) {
        return a._value == b._value;
    }

private:
    std::variant<std::string, PlistInteger, double, bool, PlistDate, PlistData, PlistArray,
                 PlistDictionary, PlistUid>
        _value;
};

inline std::size_t PlistDictionary::size() const {
    return _entries.size();
}
inline bool PlistDictionary::empty() const {
    return _entries.empty();
}
inline std::vector<PlistDictionary::Entry>::const_iterator PlistDictionary::begin() const {
    return _entries.begin();
}
inline std::vector<PlistDictionary::Entry>::const_iterator PlistDictionary::end() const {
    return _entries.end();
}

std::ostream& operator<<(std::ostream& out, const PlistValue& value);
std::ostream& operator<<(std::ostream& out, const PlistDictionary& dictionary);
const char* typeName(PlistValue::Type type);

}  // namespace quaymark
