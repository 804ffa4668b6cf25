// Folder names a shell would misread, in real bash and zsh: each one clicked through the whole
// chain onto a real shell, a thousand generated ones typed as the core's command, and paths
// of several kilobytes clicked into a new window and a new tab of every terminal.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "ApplicationRegistry.h"
#include "EndToEndTest.h"
#include "QuaymarkPreferences.h"
#include "TerminalIdentifiers.h"
#include "TerminalStandIn.h"
#include "TestPlatform.h"
#include "TmuxServer.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

// The characters the core escapes with a backslash.
constexpr std::string_view kEscapedCharacters = "\\ !#^$%&*?()={}[]'`~|;<>\"";

// NAME_MAX of Linux file systems.
constexpr std::size_t kLongestName = 255;

struct FolderName {
    std::string label;
    std::string name;
};

std::vector<FolderName> hardFolderNames() {
    std::vector<FolderName> names = {
        {"spaces", "two  words and spaces"},
        {"blanks at both ends", " both ends "},
        {"apostrophes", "it's 'single' quoted"},
        {"double quotes", "say \"hello\""},
        {"both quotes, unbalanced", "\"'\"'mixed'"},
        {"command substitution", "$(touch pwned) and ${HOME}"},
        {"backquotes", "`touch pwned`"},
        {"a trailing backslash", "ends with\\"},
        {"backslashes before other characters", "\\\\n\\t\\ \\$"},
        {"a leading dash", "-rf --help"},
        {"a tab", "tab\there"},
        {"a line feed", "line\nfeed"},
        {"tab and line feed together", "a\t\nb"},
        {"Chinese", "中文文件夹"},
        {"emoji", "🚀 launch 🎉"},
        {"history expansion", "!! and !$"},
        {"brace expansion", "{a,b}"},
        {"a lone glob", "*"},
        {"a tilde first", "~root"},
        {"the placeholder and percent signs", "%PATH% 100%% done"},
        {"all escaped characters at once", std::string(kEscapedCharacters)},
    };
    for (char c : kEscapedCharacters)
        names.push_back({std::string("escaped character ") + c, std::string("a") + c + "b"});
    std::string longName = "long: 'quotes' \"both\" $(x) `y` 漢字 🚀 ";
    longName.resize(kLongestName, 'x');
    names.push_back({"a name of 255 bytes", longName});
    return names;
}

// QUAYMARK_TEST_SEED=<number> repeats a run.
unsigned seedForThisRun() {
    if (const char* given = std::getenv("QUAYMARK_TEST_SEED"))
        return static_cast<unsigned>(std::strtoul(given, nullptr, 10));
    return std::random_device()();
}

std::string seedTrace(unsigned seed) {
    return "seed " + std::to_string(seed) + " (QUAYMARK_TEST_SEED=" + std::to_string(seed) +
           " repeats this run)";
}

// A command template that leaves the shell's folder after the cd in `result`, so that a path
// no screen can show (control characters, bytes that are no UTF-8) is still read back whole;
// "%%" is a single "%". A cd that failed leaves the folder the shell was in before.
std::string recordingTemplate(const fs::path& result) {
    return "cd %PATH%; printf '%%s' \"$PWD\" > '" + result.string() + ".tmp' && mv '" +
           result.string() + ".tmp' '" + result.string() + "'";
}

// The stand-in terminals' shell: "bash" or "zsh".
class FolderNamesTest : public EndToEndTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        if (std::string(GetParam()) == "zsh" && access("/usr/bin/zsh", X_OK) != 0)
            GTEST_SKIP() << "zsh is not installed";
    }
    DesktopOptions shellOptions() const {
        DesktopOptions options;
        options.shell = GetParam();
        return options;
    }
};

TEST_P(FolderNamesTest, EachHardNameLandsTheShellExactlyInTheFolder) {
    ASSERT_NO_FATAL_FAILURE(layOut(shellOptions()));
    ASSERT_NO_FATAL_FAILURE(startTerminal("Terminal"));
    ASSERT_NO_FATAL_FAILURE(chooseTerminal(terminal_identifier::kAppleTerminal, true));

    for (const FolderName& hard : hardFolderNames()) {
        SCOPED_TRACE(hard.label + ": " + printable(hard.name));
        std::string folder = makeFolder(fs::path("Names") / hard.name);
        ASSERT_TRUE(desktop->openFinderWindow(folder));

        ASSERT_TRUE(click());

        EXPECT_TRUE(waitUntilShellIsIn(terminal_identifier::kAppleTerminal, 0, folder));
    }
    // Nothing in a name was run as a command.
    EXPECT_FALSE(fs::exists(fs::path(home()) / "pwned"));
    EXPECT_FALSE(fs::exists(fs::path(home()) / "Names" / "pwned"));
}

