// Folder names a shell would misread, in real bash and zsh: each one clicked through the whole
// chain onto a real shell, a thousand generated ones typed as the core's command, and paths
// of several kilobytes clicked into a new window and a new tab of every terminal.
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <set>

#include "EndToEndTest.h"
#include "QuaymarkPreferences.h"
#include "TerminalIdentifiers.h"
#include "TestPlatform.h"
#include "scripting/TerminalStandIn.h"
#include "scripting/TmuxServer.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

// The characters the core escapes with a backslash.
constexpr std::string_view kEscapedCharacters = "\\ !#^$%&*?()={}[]'`~|;<>\"";

// NAME_MAX of Linux file systems.
constexpr std::size_t kLongestName = 255;

using terminal_identifier::kAppleTerminal;

// Spaces, quotes, substitutions, trailing backslashes, leading dashes, tabs and line feeds,
// text beyond ASCII, history and brace expansion, globs, tildes, the placeholder, tmux key
// names, each escaped character alone and all together, and a name of 255 bytes.
std::vector<std::string> hardFolderNames() {
    std::vector<std::string> names = {"two  words and spaces", " both ends ", "say \"hello\""};
    names.insert(names.end(), {"it's 'single' quoted", "\"'\"'mixed'", "`touch pwned`"});
    names.insert(names.end(), {"$(touch pwned) and ${HOME}", "ends with\\", "\\\\n\\t\\ \\$"});
    names.insert(names.end(), {"-rf --help", "tab\there", "line\nfeed", "a\t\nb", "中文文件夹"});
    names.insert(names.end(), {"🚀 launch 🎉", "!! and !$", "{a,b}", "*", "~root", "Enter"});
    names.insert(names.end(), {"%PATH% 100%% done", "C-c"});
    names.emplace_back(kEscapedCharacters);
    for (char c : kEscapedCharacters)
        names.push_back(std::string("a") + c + "b");
    std::string longName = "long: 'quotes' \"both\" $(x) `y` 漢字 🚀 ";
    longName.resize(kLongestName, 'x');
    names.push_back(longName);
    return names;
}

// QUAYMARK_TEST_SEED=<number> repeats a run.
unsigned seedForThisRun() {
    if (const char* given = std::getenv("QUAYMARK_TEST_SEED"))
        return static_cast<unsigned>(std::strtoul(given, nullptr, 10));
    return std::random_device()();
}

// A command template that leaves the shell's folder after the cd in `result`, so that a path
// no screen can show (control characters, bytes that are no UTF-8) is still read back whole;
// "%%" is a single "%". A cd that failed leaves the folder the shell was in before. It ends
// in ";", which tmux would take for the end of its own command.
// The shell flushes what printf writes at each line feed, and folder names hold line feeds:
// the record is written aside and renamed, so that it is never read half written.
std::string recordingTemplate(const fs::path& result) {
    std::string part = result.string() + ".part";
    return "cd %PATH%; printf '%%s' \"$PWD\" > '" + part + "'; mv '" + part + "' '" +
           result.string() + "';";
}

// What recordingTemplate(result) left, empty until it has run; whole once there.
std::string arrived(const fs::path& result) {
    return fs::exists(result) && fs::file_size(result) > 0 ? testing::readFile(result) : "";
}

// The stand-in terminals' shell: "bash" or "zsh".
class FolderNamesTest : public EndToEndTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        if (std::string(GetParam()) == "zsh" && access("/usr/bin/zsh", X_OK) != 0)
            GTEST_SKIP() << "zsh is not installed";
        options.shell = GetParam();
    }
    DesktopOptions options;
};

