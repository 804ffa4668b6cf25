// Property-list bytes: round trips, what Python's plistlib writes, damaged and cut input.
// plist_differential.py compares with plistlib on random values and refuses a malformed corpus.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

#include "HostTestSupport.h"
#include "plist/PlistCodec.h"

namespace quaymark {
namespace {

constexpr PlistFormat kFormats[] = {PlistFormat::Xml, PlistFormat::Binary};

std::string nameOf(PlistFormat format) {
    return format == PlistFormat::Xml ? "xml" : "binary";
}

PlistDate utc(int year, unsigned month, unsigned day, int second = 0, int microsecond = 0) {
    using namespace std::chrono;
    auto sinceReference = sys_days(std::chrono::year(year) / month / day) - sys_days(2001y / 1 / 1);
    return PlistDate{static_cast<double>(duration_cast<seconds>(sinceReference).count()) + second +
                     microsecond / 1e6};
}

// The same value as a Python expression (D is datetime.datetime) and as a PlistValue.
struct Sample {
    const char* name;
    const char* python;
    PlistValue value;
    bool binaryOnly = false;  // what XML cannot hold: U+0000, UIDs, fractions of a second
};

std::vector<Sample> samples() {
    using D = PlistDictionary;
    auto integer = PlistValue::integer;
    auto real = PlistValue::real;
    auto data = [](std::string bytes) {
        return PlistValue::data(PlistData(bytes.begin(), bytes.end()));
    };
    constexpr auto kUint64Max = std::numeric_limits<std::uint64_t>::max();
    PlistData allBytes(768);
    std::iota(allBytes.begin(), allBytes.end(), 0);  // each byte thrice
    // clang-format off
    return {
        {"strings",
         R"({'plain': 'hello', 'empty': '', 'unicode': 'h\u00e9llo \u2713 \U0001F600',
             'markup': '<a href="x">&amp;</a>', 'whitespace': ' tab\tline\nfeed '})",
         D{{"plain", "hello"}, {"empty", ""}, {"unicode", "héllo ✓ 😀"},
           {"markup", "<a href=\"x\">&amp;</a>"}, {"whitespace", " tab\tline\nfeed "}}},
        {"nul", R"({'k\0\u00e9': 'a\0b', '\U0001F600\0': '\0'})",
         D{{std::string("k\0é", 4), std::string("a\0b", 3)},
           {std::string("😀\0", 5), std::string(1, '\0')}},
         true},
        {"integers",
         "{'zero': 0, 'minusOne': -1, 'int64Min': -2**63, 'int64Max': 2**63 - 1, 'byte': 255, "
         "'beyond32Bits': 2**32 + 1, 'int64MaxPlusOne': 2**63, 'uint64Max': 2**64 - 1}",
         D{{"zero", integer(0)}, {"minusOne", integer(-1)},
           {"int64Min", integer(std::numeric_limits<std::int64_t>::min())},
           {"int64Max", integer(std::numeric_limits<std::int64_t>::max())},
           {"byte", integer(255)}, {"beyond32Bits", integer(4294967297)},
           {"int64MaxPlusOne", PlistValue::unsignedInteger(std::uint64_t{1} << 63)},
           {"uint64Max", PlistValue::unsignedInteger(kUint64Max)}}},
        {"reals",
         "{'tenth': 0.1, 'minusZero': -0.0, 'huge': 1e300, 'smallest': 5e-324, 'whole': 3.0, "
         "'infinite': float('inf'), 'minusInfinite': float('-inf')}",
         D{{"tenth", real(0.1)}, {"minusZero", real(-0.0)}, {"huge", real(1e300)},
           {"smallest", real(5e-324)}, {"whole", real(3.0)},
           {"infinite", real(std::numeric_limits<double>::infinity())},
           {"minusInfinite", real(-std::numeric_limits<double>::infinity())}}},
        {"booleans", "{'yes': True, 'no': False}",
         D{{"yes", PlistValue::boolean(true)}, {"no", PlistValue::boolean(false)}}},
        {"dates",
         "{'reference': D(2001, 1, 1), 'leapDay': D(2024, 2, 29, 0, 0, 45), 'first': D(1, 1, 1), "
         "'last': D(9999, 12, 31, 23, 59, 59), 'early': D(1900, 1, 1), 'late': D(4001, 1, 1)}",
         D{{"reference", utc(2001, 1, 1)}, {"leapDay", utc(2024, 2, 29, 45)},
           {"first", utc(1, 1, 1)}, {"last", utc(9999, 12, 31, 86399)},
           {"early", utc(1900, 1, 1)}, {"late", utc(4001, 1, 1)}}},
        {"subsecondDates",
         "{'quarter': D(2001, 1, 1, 0, 0, 0, 250000), 'justBefore': D(2000, 12, 31, 23, 59, 59, "
         "750000), 'micro': D(2024, 2, 29, 0, 0, 45, 123456)}",
         D{{"quarter", PlistDate{0.25}}, {"justBefore", PlistDate{-0.25}},
           {"micro", utc(2024, 2, 29, 45, 123456)}},
         true},
        {"uids", "{'small': UID(1), 'large': UID(2**64 - 1)}",
         D{{"small", PlistUid{1}}, {"large", PlistUid{kUint64Max}}}, true},
        {"data", "{'empty': b'', 'nul': b'\\0', 'allBytes': bytes(range(256)) * 3}",
         D{{"empty", data("")}, {"nul", data(std::string(1, '\0'))},
           {"allBytes", PlistValue::data(allBytes)}}},
        {"arrayAtTop", "[1, 'x', b'\\x01']", PlistArray{integer(1), "x", data("\x01")}},
    };
    // clang-format on
}

