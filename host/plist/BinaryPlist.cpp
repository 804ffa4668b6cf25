#include "plist/BinaryPlist.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "plist/PlistCodec.h"
#include "plist/PlistText.h"

namespace quaymark::plist {

namespace {

constexpr std::string_view kMagic = "bplist00";
constexpr std::size_t kTrailerSize = 32;

// Markers: the high nibble names the type, the low one holds a size or a count.
enum Marker : std::uint8_t {
    kFalse = 0x08,
    kTrue = 0x09,
    kInteger = 0x10,
    kReal = 0x20,
    kDate = 0x33,
    kData = 0x40,
    kAsciiString = 0x50,
    kUtf16String = 0x60,
    kUid = 0x80,
    kArray = 0xA0,
    kDictionary = 0xD0,
};

std::uint64_t bigEndian(const char* bytes, std::size_t count) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : _bytes(bytes) {}

    std::optional<PlistValue> read() {
        if (_bytes.size() < kMagic.size() + kTrailerSize || !_bytes.starts_with(kMagic))
            return std::nullopt;
        const char* trailer = _bytes.data() + _bytes.size() - kTrailerSize;
        _offsetSize = static_cast<unsigned char>(trailer[6]);
        _refSize = static_cast<unsigned char>(trailer[7]);
        _objectCount = bigEndian(trailer + 8, 8);
        std::uint64_t top = bigEndian(trailer + 16, 8);
        _tableOffset = bigEndian(trailer + 24, 8);
        std::size_t tableEnd = _bytes.size() - kTrailerSize;
        if (_offsetSize < 1 || _offsetSize > 8 || _refSize < 1 || _refSize > 8 ||
            _objectCount == 0 || top >= _objectCount || _tableOffset < kMagic.size() ||
            _tableOffset > tableEnd || (tableEnd - _tableOffset) / _offsetSize != _objectCount ||
            (tableEnd - _tableOffset) % _offsetSize != 0) {
            return std::nullopt;
        }
        _onPath.assign(_objectCount, false);
        // Shared containers can spell a value exponentially larger than the file; what a real
        // file expands to stays far below this.
        _budget = 16 * _bytes.size() + (64 << 20);
        return value(top, 0);
    }

private:
    std::optional<std::size_t> offsetOf(std::uint64_t ref) const {
        if (ref >= _objectCount)
            return std::nullopt;
        std::uint64_t offset =
            bigEndian(_bytes.data() + _tableOffset + ref * _offsetSize, _offsetSize);
        if (offset < kMagic.size() || offset >= _tableOffset)
            return std::nullopt;
        return offset;
    }

    // The `count` bytes at `at`, within the objects; advances `at`.
    const char* take(std::size_t& at, std::uint64_t count) const {
        if (count > _tableOffset - at)
            return nullptr;
        const char* bytes = _bytes.data() + at;
        at += count;
        return bytes;
    }

    bool spend(std::uint64_t cost) {
        if (cost > _budget)
            return false;
        _budget -= cost;
        return true;
    }

    // The count in a marker's low nibble, or in the integer object that follows a 0xF.
    std::optional<std::uint64_t> count(std::uint8_t marker, std::size_t& at) const {
        if ((marker & 0x0F) != 0x0F)
            return marker & 0x0F;
        const char* next = take(at, 1);
        if (next == nullptr || (*next & 0xF0) != kInteger || (*next & 0x0F) > 3)
            return std::nullopt;
        std::size_t width = std::size_t{1} << (*next & 0x0F);
        const char* bytes = take(at, width);
        if (bytes == nullptr)
            return std::nullopt;
        return bigEndian(bytes, width);
    }

    std::optional<PlistValue> integer(std::uint8_t marker, std::size_t at) const {
        unsigned widthLog = marker & 0x0F;
        if (widthLog > 4)
            return std::nullopt;
        std::size_t width = std::size_t{1} << widthLog;
        const char* bytes = take(at, width);
        if (bytes == nullptr)
            return std::nullopt;
        if (width < 8)
            return PlistValue::unsignedInteger(bigEndian(bytes, width));
        if (width == 8)
            return PlistValue::integer(static_cast<std::int64_t>(bigEndian(bytes, 8)));
        // 16 bytes, signed: what fits in 64 bits, with the high half as its sign extension
        // (zero for the values above INT64_MAX that writers put in this form).
        std::uint64_t high = bigEndian(bytes, 8);
        std::uint64_t low = bigEndian(bytes + 8, 8);
        if (high == 0)
            return PlistValue::unsignedInteger(low);
        if (high == ~std::uint64_t{0} && (low >> 63) != 0)
            return PlistValue::integer(static_cast<std::int64_t>(low));
        return std::nullopt;
    }

