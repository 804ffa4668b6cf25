#include "VersionComparator.h"

#include <algorithm>
#include <string>
#include <vector>

namespace quaymark {
namespace {

enum class PartType { Number, Word, Separator };

struct Part {
    PartType type;
    std::string_view text;
};

PartType typeOf(char c) {
    if (c >= '0' && c <= '9')
        return PartType::Number;
    // Whitespace and the characters Unicode calls punctuation separate; symbols such as '+'
    // and every non-ASCII byte belong to words, as in the framework.
    static constexpr std::string_view separators = " \t\n\r\v\f!\"#%&'()*,-./:;?@[\\]_{}";
    if (separators.find(c) != std::string_view::npos)
        return PartType::Separator;
    return PartType::Word;
}

std::vector<Part> split(std::string_view version) {
    std::vector<Part> parts;
    std::size_t start = 0;
    for (std::size_t i = 1; i <= version.size(); ++i) {
        const PartType type = typeOf(version[start]);
        // Every separator is a part of its own; digits and word characters run together.
        if (i == version.size() || typeOf(version[i]) != type || type == PartType::Separator) {
            parts.push_back({type, version.substr(start, i - start)});
            start = i;
        }
    }
    return parts;
}

// Numbers of any length compare by value without overflowing.
std::strong_ordering compareNumbers(std::string_view a, std::string_view b) {
    const auto significant = [](std::string_view digits) {
        const auto first = digits.find_first_not_of('0');
        return first == std::string_view::npos ? std::string_view{} : digits.substr(first);
    };
    a = significant(a);
    b = significant(b);
    if (a.size() != b.size())
        return a.size() <=> b.size();
    return a.compare(b) <=> 0;
}

bool isZero(const Part& part) {
    return part.type == PartType::Number && part.text.find_first_not_of('0') == std::string::npos;
}

// What the extra parts of the longer version say about it against the shorter one.
std::strong_ordering compareTail(const std::vector<Part>& longer, std::size_t from) {
    for (std::size_t i = from; i < longer.size(); ++i) {
        if (longer[i].type == PartType::Separator || isZero(longer[i]))
            continue;
        return longer[i].type == PartType::Word ? std::strong_ordering::less
                                                : std::strong_ordering::greater;
    }
    return std::strong_ordering::equal;
}

}  // namespace

std::strong_ordering compareVersions(std::string_view a, std::string_view b) {
    const auto partsA = split(a);
    const auto partsB = split(b);
    const std::size_t common = std::min(partsA.size(), partsB.size());
    for (std::size_t i = 0; i < common; ++i) {
        const Part& x = partsA[i];
        const Part& y = partsB[i];
        if (x.type == y.type) {
            std::strong_ordering order = std::strong_ordering::equal;
            if (x.type == PartType::Number)
                order = compareNumbers(x.text, y.text);
            else if (x.type == PartType::Word)
                order = x.text.compare(y.text) <=> 0;
            if (order != 0)
                return order;
            continue;
        }
        // A word loses to anything else; between a number and a separator the number wins.
        if (y.type == PartType::Word)
            return std::strong_ordering::greater;
        if (x.type == PartType::Word)
            return std::strong_ordering::less;
        return x.type == PartType::Number ? std::strong_ordering::greater
                                          : std::strong_ordering::less;
    }
    if (partsA.size() > partsB.size())
        return compareTail(partsA, common);
    if (partsB.size() > partsA.size())
        return 0 <=> compareTail(partsB, common);
    return std::strong_ordering::equal;
}

}  // namespace quaymark
