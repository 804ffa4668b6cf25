// Property-list bytes through libplist: round trips, Python's plistlib both ways, damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "HostTestSupport.h"
#include "PlistCodec.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;

constexpr PlistFormat kFormats[] = {PlistFormat::Xml, PlistFormat::Binary};

std::string nameOf(PlistFormat format) {
    return format == PlistFormat::Xml ? "xml" : "binary";
}

PlistDate utc(int year, unsigned month, unsigned day, int hour = 0, int minute = 0, int second = 0,
              int microsecond = 0) {
    using namespace std::chrono;
    sys_seconds midnight = sys_days(std::chrono::year(year) / month / day);
    double unixSeconds = static_cast<double>(midnight.time_since_epoch().count()) + hour * 3600 +
                         minute * 60 + second;
    return PlistDate{PlistDate::fromUnixSeconds(unixSeconds).sinceReferenceDate +
                     microsecond / 1e6};
}

// The same value as a Python expression (D is datetime.datetime) and as a PlistValue.
struct Sample {
    const char* name;
    const char* python;
    PlistValue value;
    bool binaryOnly = false;  // XML dates hold whole seconds, in every writer
};

std::vector<Sample> samples() {
    using D = PlistDictionary;
    auto integer = PlistValue::integer;
    auto real = PlistValue::real;
    auto data = [](std::string bytes) {
        return PlistValue::data(PlistData(bytes.begin(), bytes.end()));
    };
    return {
        {"strings",
         R"({'plain': 'hello', 'empty': '', 'unicode': 'h\u00e9llo \u2713 \U0001F600',
             'markup': '<a href="x">&amp;</a>', 'whitespace': 'tab\tline\nfeed'})",
         D{{"plain", "hello"},
           {"empty", ""},
           {"unicode", "héllo ✓ 😀"},
           {"markup", "<a href=\"x\">&amp;</a>"},
           {"whitespace", "tab\tline\nfeed"}}},
        {"integers",
         "{'zero': 0, 'minusOne': -1, 'int64Min': -2**63, 'int64Max': 2**63 - 1, "
         "'byte': 255, 'beyond32Bits': 2**32 + 1, 'int32Min': -2**31}",
         D{{"zero", integer(0)},
           {"minusOne", integer(-1)},
           {"int64Min", integer(std::numeric_limits<std::int64_t>::min())},
           {"int64Max", integer(std::numeric_limits<std::int64_t>::max())},
           {"byte", integer(255)},
           {"beyond32Bits", integer(4294967297)},
           {"int32Min", integer(-2147483648)}}},
        {"reals",
         "{'tenth': 0.1, 'minusHalf': -0.5, 'huge': 1e300, 'smallest': 5e-324, "
         "'whole': 3.0, 'infinite': float('inf')}",
         D{{"tenth", real(0.1)},
           {"minusHalf", real(-0.5)},
           {"huge", real(1e300)},
           {"smallest", real(5e-324)},
           {"whole", real(3.0)},
           {"infinite", real(std::numeric_limits<double>::infinity())}}},
        {"booleans", "{'yes': True, 'no': False}",
         D{{"yes", PlistValue::boolean(true)}, {"no", PlistValue::boolean(false)}}},
        {"dates",
         "{'reference': D(2001, 1, 1), 'leapDay': D(2024, 2, 29, 12, 30, 45), "
         "'lastCentury': D(1999, 12, 31, 23, 59, 59), 'early': D(1940, 6, 1), "
         "'late': D(2068, 12, 31)}",
         D{{"reference", utc(2001, 1, 1)},
           {"leapDay", utc(2024, 2, 29, 12, 30, 45)},
           {"lastCentury", utc(1999, 12, 31, 23, 59, 59)},
           {"early", utc(1940, 6, 1)},
           {"late", utc(2068, 12, 31)}}},
        // The first and last microseconds libplist 2.2 can hold, and parts it hands out
        // truncated (5.999999 as 5 s 999998 us) or without their sign (-0.25 as 0 s 250000 us).
        {"subsecondDates",
         "{'quarter': D(2001, 1, 1, 0, 0, 0, 250000), 'justBefore': D(2000, 12, 31, 23, 59, 59, "
         "750000), 'nines': D(2001, 1, 1, 0, 0, 5, 999999), 'micro': D(2024, 2, 29, 12, 30, 45, "
         "123457), 'first': D(1932, 12, 13, 20, 45, 52), 'last': D(2069, 1, 19, 3, 14, 7, 999999)}",
         D{{"quarter", PlistDate{0.25}},
           {"justBefore", PlistDate{-0.25}},
           {"nines", PlistDate{5.999999}},
           {"micro", utc(2024, 2, 29, 12, 30, 45, 123457)},
           {"first", PlistDate{-2147483648.0}},
           {"last", PlistDate{2147483647.999999}}},
         true},
        {"data", "{'empty': b'', 'nul': b'\\0', 'allBytes': bytes(range(256))}",
         D{{"empty", data("")},
           {"nul", data(std::string(1, '\0'))},
           {"allBytes", PlistValue::data([] {
                PlistData bytes(256);
                for (int i = 0; i < 256; ++i)
                    bytes[i] = static_cast<std::uint8_t>(i);
                return bytes;
            }())}}},
        {"nested",
         "{'zebra': [1, 'two', [3.5, {'deep': True}], {}], 'apple': {'z': 1, 'a': {'m': []}}}",
         D{{"zebra",
            PlistArray{integer(1), "two",
                       PlistArray{real(3.5), D{{"deep", PlistValue::boolean(true)}}}, D{}}},
           {"apple", D{{"z", integer(1)}, {"a", D{{"m", PlistArray{}}}}}}}},
        {"arrayAtTop", "[1, 'x', b'\\x01']", PlistArray{integer(1), "x", data("\x01")}},
    };
}