    // The string object `ref` names, as UTF-8; nothing when it is none.
    std::optional<std::string> string(std::uint64_t ref) {
        std::optional<std::size_t> at = offsetOf(ref);
        if (!at)
            return std::nullopt;
        auto marker = static_cast<std::uint8_t>(_bytes[(*at)++]);
        std::optional<std::uint64_t> length = count(marker, *at);
        if (!length)
            return std::nullopt;
        if ((marker & 0xF0) == kAsciiString) {
            const char* bytes = take(*at, *length);
            if (bytes == nullptr || !spend(*length))
                return std::nullopt;
            std::string text(bytes, *length);
            for (char c : text) {
                if (static_cast<unsigned char>(c) >= 0x80)
                    return std::nullopt;
            }
            return text;
        }
        if ((marker & 0xF0) != kUtf16String ||
            *length > std::numeric_limits<std::size_t>::max() / 2)
            return std::nullopt;
        const char* bytes = take(*at, *length * 2);
        if (bytes == nullptr || !spend(*length * 3))
            return std::nullopt;
        std::string text;
        text.reserve(*length);
        for (std::uint64_t i = 0; i < *length; ++i) {
            auto unit = static_cast<char32_t>(bigEndian(bytes + 2 * i, 2));
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < *length) {
                auto low = static_cast<char32_t>(bigEndian(bytes + 2 * (i + 1), 2));
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    appendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                    ++i;
                    continue;
                }
            }
            if (unit >= 0xD800 && unit <= 0xDFFF)
                return std::nullopt;
            appendUtf8(text, unit);
        }
        return text;
    }

    std::optional<std::vector<std::uint64_t>> refs(std::size_t& at, std::uint64_t count) const {
        if (count > (_tableOffset - at) / _refSize)
            return std::nullopt;
        std::vector<std::uint64_t> result(count);
        for (std::uint64_t& ref : result)
            ref = bigEndian(take(at, _refSize), _refSize);
        return result;
    }

    std::optional<PlistValue> container(std::uint8_t marker, std::size_t at, std::uint64_t ref,
                                        int depth) {
        std::optional<std::uint64_t> length = count(marker, at);
        if (!length || depth >= kMaxPlistDepth || _onPath[ref])
            return std::nullopt;
        bool isArray = (marker & 0xF0) == kArray;
        std::optional<std::vector<std::uint64_t>> keys =
            isArray ? std::vector<std::uint64_t>() : refs(at, *length);
        std::optional<std::vector<std::uint64_t>> items = refs(at, *length);
        if (!keys || !items || !spend(*length * 32))
            return std::nullopt;
        _onPath[ref] = true;
        std::optional<PlistValue> result;
        if (isArray) {
            PlistArray array;
            array.reserve(items->size());
            for (std::uint64_t item : *items) {
                std::optional<PlistValue> element = value(item, depth + 1);
                if (!element)
                    return std::nullopt;
                array.push_back(std::move(*element));
            }
            result = PlistValue(std::move(array));
        } else {
            std::vector<PlistDictionary::Entry> entries;
            entries.reserve(items->size());
            for (std::size_t i = 0; i < items->size(); ++i) {
                std::optional<std::string> key = string((*keys)[i]);
                std::optional<PlistValue> element;
                if (key)
                    element = value((*items)[i], depth + 1);
                if (!element)
                    return std::nullopt;
                entries.emplace_back(std::move(*key), std::move(*element));
            }
            result = PlistValue(PlistDictionary(std::move(entries)));
        }
        _onPath[ref] = false;
        return result;
    }

    std::optional<PlistValue> real(std::uint8_t marker, std::size_t at) const {
        if (marker != kReal + 2 && marker != kReal + 3)
            return std::nullopt;
        std::size_t width = marker == kReal + 2 ? 4 : 8;
        const char* bytes = take(at, width);
        if (bytes == nullptr)
            return std::nullopt;
        std::uint64_t bits = bigEndian(bytes, width);
        if (width == 4)
            return PlistValue::real(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
        return PlistValue::real(std::bit_cast<double>(bits));
    }

    std::optional<PlistValue> date(std::uint8_t marker, std::size_t at) const {
        const char* bytes = take(at, 8);
        if (marker != kDate || bytes == nullptr)
            return std::nullopt;
        double seconds = std::bit_cast<double>(bigEndian(bytes, 8));
        if (!std::isfinite(seconds))
            return std::nullopt;
        return PlistValue(PlistDate{seconds});
    }

    std::optional<PlistValue> data(std::uint8_t marker, std::size_t at) {
        std::optional<std::uint64_t> length = count(marker, at);
        const char* bytes = length ? take(at, *length) : nullptr;
        if (bytes == nullptr || !spend(*length))
            return std::nullopt;
        auto* first = reinterpret_cast<const std::uint8_t*>(bytes);
        return PlistValue::data(PlistData(first, first + *length));
    }

    std::optional<PlistValue> uid(std::uint8_t marker, std::size_t at) const {
        std::size_t width = (marker & 0x0F) + 1;
        const char* bytes = width <= 8 ? take(at, width) : nullptr;
        if (bytes == nullptr)
            return std::nullopt;
        return PlistValue(PlistUid{bigEndian(bytes, width)});
    }

    std::optional<PlistValue> value(std::uint64_t ref, int depth) {
        std::optional<std::size_t> at = offsetOf(ref);
        if (!at || !spend(32))
            return std::nullopt;
        auto marker = static_cast<std::uint8_t>(_bytes[*at]);
        std::size_t body = *at + 1;
        switch (marker & 0xF0) {
            case 0x00:
                if (marker == kFalse || marker == kTrue)
                    return PlistValue::boolean(marker == kTrue);
                return std::nullopt;  // null and fill have no place in a PlistValue
            case kInteger:
                return integer(marker, body);
            case kReal:
                return real(marker, body);
            case kDate & 0xF0:
                return date(marker, body);
            case kData:
                return data(marker, body);
            case kAsciiString:
            case kUtf16String: {
                std::optional<std::string> text = string(ref);
                if (!text)
                    return std::nullopt;
                return PlistValue(std::move(*text));
            }
            case kUid:
                return uid(marker, body);
            case kArray:
            case kDictionary:
                return container(marker, body, ref, depth);
            default:
                return std::nullopt;  // sets and the unassigned markers
        }
    }

    std::string_view _bytes;
    unsigned _offsetSize = 0;
    unsigned _refSize = 0;
    std::uint64_t _objectCount = 0;
    std::size_t _tableOffset = 0;
    std::vector<bool> _onPath;  // containers being read, to refuse one inside itself
    std::uint64_t _budget = 0;
};