TEST_P(FolderNamesTest, EachHardNameLandsTheShellExactlyInTheFolder) {
    ASSERT_NO_FATAL_FAILURE(layOut(options));
    ASSERT_NO_FATAL_FAILURE(startTerminal("Terminal"));
    ASSERT_NO_FATAL_FAILURE(chooseTerminal(kAppleTerminal, true));

    for (const std::string& name : hardFolderNames()) {
        SCOPED_TRACE(printable(name));
        std::string folder = makeFolder(fs::path("Names") / name);
        ASSERT_TRUE(desktop->openFinderWindow(folder));

        ASSERT_TRUE(click());

        EXPECT_TRUE(waitUntilShellIsIn(kAppleTerminal, 0, folder));
    }
    // Nothing in a name was run as a command.
    EXPECT_FALSE(fs::exists(fs::path(home()) / "pwned"));
    EXPECT_FALSE(fs::exists(fs::path(home()) / "Names" / "pwned"));
}

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
// bytes; one in fifty is as long as a name can be, give or take a piece.
std::vector<std::string> generateNames(std::mt19937& random, std::size_t count) {
    const std::vector<std::vector<std::string>> kinds = namePieceKinds();
    std::set<std::string> seen;
    std::vector<std::string> names;
    while (names.size() < count) {
        std::string name;
        for (std::size_t n = random() % 50 == 0 ? kLongestName : 1 + random() % 24; n > 0; --n) {
            const std::vector<std::string>& pieces = kinds[random() % kinds.size()];
            const std::string& next = pieces[random() % pieces.size()];
            if (name.size() + next.size() > kLongestName)
                break;
            name += next;
        }
        if (name != "." && name != ".." && seen.insert(name).second)
            names.push_back(name);
    }
    return names;
}

TEST_P(FolderNamesTest, AThousandGeneratedNamesEachLandTheShellInTheirFolder) {
    const unsigned seed = seedForThisRun();
    SCOPED_TRACE("QUAYMARK_TEST_SEED=" + std::to_string(seed) + " repeats this run");
    std::mt19937 random(seed);
    std::vector<std::string> names = generateNames(random, 1000);
    ASSERT_NO_FATAL_FAILURE(layOut(options));
    ASSERT_NO_FATAL_FAILURE(startTerminal("Terminal"));

    // The core's command for each folder, typed straight into the front window's shell, many
    // lines per tmux client, whose messages tmux keeps under 16 KiB.
    TestPlatform test;
    Platform platform = test.platform();
    TerminalIdentifiers terminals(platform);
    TmuxApplication terminal("Terminal", tmuxSocketPath(desktop->systemRoot(), kAppleTerminal));
    std::string target = terminal.windowsFrontToBack().at(0) + ":";
    fs::path results = directory.path() / "arrived";
    fs::create_directories(results);
    std::vector<std::string> folders, commands;
    std::vector<TmuxCommand> batch;
    for (std::size_t i = 0, bytes = 0; i < names.size(); ++i) {
        folders.push_back(makeFolder(fs::path("names") / std::to_string(i) / names[i]));
        test.preferences.store(preference_key::kTerminalCommand,
                               PlistValue(recordingTemplate(results / std::to_string(i))),
                               kPreferencesDomain);
        commands.push_back(terminals.commandWithPath(terminals.fixedPath(folders.back())));
        batch.push_back(
            {"send-keys", "-t", target, "-l", "--", TmuxServer::verbatim(commands.back())});
        batch.push_back({"send-keys", "-t", target, "Enter"});
        bytes += commands.back().size() + 64;
        if (bytes > 8000 || i + 1 == names.size()) {
            ASSERT_NO_THROW(terminal.run(batch));
            batch.clear();
            bytes = 0;
        }
    }

    // The shell runs the commands in order: once the last has run, so has every other.
    fs::path last = results / std::to_string(names.size() - 1);
    testing::waitUntil([&] { return !arrived(last).empty(); }, seconds(40));
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        std::string folder = arrived(results / std::to_string(i));
        if (folder != folders[i] && ++wrong <= 5) {
            ADD_FAILURE() << "name " << i << ": " << printable(names[i])
                          << "\n  typed:   " << printable(commands[i])
                          << "\n  arrived: " << printable(folder);
        }
    }
    EXPECT_EQ(wrong, 0u) << "names of " << folders.size() << " did not land in their folder";
}

// A path of nearly `length` bytes under `path`, in names of at most 200 bytes of `pieces`:
// paths of kilobytes, which escape to more than a terminal's line buffer holds.
fs::path longPath(fs::path path, std::size_t length, const std::vector<std::string>& pieces,
                  std::mt19937& random) {
    for (std::string name;; name.clear()) {
        for (const std::string* next = &pieces[random() % pieces.size()];
             name.size() + next->size() <= 200 &&
             path.string().size() + name.size() + next->size() < length;
             next = &pieces[random() % pieces.size()]) {
            name += *next;
        }
        if (name.empty())
            return path;
        path /= name;
    }
}