PlistValue everySample() {
    PlistDictionary everything;
    for (const Sample& sample : samples())
        everything.set(sample.name, sample.value);
    return everything;
}

// Description as well as equality: the description follows key order, which equality ignores.
void expectSameValue(const PlistValue& actual, const PlistValue& expected) {
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(actual.description(), expected.description());
}

TEST(PlistCodecTest, ValuesOfEveryTypeRoundTripInBothFormats) {
    for (const Sample& sample : samples()) {
        for (PlistFormat format : kFormats) {
            if (sample.binaryOnly && format == PlistFormat::Xml)
                continue;
            SCOPED_TRACE(sample.name + (" in " + nameOf(format)));
            std::optional<DecodedPlist> decoded = decodePlist(encodePlist(sample.value, format));
            ASSERT_TRUE(decoded);
            EXPECT_EQ(decoded->format, format);
            expectSameValue(decoded->value, sample.value);
        }
    }
}

constexpr const char* kPythonPrelude = R"(
import plistlib, sys
from datetime import datetime as D
def same(a, b):
    if type(a) is not type(b): return False
    if isinstance(a, dict): return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list): return len(a) == len(b) and all(map(same, a, b))
    return a == b
)";

TEST(PlistCodecTest, PythonReadsWhatWeWrite) {
    testing::TemporaryDirectory directory;
    std::string script = kPythonPrelude + std::string(R"(
loaded = plistlib.load(open(sys.argv[1], 'rb'))
if not same(loaded, eval(sys.argv[2])): sys.exit(f'plistlib loaded {loaded!r}')
)");
    for (const Sample& sample : samples()) {
        for (PlistFormat format : kFormats) {
            if (sample.binaryOnly && format == PlistFormat::Xml)
                continue;
            SCOPED_TRACE(sample.name + (" in " + nameOf(format)));
            fs::path file = directory.path() / (sample.name + nameOf(format) + ".plist");
            testing::writeFile(file, encodePlist(sample.value, format));
            testing::ProcessResult python =
                testing::runPython(script, {file.string(), sample.python});
            EXPECT_EQ(python.exitStatus, 0) << python.output;
        }
    }
}

constexpr const char* kPythonWriter = R"(
import plistlib, sys
from datetime import datetime as D
format = plistlib.FMT_XML if sys.argv[2] == 'xml' else plistlib.FMT_BINARY
plistlib.dump(eval(sys.argv[1]), open(sys.argv[3], 'wb'), fmt=format, sort_keys=False)
)";

TEST(PlistCodecTest, WeReadWhatPythonWrites) {
    testing::TemporaryDirectory directory;
    for (const Sample& sample : samples()) {
        for (PlistFormat format : kFormats) {
            if (sample.binaryOnly && format == PlistFormat::Xml)
                continue;
            SCOPED_TRACE(sample.name + (" in " + nameOf(format)));
            fs::path file = directory.path() / (sample.name + nameOf(format) + ".plist");
            testing::ProcessResult python =
                testing::runPython(kPythonWriter, {sample.python, nameOf(format), file.string()});
            ASSERT_EQ(python.exitStatus, 0) << python.output;
            std::optional<DecodedPlist> decoded = readPlistFile(file.string());
            ASSERT_TRUE(decoded);
            EXPECT_EQ(decoded->format, format);
            expectSameValue(decoded->value, sample.value);
        }
    }
}

