#include "scripting/TerminalStandIn.h"

#include <array>
#include <charconv>

#include "plist/PlistCodec.h"

namespace quaymark {

namespace {

struct KindFacts {
    TerminalKind kind;
    const char* role;
    const char* bundleIdentifier;
};

constexpr std::array<KindFacts, 3> kKinds = {{
    {TerminalKind::AppleTerminal, "Terminal", "com.apple.Terminal"},
    {TerminalKind::ITerm, "iTerm", "net.sourceforge.iTerm"},
    {TerminalKind::ITerm2, "iTerm2", "com.googlecode.iterm2"},
}};

const KindFacts& factsFor(TerminalKind kind) {
    for (const KindFacts& facts : kKinds) {
        if (facts.kind == kind)
            return facts;
    }
    return kKinds.front();
}

bool isBeforeVersion3(std::string_view version) {
    int major = 0;
    auto [end, error] = std::from_chars(version.data(), version.data() + version.size(), major);
    return error == std::errc() && end != version.data() && major < 3;
}

const std::string* stringFor(const PlistDictionary& dictionary, std::string_view key) {
    const PlistValue* value = dictionary.find(key);
    return value ? value->asString() : nullptr;
}

}  // namespace

std::string standInRole(TerminalKind kind) {
    return factsFor(kind).role;
}

std::optional<TerminalKind> terminalKindForRole(std::string_view role) {
    for (const KindFacts& facts : kKinds) {
        if (role == facts.role)
            return facts.kind;
    }
    return std::nullopt;
}

std::string bundleIdentifierFor(TerminalKind kind) {
    return factsFor(kind).bundleIdentifier;
}

std::string processNameFor(TerminalKind kind, std::string_view version) {
    switch (kind) {
        case TerminalKind::AppleTerminal:
            return "Terminal";
        case TerminalKind::ITerm:
            return "iTerm";
        case TerminalKind::ITerm2:
            return isBeforeVersion3(version) ? "iTerm" : "iTerm2";
    }
    return "Terminal";
}

TerminalVocabulary vocabularyFor(TerminalKind kind, std::string_view version) {
    switch (kind) {
        case TerminalKind::AppleTerminal:
            return TerminalVocabulary::AppleTerminal;
        case TerminalKind::ITerm:
            return TerminalVocabulary::ITermClassic;
        case TerminalKind::ITerm2:
            return isBeforeVersion3(version) ? TerminalVocabulary::ITermClassic
                                             : TerminalVocabulary::ITermNextGeneration;
    }
    return TerminalVocabulary::AppleTerminal;
}

std::optional<TerminalStandIn> readTerminalStandIn(const std::string& realBundlePath) {
    std::optional<DecodedPlist> info = readPlistFile(realBundlePath + "/Contents/Info.plist");
    const PlistDictionary* dictionary = info ? info->value.asDictionary() : nullptr;
    if (!dictionary)
        return std::nullopt;
    const std::string* role = stringFor(*dictionary, kStandInRoleKey);
    const std::string* identifier = stringFor(*dictionary, "CFBundleIdentifier");
    const std::string* executable = stringFor(*dictionary, "CFBundleExecutable");
    std::optional<TerminalKind> kind = role ? terminalKindForRole(*role) : std::nullopt;
    if (!kind || !identifier || !executable)
        return std::nullopt;
    const std::string* version = stringFor(*dictionary, "CFBundleShortVersionString");
    return TerminalStandIn{*kind, *identifier, *executable, version ? *version : "",
                           realBundlePath};
}

std::string tmuxSocketPath(const SystemRoot& root, const std::string& bundleIdentifier) {
    return root.runtimeDirectory() + "/tmux/" + bundleIdentifier + ".sock";
}

}  // namespace quaymark
