#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "TerminalFixture.h"

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
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::string script = "printf %s " + word;
    std::vector<std::string> arguments{shell, "-f", "-c", script};
    if (shell.ends_with("bash"))
        arguments[1] = "--norc";
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    char path[] = "PATH=/usr/bin:/bin";
    char locale[] = "LC_ALL=C.UTF-8";
    char* envp[] = {path, locale, nullptr};
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, shell.c_str(), &actions, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    std::string output;
    char buffer[256];
    for (ssize_t n; spawned == 0 && (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeEnds[0]);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return output;
}

class RealShell : public TerminalFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(RealShell, ReadsTheFixedPathAsTheOneWordItWas) {
    const std::string shell = GetParam();
    if (access(shell.c_str(), X_OK) != 0)
        GTEST_SKIP() << shell << " is not installed";
    std::vector<std::string> names{"/Volumes/Data/My Folder",
                                   "a'b\"c",
                                   "$(echo no)",
                                   "`echo no`",
                                   "${HOME}",
                                   "~user",
                                   "=cmd",
                                   "#hash",
                                   "a*b?c[d]",
                                   "{a,b}",
                                   "a;b|c&d<e>f",
                                   "!event",
                                   "^old^new",
                                   "%PATH%",
                                   "back\\slash",
                                   "tab\there",
                                   "line\nfeed",
                                   "cr\rhere",
                                   "\x01\x1b\x7f",
                                   "c1\xC2\x85\xC2\x9F",
                                   "bad\xFF\xC0\xAFutf8",
                                   "cut\xE4\xB8",
                                   "中文 🎉 café",
                                   "-n",
                                   "$'\\n'",
                                   " lead and trail "};
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
