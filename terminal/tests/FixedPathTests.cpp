#include <unistd.h>

#include <random>

#include "TerminalFixture.h"
#include "posix/Spawn.h"

namespace quaymark {
namespace {

// The characters a shell reads specially.
constexpr std::string_view kEscapeSet = "\\ !#^$%&*?()={}[]'`~|;<>\"";

using FixedPath = TerminalFixture;

// Control characters and bytes that are no UTF-8 are typed as ANSI-C quoted sequences.
TEST_F(FixedPath, EscapesTheShellCharactersAndQuotesControlsAndStrayBytes) {
    ASSERT_EQ(kEscapeSet.size(), 25u);
    for (char c = 0x20; c < 0x7F; ++c) {
        std::string path = std::string("a") + c + "b";
        bool escaped = kEscapeSet.find(c) != std::string_view::npos;
        EXPECT_EQ(terminals.fixedPath(path), escaped ? std::string("a\\") + c + "b" : path)
            << "character " << c;
    }
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> cases{
        {"/Volumes/Data/My Folder", "/Volumes/Data/My\\ Folder"}, {"/x/already\\ escaped", "/x/already\\\\\\ escaped"},
        {"/", "/"}, {"", ""}, {"/x/café 中文 🎉", "/x/café\\ 中文\\ 🎉"},
        {"/x/\u00A0nbsp", "/x/\u00A0nbsp"},  // U+00A0 is printable: it passes unchanged
        {"a\tb\nc\rd", "a$'\\t'b$'\\n'c$'\\r'd"}, {"\x01\x1b\x1f", "$'\\001'$'\\033'$'\\037'"},
        {"del\x7f", "del$'\\177'"}, {"c1\xC2\x80\xC2\x9F", "c1$'\\302'$'\\200'$'\\302'$'\\237'"},
        {"\xFF\xFE", "$'\\377'$'\\376'"}, {"cut\xE4\xB8", "cut$'\\344'$'\\270'"},
        {"overlong\xC0\xAF", "overlong$'\\300'$'\\257'"}, {"surrogate\xED\xA0\x80", "surrogate$'\\355'$'\\240'$'\\200'"},
        {"beyond\xF4\x90\x80\x80", "beyond$'\\364'$'\\220'$'\\200'$'\\200'"}, {"$ x\t'\n中", "\\$\\ x$'\\t'\\'$'\\n'中"}
    };
    // clang-format on
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(terminals.fixedPath(path), expected);
}

// What `<shell> -c 'printf %s <word>'` prints; nothing when the shell cannot be run.
std::optional<std::string> printThroughShell(const std::string& shell, const std::string& word) {
    std::vector<std::string> arguments{"-f", "-c", "printf %s " + word};
    if (shell.ends_with("bash"))
        arguments[0] = "--norc";
    Result<ProcessOutcome> ran =
        runAndCollect({.executable = shell,
                       .arguments = arguments,
                       .environment = {{"PATH", "/usr/bin:/bin"}, {"LC_ALL", "C.UTF-8"}},
                       .capture = Capture::StandardOutput},
                      std::chrono::seconds(30));
    if (!ran || ran->exitStatus != 0)
        return std::nullopt;
    return ran->output;
}

class RealShell : public TerminalFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(RealShell, ReadsTheFixedPathAsTheOneWordItWas) {
    const std::string shell = GetParam();
    if (access(shell.c_str(), X_OK) != 0)
        GTEST_SKIP() << shell << " is not installed";
    // clang-format off
    std::vector<std::string> names{
        "/Volumes/Data/My Folder", "a'b\"c", "$(echo no)", "`echo no`", "${HOME}", "~user", "=cmd",
        "#hash", "a*b?c[d]", "{a,b}", "a;b|c&d<e>f", "!event", "^old^new", "%PATH%", "back\\slash",
        "tab\there", "line\nfeed", "cr\rhere", "\x01\x1b\x7f", "c1\xC2\x85\xC2\x9F",
        "bad\xFF\xC0\xAFutf8", "cut\xE4\xB8", "中文 🎉 café", "-n", "$'\\n'", " lead and trail "};
    // clang-format on
    std::mt19937 random(20240601);
    for (int round = 0; round < 40; ++round) {
        std::string name;
        for (int length = 1 + static_cast<int>(random() % 10); length > 0; --length)
            name += static_cast<char>(1 + random() % 255);
        names.push_back(name);
    }
    for (const std::string& name : names) {
        EXPECT_EQ(printThroughShell(shell, terminals.fixedPath(name)), name)
            << "fixed: " << terminals.fixedPath(name);
    }
}

INSTANTIATE_TEST_SUITE_P(Shells, RealShell, ::testing::Values("/bin/bash", "/usr/bin/zsh"),
                         [](const auto& shell) {
                             return std::string(shell.param).ends_with("bash") ? "Bash" : "Zsh";
                         });

}  // namespace
}  // namespace quaymark