// Bytes enough for `value`: 1, 2, 4 or 8 for integers and counts, any for offsets and refs.
unsigned widthOf(std::uint64_t value, bool powerOfTwo) {
    unsigned width = 1;
    while (width < 8 && (value >> (8 * width)) != 0)
        width = powerOfTwo ? width * 2 : width + 1;
    return width;
}

class Writer {
public:
    std::string write(const PlistValue& root) {
        flatten(root);
        _refSize = widthOf(_objects.size() - 1, false);
        _out.append(kMagic);
        std::vector<std::uint64_t> offsets;
        offsets.reserve(_objects.size());
        for (const Object& object : _objects) {
            offsets.push_back(_out.size());
            writeObject(object);
        }
        std::uint64_t tableOffset = _out.size();
        unsigned offsetSize = widthOf(tableOffset, false);
        for (std::uint64_t offset : offsets)
            append(offset, offsetSize);
        _out.append(6, '\0');
        _out += static_cast<char>(offsetSize);
        _out += static_cast<char>(_refSize);
        append(_objects.size(), 8);
        append(0, 8);
        append(tableOffset, 8);
        return std::move(_out);
    }

private:
    // A value, or a dictionary key; a container's children are _refs[first, first + count).
    struct Object {
        const PlistValue* value = nullptr;
        const std::string* key = nullptr;
        std::size_t first = 0;
    };

    // Numbers the objects depth first, the container before its children, as Apple's writer
    // does; equal strings (keys above all) are written once.
    std::uint64_t flatten(const PlistValue& value) {
        if (const std::string* text = value.asString())
            return flattenString(text, &value);
        std::uint64_t ref = _objects.size();
        _objects.push_back({&value, nullptr, _refs.size()});
        if (const PlistArray* array = value.asArray()) {
            std::size_t first = _refs.size();
            _refs.resize(first + array->size());
            for (std::size_t i = 0; i < array->size(); ++i)
                _refs[first + i] = flatten((*array)[i]);
        } else if (const PlistDictionary* dictionary = value.asDictionary()) {
            std::size_t first = _refs.size();
            std::size_t size = dictionary->size();
            _refs.resize(first + 2 * size);
            for (std::size_t i = 0; i < size; ++i)
                _refs[first + i] = flattenString(&dictionary->entries()[i].first, nullptr);
            for (std::size_t i = 0; i < size; ++i)
                _refs[first + size + i] = flatten(dictionary->entries()[i].second);
        }
        return ref;
    }