TEST(PlistCodecTest, ValuesPythonWritesThatWeCannotHoldMakeTheFileUnreadable) {
    testing::TemporaryDirectory directory;
    // Python writes U+0000 only in binary files; a key holding it used to abort libplist.
    const std::pair<const char*, bool> cases[] = {
        {"{'n': 2**64 - 1}", false},     {"{'n': 2**63}", false},
        {"{'d': D(1900, 1, 1)}", false}, {"{'d': D(2100, 1, 1)}", false},
        {"{'\\u00e9\\0': 1}", true},     {"{'s': '\\u00e9\\0'}", true},
    };
    for (const auto& [python, binaryOnly] : cases) {
        for (PlistFormat format : kFormats) {
            if (binaryOnly && format == PlistFormat::Xml)
                continue;
            SCOPED_TRACE(python + (" in " + nameOf(format)));
            fs::path file = directory.path() / "value.plist";
            testing::ProcessResult written =
                testing::runPython(kPythonWriter, {python, nameOf(format), file.string()});
            ASSERT_EQ(written.exitStatus, 0) << written.output;
            EXPECT_FALSE(readPlistFile(file.string()));
        }
    }
}

PlistValue nested(int depth) {
    PlistValue value = PlistArray{};
    for (int level = 1; level < depth; ++level)
        value = PlistArray{value};
    return value;
}

std::string nestedXml(int depth) {
    std::string xml = "<plist>";
    for (int level = 0; level < depth; ++level)
        xml += "<array>";
    for (int level = 0; level < depth; ++level)
        xml += "</array>";
    return xml + "</plist>";
}

TEST(PlistCodecTest, RefusesBytesThatAreNotAWholePropertyListWeCanHold) {
    const std::pair<const char*, std::string> cases[] = {
        {"nothing", ""},
        {"binary header alone", "bplist00"},
        {"text", "defaults write com.example key value"},
        {"XML missing its closing tag", "<plist><dict><key>a</key><true/></dict>\n"},
        {"XML with junk after it", "<plist><string>x</string></plist>junk"},
        {"integer beyond int64", "<plist><integer>9223372036854775808</integer></plist>"},
        {"date before 1932", "<plist><date>1900-01-01T00:00:00Z</date></plist>"},
        {"string that is not UTF-8", "<plist><string>\xff\xfe</string></plist>"},
        {"nesting too deep", nestedXml(kMaxPlistDepth + 1)},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(decodePlist(bytes));
    }
    EXPECT_TRUE(decodePlist(nestedXml(kMaxPlistDepth)));
}

TEST(PlistCodecTest, EveryCutShortFileIsRefused) {
    for (PlistFormat format : kFormats) {
        std::string whole = encodePlist(everySample(), format);
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

TEST(PlistCodecTest, WhateverDamagedBytesDecodeToCanBeWrittenBack) {
    // QUAYMARK_TEST_SEED replays a failed run.
    const char* replay = std::getenv("QUAYMARK_TEST_SEED");
    const unsigned seed = replay ? std::stoul(replay) : std::random_device()();
    SCOPED_TRACE("QUAYMARK_TEST_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    for (PlistFormat format : kFormats) {
        const std::string original = encodePlist(everySample(), format);
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
        {"NUL byte in a string", std::string("a\0b", 3), true, true},
        {"NUL byte in a key", PlistDictionary{{std::string("k\0", 2), "v"}}, true, true},
        {"invalid UTF-8", "\xff", true, true},
        {"UTF-8 of a surrogate", "\xed\xa0\x80", true, true},
        {"overlong UTF-8", "\xc0\xaf", true, true},
        {"date past 2069", PlistDate{3e9}, true, true},
        {"date that is no number", PlistDate{std::nan("")}, true, true},
        {"containers nested too deep", nested(kMaxPlistDepth), true, true},
        {"control character", "bell\x07", true, false},
        {"carriage return", "a\r\nb", true, false},
        {"U+FFFE", "\xef\xbf\xbe", true, false},
        {"tab, line feed and astral plane", "a\tb\nc \xf0\x9f\x98\x80", false, false},
    };
    for (const Case& c : cases) {
        // One level down, so that the check is seen to search containers.
        PlistValue value = PlistDictionary{{"outer", PlistArray{c.value}}};
        for (PlistFormat format : kFormats) {
            SCOPED_TRACE(c.name + (" in " + nameOf(format)));
            bool refused = format == PlistFormat::Xml ? c.xmlRefuses : c.binaryRefuses;
            EXPECT_EQ(plistEncodingProblem(value, format).has_value(), refused);
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

TEST(PlistCodecTest, ReadingWhatIsNoFileGivesNothing) {
    testing::TemporaryDirectory directory;
    EXPECT_FALSE(readPlistFile((directory.path() / "missing.plist").string()));
    EXPECT_FALSE(readPlistFile(directory.path().string()));
    testing::writeFile(directory.path() / "empty.plist", "");
    EXPECT_FALSE(readPlistFile((directory.path() / "empty.plist").string()));
}

}  // namespace
}  // namespace quaymark
