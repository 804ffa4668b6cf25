#include "VersionComparator.h"

#include <QChar>
#include <QString>
#include <algorithm>
#include <vector>

namespace quaymark {
namespace {

enum class Kind { Number, Word, Period, Punctuation, Whitespace, Dash };

struct Part {
    Kind kind;
    std::string_view text;
};

struct Character {
    Kind kind;
    std::size_t length;  // in bytes of UTF-8
};

bool isSeparator(Kind kind) {
    return kind == Kind::Period || kind == Kind::Punctuation || kind == Kind::Whitespace;
}

Kind asciiKind(unsigned char c) {
    if (c == '.')
        return Kind::Period;
    if (c == '-')
        return Kind::Dash;
    if (c >= '0' && c <= '9')
        return Kind::Number;
    if (c == ' ' || (c >= '\t' && c <= '\r'))
        return Kind::Whitespace;
    // The ASCII characters Unicode calls punctuation; symbols such as '+' and '~' are word
    // characters, as in the framework.
    static constexpr std::string_view punctuation = "!\"#%&'()*,/:;?@[\\]_{}";
    return punctuation.find(static_cast<char>(c)) != std::string_view::npos ? Kind::Punctuation
                                                                            : Kind::Word;
}

// The character that starts at `i`. The framework classifies UTF-16 units by their Unicode
// category, so a character beyond the Basic Multilingual Plane, whose two halves are in no
// category it tests, is a word character; so is a byte that is not valid UTF-8.
Character characterAt(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return {asciiKind(lead), 1};
    std::size_t length = 0;
    char32_t code = 0;
    // The second byte's range, narrowed after lead bytes that would otherwise allow overlong
    // forms or surrogates.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else {
        // Beyond the Basic Multilingual Plane, or not UTF-8: each byte joins the word it is in.
        return {Kind::Word, 1};
    }
    if (i + length > text.size())
        return {Kind::Word, 1};
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = byte(i + k);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
            return {Kind::Word, 1};
        code = (code << 6) | (next & 0x3F);
    }
    if (QChar::isDigit(code))
        return {Kind::Number, length};
    if (QChar::isSpace(code))
        return {Kind::Whitespace, length};
    if (QChar::isPunct(code))
        return {Kind::Punctuation, length};
    return {Kind::Word, length};
}

// Digits and word characters run together; every separator is a part of its own; a dash after
// the first character ends the version.
std::vector<Part> split(std::string_view version) {
    std::vector<Part> parts;
    if (version.empty())
        return parts;
    Character character = characterAt(version, 0);
    Kind kind = character.kind;
    std::size_t start = 0, i = character.length;
    for (; i < version.size(); i += character.length) {
        character = characterAt(version, i);
        if (character.kind == Kind::Dash)
            break;
        if (character.kind != kind || isSeparator(kind)) {
            parts.push_back({kind, version.substr(start, i - start)});
            start = i;
            kind = character.kind;
        }
    }
    parts.push_back({kind, version.substr(start, i - start)});
    return parts;
}

std::size_t leadingNumbersAndPeriods(const std::vector<Part>& parts) {
    const auto end = std::find_if(parts.begin(), parts.end(), [](const Part& part) {
        return part.kind != Kind::Number && part.kind != Kind::Period;
    });
    return static_cast<std::size_t>(end - parts.begin());
}

// Gives the shorter leading run of numbers and periods the longer one's shape, with zeros for
// its numbers, so that "1.0" and "1.0.0" compare equal.
void balance(std::vector<Part>& a, std::vector<Part>& b) {
    const std::size_t runA = leadingNumbersAndPeriods(a), runB = leadingNumbersAndPeriods(b);
    const bool aIsShorter = runA < runB;
    std::vector<Part>& shorter = aIsShorter ? a : b;
    const std::vector<Part>& longer = aIsShorter ? b : a;
    const std::size_t from = std::min(runA, runB), to = std::max(runA, runB);
    std::vector<Part> padding;
    for (std::size_t i = from; i < to; ++i)
        padding.push_back(longer[i].kind == Kind::Period ? Part{Kind::Period, "."}
                                                         : Part{Kind::Number, "0"});
    shorter.insert(shorter.begin() + static_cast<std::ptrdiff_t>(from), padding.begin(),
                   padding.end());
}

// A number part's value is that of its leading ASCII digits (a part of other scripts' digits
// is zero), of any length: compared without converting, so that no version overflows.
std::strong_ordering compareNumbers(std::string_view a, std::string_view b) {
    const auto significant = [](std::string_view digits) {
        const auto end =
            std::find_if(digits.begin(), digits.end(), [](char c) { return c < '0' || c > '9'; });
        digits = digits.substr(0, static_cast<std::size_t>(end - digits.begin()));
        const auto first = digits.find_first_not_of('0');
        return first == std::string_view::npos ? std::string_view{} : digits.substr(first);
    };
    a = significant(a);
    b = significant(b);
    if (a.size() != b.size())
        return a.size() <=> b.size();
    return a.compare(b) <=> 0;
}

// Canonically equivalent words are equal and others are ordered by their UTF-16 units, as
// NSString's plain comparison does.
std::strong_ordering compareWords(std::string_view a, std::string_view b) {
    const auto isAscii = [](std::string_view text) {
        return std::all_of(text.begin(), text.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    };
    if (isAscii(a) && isAscii(b))
        return a.compare(b) <=> 0;
    const auto decomposed = [](std::string_view text) {
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
            .normalized(QString::NormalizationForm_D);
    };
    return QString::compare(decomposed(a), decomposed(b), Qt::CaseSensitive) <=> 0;
}

// Between parts that do not compare with each other: a word loses to anything, a number wins
// over anything, and a dash loses to a separator.
int rank(Kind kind) {
    switch (kind) {
        case Kind::Word:
            return 0;
        case Kind::Dash:
            return 1;
        case Kind::Period:
        case Kind::Punctuation:
        case Kind::Whitespace:
            return 2;
        case Kind::Number:
            return 3;
    }
    return 0;
}

}  // namespace

std::strong_ordering compareVersions(std::string_view a, std::string_view b) {
    std::vector<Part> partsA = split(a), partsB = split(b);
    balance(partsA, partsB);
    const std::size_t common = std::min(partsA.size(), partsB.size());
    for (std::size_t i = 0; i < common; ++i) {
        const Part& x = partsA[i];
        const Part& y = partsB[i];
        std::strong_ordering order = rank(x.kind) <=> rank(y.kind);
        if (order == 0 && x.kind == Kind::Number)
            order = compareNumbers(x.text, y.text);
        else if (order == 0 && x.kind == Kind::Word)
            order = compareWords(x.text, y.text);
        if (order != 0)
            return order;
    }
    // Equal as far as both go: the part after that in the longer version decides.
    const auto longerOrder = [&](const std::vector<Part>& longer) {
        return longer[common].kind == Kind::Word ? std::strong_ordering::less
                                                 : std::strong_ordering::greater;
    };
    if (partsA.size() > common)
        return longerOrder(partsA);
    if (partsB.size() > common)
        return 0 <=> longerOrder(partsB);
    return std::strong_ordering::equal;
}

}  // namespace quaymark