    std::uint64_t flattenString(const std::string* text, const PlistValue* value) {
        auto [it, added] = _strings.try_emplace(*text, _objects.size());
        if (added)
            _objects.push_back({value, text, 0});
        return it->second;
    }

    void append(std::uint64_t value, unsigned width) {
        for (unsigned i = width; i > 0; --i)
            _out += static_cast<char>(value >> (8 * (i - 1)));
    }

    void appendMarker(std::uint8_t type, std::uint64_t count) {
        if (count < 15) {
            _out += static_cast<char>(type | count);
            return;
        }
        _out += static_cast<char>(type | 0x0F);
        unsigned width = widthOf(count, true);
        _out += static_cast<char>(kInteger | std::countr_zero(width));
        append(count, width);
    }

    void writeString(const std::string& text) {
        bool ascii = true;
        for (char c : text)
            ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (ascii) {
            appendMarker(kAsciiString, text.size());
            _out += text;
            return;
        }
        std::u16string units;
        forEachCodePoint(text, [&](char32_t c) {
            if (c >= 0x10000) {
                units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
                units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                units += static_cast<char16_t>(c);
            }
            return true;
        });
        appendMarker(kUtf16String, units.size());
        for (char16_t unit : units)
            append(unit, 2);
    }

    void writeObject(const Object& object) {
        if (object.key != nullptr) {
            writeString(*object.key);
            return;
        }
        const PlistValue& value = *object.value;
        switch (value.type()) {
            case PlistValue::Type::String:
                writeString(*value.asString());
                break;
            case PlistValue::Type::Integer:
                if (std::optional<std::int64_t> signedValue = value.asInteger();
                    signedValue && *signedValue < 0) {
                    _out += static_cast<char>(kInteger | 3);
                    append(static_cast<std::uint64_t>(*signedValue), 8);
                } else {
                    // Above INT64_MAX only the 16-byte form reads back as unsigned.
                    std::uint64_t bits = *value.asUnsignedInteger();
                    unsigned width = bits >> 63 ? 16 : widthOf(bits, true);
                    _out += static_cast<char>(kInteger | std::countr_zero(width));
                    if (width == 16)
                        append(0, 8);
                    append(bits, std::min(width, 8u));
                }
                break;
            case PlistValue::Type::Real:
                _out += static_cast<char>(kReal | 3);
                append(std::bit_cast<std::uint64_t>(*value.asReal()), 8);
                break;
            case PlistValue::Type::Boolean:
                _out += static_cast<char>(*value.asBoolean() ? kTrue : kFalse);
                break;
            case PlistValue::Type::Date:
                _out += static_cast<char>(kDate);
                append(std::bit_cast<std::uint64_t>(value.asDate()->sinceReferenceDate), 8);
                break;
            case PlistValue::Type::Data: {
                const PlistData& bytes = *value.asData();
                appendMarker(kData, bytes.size());
                _out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
                break;
            }
            case PlistValue::Type::Uid: {
                std::uint64_t uid = value.asUid()->value;
                unsigned width = widthOf(uid, true);
                _out += static_cast<char>(kUid | (width - 1));
                append(uid, width);
                break;
            }
            case PlistValue::Type::Array:
                appendMarker(kArray, value.asArray()->size());
                writeRefs(object.first, value.asArray()->size());
                break;
            case PlistValue::Type::Dictionary:
                appendMarker(kDictionary, value.asDictionary()->size());
                writeRefs(object.first, 2 * value.asDictionary()->size());
                break;
        }
    }

    void writeRefs(std::size_t first, std::size_t count) {
        for (std::size_t i = first; i < first + count; ++i)
            append(_refs[i], _refSize);
    }

    std::vector<Object> _objects;
    std::vector<std::uint64_t> _refs;
    std::unordered_map<std::string_view, std::uint64_t> _strings;
    unsigned _refSize = 1;
    std::string _out;
};

}  // namespace

std::optional<PlistValue> readBinaryPlist(std::string_view bytes) {
    return Reader(bytes).read();
}

std::string writeBinaryPlist(const PlistValue& value) {
    return Writer().write(value);
}

}  // namespace quaymark::plist