// ---- A thousand generated names typed into real shells ----

// The kinds of pieces names are made of, each kind as likely as the others: plain text,
// the characters the core escapes, control characters, text beyond ASCII, bytes that are
// no UTF-8, and words that mean something to a shell or to the command template.
std::vector<std::vector<std::string>> namePieceKinds() {
    std::vector<std::string> plain = {"a", "Z", "0", "-", ".", ",", ":", "@", "+", "_", " "};
    std::vector<std::string> escaped;
    for (char c : kEscapedCharacters)
        escaped.emplace_back(1, c);
    std::vector<std::string> controls = {"\x7F"};
    for (char c = 1; c < 0x20; ++c)
        controls.emplace_back(1, c);
    std::vector<std::string> beyondAscii = {
        "é",        "ß",       "漢",     "字", "🚀", "🎉",
        "e\u0301",                        // a combining accent
        "\u00A0",   "\u200B",  "\u202E",  // no-break space, zero width space, right to left
        "\xC2\x85", "\xC2\x9B"};          // C1 controls
    std::vector<std::string> noUtf8 = {"\xFF", "\x80", "\xE4\xB8", "\xC0\xAF", "\xED\xA0\x80"};
    std::vector<std::string> words = {"%PATH%", "%%", "$(", "${", "!!", "\\n", "--", "\t", "\n"};
    return {plain, plain, escaped, controls, beyondAscii, noUtf8, words};
}

// `count` different names, none "." or "..", none holding "/" or NUL, none above 255
// bytes; one in fifty is near that length.
std::vector<std::string> generateNames(std::mt19937& random, std::size_t count) {
    const std::vector<std::vector<std::string>> kinds = namePieceKinds();
    std::uniform_int_distribution<std::size_t> kind(0, kinds.size() - 1);
    std::uniform_int_distribution<std::size_t> shortLength(1, 24);
    std::uniform_int_distribution<int> percent(0, 99);
    auto nextPiece = [&]() -> const std::string& {
        const std::vector<std::string>& pieces = kinds[kind(random)];
        return pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
    };
    std::set<std::string> seen;
    std::vector<std::string> names;
    while (names.size() < count) {
        bool isLong = percent(random) < 2;
        std::size_t wanted = isLong ? kLongestName : shortLength(random);
        std::string name;
        while (true) {
            const std::string& next = nextPiece();
            if (name.size() + next.size() > kLongestName)
                break;
            name += next;
            if (!isLong && --wanted == 0)
                break;
            if (isLong && name.size() >= kLongestName - 3)
                break;
        }
        if (name == "." || name == ".." || !seen.insert(name).second)
            continue;
        names.push_back(name);
    }
    return names;
}