PlistValue everySample(PlistFormat format) {
    PlistDictionary everything;
    for (const Sample& sample : samples()) {
        if (!sample.binaryOnly || format == PlistFormat::Binary)
            everything.set(sample.name, sample.value);
    }
    return everything;
}

// Description as well as equality: the description follows key order, which equality ignores.
void expectSameValue(const PlistValue& actual, const PlistValue& expected) {
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(actual.description(), expected.description());
}

constexpr const char* kPythonWriter = R"(
import plistlib, sys
from datetime import datetime as D
from plistlib import UID
format = plistlib.FMT_XML if sys.argv[2] == 'xml' else plistlib.FMT_BINARY
plistlib.dump(eval(sys.argv[1]), open(sys.argv[3], 'wb'), fmt=format, sort_keys=False)
)";

// Both ways: our own bytes read back, and plistlib's bytes read as the value it was given (a
// reading fault that our writer undoes would pass the first alone).
TEST(PlistCodecTest, ValuesOfEveryTypeRoundTripAndReadAsPythonWroteThem) {
    testing::TemporaryDirectory directory;
    for (const Sample& sample : samples()) {
        for (PlistFormat format : kFormats) {
            if (sample.binaryOnly && format == PlistFormat::Xml)
                continue;
            SCOPED_TRACE(sample.name + (" in " + nameOf(format)));
            std::string ours = encodePlist(sample.value, format);
            EXPECT_EQ(encodePlist(sample.value, format), ours);
            std::optional<DecodedPlist> decoded = decodePlist(ours);
            ASSERT_TRUE(decoded);
            EXPECT_EQ(decoded->format, format);
            expectSameValue(decoded->value, sample.value);

            auto file = directory.path() / (sample.name + nameOf(format) + ".plist");
            testing::ProcessResult python =
                testing::runPython(kPythonWriter, {sample.python, nameOf(format), file.string()});
            ASSERT_EQ(python.exitStatus, 0) << python.output;
            std::optional<DecodedPlist> theirs = readPlistFile(file.string());
            ASSERT_TRUE(theirs);
            expectSameValue(theirs->value, sample.value);
        }
    }
}

PlistValue nested(int depth) {
    PlistValue value = PlistArray{};
    for (int level = 1; level < depth; ++level)
        value = PlistArray{value};
    return value;
}

TEST(PlistCodecTest, EveryCutShortFileIsRefused) {
    for (PlistFormat format : kFormats) {
        std::string whole = encodePlist(everySample(format), format);
        ASSERT_TRUE(decodePlist(whole));
        // Up to the end of the closing tag; only white space follows it.
        std::size_t complete = format == PlistFormat::Xml ? whole.rfind('>') + 1 : whole.size();
        for (std::size_t length = 0; length < complete; ++length) {
            SCOPED_TRACE(nameOf(format) + " cut to " + std::to_string(length));
            // Exactly sized, so that AddressSanitizer catches a read past the end.
            auto copy = std::make_unique<char[]>(length + 1);
            std::copy_n(whole.data(), length, copy.get());
            ASSERT_FALSE(decodePlist(std::string_view(copy.get(), length)));
        }
    }
}

TEST(PlistCodecTest, WhateverDamagedBytesDecodeToIsWrittenBackTheSame) {
    // QUAYMARK_TEST_SEED replays a failed run.
    const char* replay = std::getenv("QUAYMARK_TEST_SEED");
    const unsigned seed = replay ? std::stoul(replay) : std::random_device()();
    std::cout << "QUAYMARK_TEST_SEED=" << seed << std::endl;
    SCOPED_TRACE("QUAYMARK_TEST_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    for (PlistFormat format : kFormats) {
        const std::string original = encodePlist(everySample(format), format);
        for (int round = 0; round < 10000; ++round) {
            std::string damaged = original;
            for (int change = 1 + random() % 4; change > 0; --change) {
                damaged[random() % damaged.size()] = static_cast<char>(random());
            }
            auto exact = std::make_unique<char[]>(damaged.size());
            std::copy(damaged.begin(), damaged.end(), exact.get());
            std::optional<DecodedPlist> decoded = decodePlist({exact.get(), damaged.size()});
            if (!decoded)
                continue;
            // Compared as bytes: damage can make a NaN, which equals nothing.
            std::string written = encodePlist(decoded->value, PlistFormat::Binary);
            std::optional<DecodedPlist> again = decodePlist(written);
            ASSERT_TRUE(again) << decoded->value;
            ASSERT_EQ(encodePlist(again->value, PlistFormat::Binary), written);
        }
    }
}