TEST_P(FolderNamesTest, PathsOfKilobytesArriveWholeInANewWindowAndANewTabOfEachTerminal) {
    const unsigned seed = seedForThisRun();
    SCOPED_TRACE("QUAYMARK_TEST_SEED=" + std::to_string(seed) + " repeats this run");
    std::mt19937 random(seed);
    // The shell starts a moment late, as one with a long start-up file does, so that what is
    // typed into a new window or tab reaches it before its line editor runs.
    fs::path shell = directory.path() / GetParam();
    testing::writeFile(
        shell, std::string("#!/bin/sh\nsleep 0.3\nexec /usr/bin/") + GetParam() + " \"$@\"\n");
    fs::permissions(shell, fs::perms::owner_all);
    options.shell = shell.string();
    TestPlatform test;
    Platform platform = test.platform();

    // Which namePieceKinds() make the paths: the escaped characters and the words double in
    // size escaped, control characters and bytes that are no UTF-8 grow sevenfold; so paths of
    // 3 and 4 KB escape to 6 to 28 KB. zsh's line editor takes seconds over a line of tens of
    // kilobytes, so zsh is given the longest once.
    const std::size_t kinds[] = {2, 6, 3, 5};
    bool zsh = std::string(GetParam()) == "zsh";
    // The application, the iTerm2 version of its desktop, and kinds[first], of which the new
    // window's path is made; the new tab's is of the next kind.
    const std::tuple<const char*, const char*, std::size_t> openers[] = {
        {"Terminal", "2.9.1", zsh ? 1 : 0},
        {"iTerm", "2.9.1", zsh ? 0 : 1},
        {"iTerm2", "2.9.1", zsh ? 0 : 2},
        {"iTerm2", "3.4.0", zsh ? 0 : 3}};
    for (const auto& [application, iTerm2Version, first] : openers) {
        SCOPED_TRACE(std::string(application) + " " + iTerm2Version);
        // A fresh desktop for each iTerm2 version.
        if (options.iTerm2Version != iTerm2Version) {
            if (desktop) {
                TearDown();
                desktop.reset();
                fs::remove_all(directory.path() / "desktop");
            }
            options.iTerm2Version = iTerm2Version;
            ASSERT_NO_FATAL_FAILURE(layOut(options));
        }
        ASSERT_NO_FATAL_FAILURE(startTerminal(application));
        std::string identifier = *Desktop::bundleIdentifierForApplication(application);

        // A new window in front of the first one, then a new tab beside the new window's tab.
        for (bool useWindow : {true, false}) {
            std::size_t kind = kinds[(first + (useWindow ? 0 : 1)) % std::size(kinds)];
            std::string folder =
                longPath(home(), useWindow ? 3000 : 4000, namePieceKinds()[kind], random).string();
            fs::create_directories(folder);
            std::size_t escaped = TerminalIdentifiers(platform).fixedPath(folder).size();
            SCOPED_TRACE(std::to_string(folder.size()) + " bytes, " + std::to_string(escaped) +
                         " escaped: " + printable(folder));
            // Shorter than a terminal's line buffer, the path would prove nothing.
            ASSERT_GT(escaped, 4096u);
            fs::path result = directory.path() / ("arrived-" + std::to_string(random()));
            ASSERT_NO_FATAL_FAILURE(storePreferences(
                {{preference_key::kTerminalCommand, PlistValue(recordingTemplate(result))}}));
            ASSERT_NO_FATAL_FAILURE(chooseTerminal(identifier, useWindow));
            ASSERT_TRUE(desktop->openFinderWindow(folder));

            ASSERT_TRUE(click());

            ASSERT_TRUE(testing::waitUntil([&] { return !arrived(result).empty(); }, seconds(40)))
                << "the command never ran\n"
                << describe(identifier);
            EXPECT_EQ(printable(arrived(result)), printable(folder));
            EXPECT_EQ(tabCounts(identifier),
                      (useWindow ? std::vector<std::size_t>{1, 1} : std::vector<std::size_t>{2, 1}))
                << describe(identifier);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(TerminalShells, FolderNamesTest, ::testing::Values("bash", "zsh"),
                         [](const ::testing::TestParamInfo<const char*>& test) {
                             return std::string(test.param);
                         });

}  // namespace
}  // namespace quaymark