TEST_P(FolderNamesTest, AThousandGeneratedNamesEachLandTheShellInTheirFolder) {
    const unsigned seed = seedForThisRun();
    SCOPED_TRACE(seedTrace(seed));
    std::mt19937 random(seed);
    std::vector<std::string> names = generateNames(random, 1000);
    ASSERT_NO_FATAL_FAILURE(layOut(shellOptions()));
    ASSERT_NO_FATAL_FAILURE(startTerminal("Terminal"));

    // The core's commands, each leaving its number and the shell's folder after the cd.
    fs::path results = directory.path() / "arrived";
    TestPlatform test;
    Platform platform = test.platform();
    TerminalIdentifiers terminals(platform);
    std::vector<std::string> folders;
    std::vector<std::string> commands;
    for (std::size_t i = 0; i < names.size(); ++i) {
        folders.push_back(makeFolder(fs::path("names") / std::to_string(i) / names[i]));
        std::string number = std::to_string(i);
        test.preferences.store(
            preference_key::kTerminalCommand,
            PlistValue("cd %PATH% && printf '" + number + " %%s\\0' \"$PWD\" >> '" +
                       results.string() + "' || printf '" + number + " cd failed\\0' >> '" +
                       results.string() + "'"),
            kPreferencesDomain);
        commands.push_back(terminals.commandWithPath(terminals.fixedPath(folders.back())));
    }

    // Typed straight into the front window's shell, many lines per tmux client, whose
    // messages tmux keeps under 16 KiB.
    TmuxApplication terminal(
        "Terminal", tmuxSocketPath(desktop->systemRoot(), terminal_identifier::kAppleTerminal));
    std::string target = terminal.windowsFrontToBack().at(0) + ":";
    std::vector<TmuxCommand> batch;
    std::size_t bytes = 0;
    for (const std::string& command : commands) {
        batch.push_back({"send-keys", "-t", target, "-l", "--", TmuxServer::verbatim(command)});
        batch.push_back({"send-keys", "-t", target, "Enter"});
        bytes += command.size() + 64;
        if (bytes > 8000 || &command == &commands.back()) {
            ASSERT_NO_THROW(terminal.run(batch));
            batch.clear();
            bytes = 0;
        }
    }

    // Waits until every command has left its entry, or nothing more has come for a while.
    std::map<std::size_t, std::string> arrived;
    std::size_t before = 0;
    auto progress = std::chrono::steady_clock::now();
    testing::waitUntil(
        [&] {
            std::string written = fs::exists(results) ? testing::readFile(results) : "";
            arrived.clear();
            std::size_t start = 0;
            for (std::size_t end; (end = written.find('\0', start)) != std::string::npos;
                 start = end + 1) {
                std::string entry = written.substr(start, end - start);
                std::size_t space = entry.find(' ');
                arrived[std::stoul(entry.substr(0, space))] = entry.substr(space + 1);
            }
            if (arrived.size() != before) {
                before = arrived.size();
                progress = std::chrono::steady_clock::now();
            }
            return arrived.size() >= folders.size() ||
                   std::chrono::steady_clock::now() - progress > seconds(5);
        },
        seconds(40));
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        auto found = arrived.find(i);
        if (found != arrived.end() && found->second == folders[i])
            continue;
        if (++wrong <= 5) {
            ADD_FAILURE() << "name " << i << ": " << printable(names[i])
                          << "\n  typed:   " << printable(commands[i]) << "\n  arrived: "
                          << (found == arrived.end() ? "(the command never ran)"
                                                     : printable(found->second));
        }
    }
    EXPECT_EQ(wrong, 0u) << "names of " << folders.size() << " did not land in their folder";
}

// ---- Paths of several kilobytes, which escape to more than a terminal's line buffer ----

// What long paths are made of: pieces that escape to two to seven times their size, so that
// a path of 2 to 4 KB escapes to 5 to 27 KB.
const std::vector<std::string> kLongPathPieces[] = {
    {" ", "'", "\"", "$(", ")", "`", "\n"},
    {"\n", "\t", "a b"},
    {"\xFF", "\x80", "\x01", "\x1B", "\x7F"},
    {"é", "中", " ", "`", "\x02", "\xC0\xAF", "\n", "{a,b}", "*"},
};

// A path of at most `length` bytes under `parent`, in names of at most 200 bytes made of
// `pieces`.
fs::path longPath(const fs::path& parent, std::size_t length,
                  const std::vector<std::string>& pieces, std::mt19937& random) {
    std::uniform_int_distribution<std::size_t> piece(0, pieces.size() - 1);
    fs::path path = parent;
    while (true) {
        std::string name;
        for (const std::string* next = &pieces[piece(random)];
             name.size() + next->size() <= 200 &&
             path.string().size() + name.size() + next->size() < length;
             next = &pieces[piece(random)]) {
            name += *next;
        }
        if (name.empty())
            return path;
        path /= name;
    }
}

struct LongPathCase {
    const char* name;
    const char* shell;
    const char* application;  // as Desktop::startApplication names it
    const char* identifier;
    const char* iTerm2Version;
    std::size_t pieces;  // which kLongPathPieces the window's path is made of; the tab's is next
};

void PrintTo(const LongPathCase& c, std::ostream* out) {
    *out << c.name;
}

class LongPathsTest : public EndToEndTest, public ::testing::WithParamInterface<LongPathCase> {};