TEST(PlistCodecTest, ValuesThatWouldBeWrittenAlteredAreRefused) {
    struct Case {
        const char* name;
        PlistValue value;
        bool xmlRefuses;
        bool binaryRefuses;
    };
    const Case cases[] = {
        {"invalid UTF-8", "\xff", true, true},
        {"UTF-8 of a surrogate", "\xed\xa0\x80", true, true},
        {"overlong UTF-8", "\xc0\xaf", true, true},
        {"invalid UTF-8 in a key", PlistDictionary{{"\xc3", "v"}}, true, true},
        {"date that is no number", PlistDate{std::nan("")}, true, true},
        {"containers nested too deep", nested(kMaxPlistDepth - 1), true, true},
        {"containers nested to the bound", nested(kMaxPlistDepth - 2), false, false},
        {"NUL byte in a string", std::string("a\0b", 3), true, false},
        {"NUL byte in a key", PlistDictionary{{std::string("k\0", 2), "v"}}, true, false},
        {"control character", "bell\x07", true, false},
        {"U+FFFE", "\xef\xbf\xbe", true, false},
        {"UID", PlistUid{7}, true, false},
        {"fraction of a second", PlistDate{0.5}, true, false},
        {"year 10000", utc(9999, 12, 31, 86400), true, false},
        {"year 0", utc(1, 1, 1, -1), true, false},
        {"carriage return, tab, line feed, astral plane", "a\r\n\tb \xf0\x9f\x98\x80", false,
         false},
        {"first and last second XML holds", PlistArray{utc(1, 1, 1), utc(9999, 12, 31, 86399)},
         false, false},
    };
    for (const Case& c : cases) {
        // One level down, so that the check is seen to search containers.
        PlistValue value = PlistDictionary{{"outer", PlistArray{c.value}}};
        for (PlistFormat format : kFormats) {
            SCOPED_TRACE(c.name + (" in " + nameOf(format)));
            bool refused = format == PlistFormat::Xml ? c.xmlRefuses : c.binaryRefuses;
            EXPECT_EQ(!checkPlistEncodable(value, format), refused);
            if (refused) {
                EXPECT_THROW(encodePlist(value, format), std::invalid_argument);
            } else {
                std::optional<DecodedPlist> decoded = decodePlist(encodePlist(value, format));
                ASSERT_TRUE(decoded);
                EXPECT_EQ(decoded->value, value);
            }
        }
    }
}

// Markup that plistlib never writes: what a reader must make of it, or refuse.
TEST(PlistCodecTest, XmlMarkupBeyondWhatWritersUseReadsAsItsTextOrIsRefused) {
    const std::string external =
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">";
    const struct {
        std::string document;
        std::optional<PlistValue> value;
    } cases[] = {
        {"<plist><string><![CDATA[<!ENTITY a \"b\">]]></string></plist>", "<!ENTITY a \"b\">"},
        {"<plist><!-- <!ENTITY a 'b'> --><string>a<!--x-->b<?p?>&#x263A;</string></plist>",
         "ab\u263A"},
        {"<plist><string>a&#13;\r\nb\rc</string></plist>", "a\r\nb\nc"},
        {"<plist> <dict> <key>k</key> <true> </true> <?p?> </dict> </plist>",
         PlistDictionary{{"k", PlistValue::boolean(true)}}},
        {external + "<plist><array/></plist>", PlistArray{}},
        // Declarations are refused whether or not anything refers to them.
        {"<!DOCTYPE plist [<!ENTITY a \"b\">]><plist><string>x</string></plist>", {}},
        {"<!DOCTYPE plist [<!ENTITY % p \"b\">]><plist><string>x</string></plist>", {}},
        {"<!DOCTYPE plist [<!ENTITY u SYSTEM \"file:///etc/passwd\">]><plist><string>&u;"
         "</string></plist>",
         {}},
        {"<!DOCTYPE plist SYSTEM \"file:///etc/passwd\"><plist><string>&a;</string></plist>", {}},
        {external + "<plist><string>&lt;&undeclared;</string></plist>", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        std::optional<DecodedPlist> decoded = decodePlist(c.document);
        EXPECT_EQ(decoded.has_value(), c.value.has_value());
        if (decoded && c.value)
            expectSameValue(decoded->value, *c.value);
    }
}

TEST(PlistCodecTest, ReadingWhatIsNoFileGivesNothing) {
    testing::TemporaryDirectory directory;
    EXPECT_FALSE(readPlistFile((directory.path() / "missing.plist").string()));
    EXPECT_FALSE(readPlistFile(directory.path().string()));
    testing::writeFile(directory.path() / "empty.plist", "");
    EXPECT_FALSE(readPlistFile((directory.path() / "empty.plist").string()));
}

}  // namespace
}  // namespace quaymark