TEST_P(LongPathsTest, CommandsTypedIntoANewWindowAndANewTabArriveWhole) {
    const LongPathCase& c = GetParam();
    if (std::string(c.shell) == "zsh" && access("/usr/bin/zsh", X_OK) != 0)
        GTEST_SKIP() << "zsh is not installed";
    const unsigned seed = seedForThisRun();
    SCOPED_TRACE(seedTrace(seed));
    std::mt19937 random(seed);
    // The shell starts a moment late, as one with a long start-up file does, so that what is
    // typed into a new window or tab reaches it before its line editor runs.
    fs::path shell = directory.path() / "slow" / c.shell;
    fs::create_directories(shell.parent_path());
    testing::writeFile(shell,
                       std::string("#!/bin/sh\nsleep 0.3\nexec /usr/bin/") + c.shell + " \"$@\"\n");
    fs::permissions(shell, fs::perms::owner_all);
    DesktopOptions options;
    options.shell = shell.string();
    options.iTerm2Version = c.iTerm2Version;
    ASSERT_NO_FATAL_FAILURE(layOut(options));
    ASSERT_NO_FATAL_FAILURE(startTerminal(c.application));
    TestPlatform test;
    Platform platform = test.platform();

    // A new window in front of the first one, then a new tab beside the new window's tab.
    const std::pair<bool, std::vector<std::size_t>> clicks[] = {{true, {1, 1}}, {false, {2, 1}}};
    for (std::size_t i = 0; i < std::size(clicks); ++i) {
        const auto& [useWindow, tabsAfter] = clicks[i];
        std::string folder =
            longPath(home(), i == 0 ? 2600 : 4000,
                     kLongPathPieces[(c.pieces + i) % std::size(kLongPathPieces)], random)
                .string();
        fs::create_directories(folder);
        std::size_t escaped = TerminalIdentifiers(platform).fixedPath(folder).size();
        SCOPED_TRACE(std::to_string(folder.size()) + " bytes, " + std::to_string(escaped) +
                     " escaped: " + printable(folder));
        // Shorter than a terminal's line buffer, the path would prove nothing.
        ASSERT_GT(escaped, 5000u);
        fs::path result = directory.path() / ("arrived-" + std::to_string(i));
        ASSERT_NO_FATAL_FAILURE(storePreferences(
            {{preference_key::kTerminalCommand, PlistValue(recordingTemplate(result))}}));
        ASSERT_NO_FATAL_FAILURE(chooseTerminal(c.identifier, useWindow));
        ASSERT_TRUE(desktop->openFinderWindow(folder));

        ASSERT_TRUE(click());

        ASSERT_TRUE(testing::waitUntil([&] { return fs::exists(result); }, seconds(40)))
            << "the command never ran\n"
            << describe(c.identifier);
        EXPECT_EQ(printable(testing::readFile(result)), printable(folder));
        std::vector<TerminalWindowState> windows = windowsOf(c.identifier);
        EXPECT_EQ(tabCounts(c.identifier), tabsAfter) << describe(c.identifier);
        ASSERT_FALSE(windows.empty());
        EXPECT_EQ(windows[0].tabs.at(windows[0].selectedTab).shellDirectory, folder);
    }
}

using terminal_identifier::kAppleTerminal;
using terminal_identifier::kITerm;
using terminal_identifier::kITerm2;

// zsh's line editor takes seconds a line of tens of kilobytes, so it is given the longest
// path once, where bash is given it twice.
const LongPathCase kLongPathCases[] = {
    {"TerminalBash", "bash", "Terminal", kAppleTerminal, "3.4.0", 0},
    {"ITermBash", "bash", "iTerm", kITerm, "3.4.0", 1},
    {"ITerm2ClassicBash", "bash", "iTerm2", kITerm2, "2.9.1", 2},
    {"ITerm2NextGenerationBash", "bash", "iTerm2", kITerm2, "3.4.0", 1},
    {"TerminalZsh", "zsh", "Terminal", kAppleTerminal, "3.4.0", 1},
    {"ITermZsh", "zsh", "iTerm", kITerm, "3.4.0", 3},
    {"ITerm2ClassicZsh", "zsh", "iTerm2", kITerm2, "2.9.1", 0},
    {"ITerm2NextGenerationZsh", "zsh", "iTerm2", kITerm2, "3.4.0", 3},
};

INSTANTIATE_TEST_SUITE_P(EveryTerminalAndShell, LongPathsTest, ::testing::ValuesIn(kLongPathCases),
                         [](const auto& test) { return std::string(test.param.name); });

INSTANTIATE_TEST_SUITE_P(TerminalShells, FolderNamesTest, ::testing::Values("bash", "zsh"),
                         [](const ::testing::TestParamInfo<const char*>& test) {
                             return std::string(test.param);
                         });

}  // namespace
}  // namespace quaymark
