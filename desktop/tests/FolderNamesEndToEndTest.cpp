// Folder names a shell would misread: each one clicked through the whole chain onto a real
// shell, and a thousand generated ones typed as the core's command into real bash and zsh.
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
#include "TestPlatform.h"

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

// The stand-in Terminal's shell: "bash" or "zsh".
class FolderNamesTest : public EndToEndTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FolderNamesTest, EachHardNameLandsTheShellExactlyInTheFolder) {
    if (std::string(GetParam()) == "zsh" && access("/usr/bin/zsh", X_OK) != 0)
        GTEST_SKIP() << "zsh is not installed";
    DesktopOptions options;
    options.shell = GetParam();
    ASSERT_NO_FATAL_FAILURE(layOut(options));
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

INSTANTIATE_TEST_SUITE_P(TerminalShells, FolderNamesTest, ::testing::Values("bash", "zsh"),
                         [](const ::testing::TestParamInfo<const char*>& test) {
                             return std::string(test.param);
                         });

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

// A tmux server of this test's own in its temporary folder, running one interactive shell;
// ended by pid.
class ShellInTmux {
public:
    ShellInTmux(const fs::path& folder, const std::vector<std::string>& shell)
        : _socket((folder / "tmux.sock").string()) {
        std::vector<std::string> start = {tmux(),        "-S", _socket, "-f",    "/dev/null",
                                          "new-session", "-d", "-s",    "typed", "-x",
                                          "200",         "-y", "50"};
        start.insert(start.end(), shell.begin(), shell.end());
        // The shell reads and writes UTF-8 whatever the machine's locale is.
        _environment = {{"PATH", "/usr/bin:/bin"},
                        {"HOME", folder.string()},
                        {"LANG", "C.UTF-8"},
                        {"PS1", "$ "},
                        {"TERM", "xterm"}};
        _started = testing::runProcess(start, _environment, seconds(10));
        testing::ProcessResult pid = testing::runProcess(
            {tmux(), "-S", _socket, "display-message", "-p", "#{pid}"}, _environment, seconds(10));
        if (pid.exitStatus == 0)
            _serverPid = std::atoi(pid.output.c_str());
    }
    ~ShellInTmux() {
        if (_serverPid <= 0)
            return;
        endProcess(_serverPid, milliseconds(3000));
    }
    ShellInTmux(const ShellInTmux&) = delete;
    ShellInTmux& operator=(const ShellInTmux&) = delete;

    bool running() const { return _serverPid > 0; }
    const testing::ProcessResult& startResult() const { return _started; }

    // Types each line literally, then Return; several lines per tmux client, whose
    // messages tmux keeps under 16 KiB.
    testing::ProcessResult typeLines(const std::vector<std::string>& lines) const {
        testing::ProcessResult result{0, ""};
        std::vector<std::string> client = {tmux(), "-S", _socket};
        std::size_t bytes = 0;
        auto send = [&] {
            if (client.size() > 3)
                result = testing::runProcess(client, _environment, seconds(20));
            client.resize(3);
            bytes = 0;
        };
        for (const std::string& line : lines) {
            if (bytes + line.size() > 8000)
                send();
            if (result.exitStatus != 0)
                return result;
            if (client.size() > 3)
                client.push_back(";");
            for (const char* word : {"send-keys", "-t", "typed:", "-l"})
                client.push_back(word);
            client.push_back(line);
            for (const char* word : {";", "send-keys", "-t", "typed:", "Enter"})
                client.push_back(word);
            bytes += line.size() + 64;
        }
        send();
        return result;
    }

private:
    static std::string tmux() { return "/usr/bin/tmux"; }

    std::string _socket;
    std::map<std::string, std::string> _environment;
    testing::ProcessResult _started;
    int _serverPid = 0;
};

struct ShellCase {
    const char* name;
    std::vector<std::string> command;
};

void PrintTo(const ShellCase& c, std::ostream* out) {
    *out << c.name;
}

class TypedNamesTest : public ::testing::TestWithParam<ShellCase> {};

// QUAYMARK_TEST_SEED=<number> repeats a run.
unsigned seedForThisRun() {
    if (const char* given = std::getenv("QUAYMARK_TEST_SEED"))
        return static_cast<unsigned>(std::strtoul(given, nullptr, 10));
    return std::random_device()();
}

TEST_P(TypedNamesTest, AThousandGeneratedNamesEachLandTheShellInTheirFolder) {
    const ShellCase& shell = GetParam();
    if (access(shell.command.front().c_str(), X_OK) != 0)
        GTEST_SKIP() << shell.command.front() << " is not installed";
    const unsigned seed = seedForThisRun();
    SCOPED_TRACE("seed " + std::to_string(seed) + " (QUAYMARK_TEST_SEED=" + std::to_string(seed) +
                 " repeats this run)");
    std::mt19937 random(seed);
    std::vector<std::string> names = generateNames(random, 1000);

    testing::TemporaryDirectory directory;
    fs::path results = directory.path() / "arrived";
    TestPlatform test;
    Platform platform = test.platform();
    TerminalIdentifiers terminals(platform);
    std::vector<std::string> folders;
    std::vector<std::string> commands;
    for (std::size_t i = 0; i < names.size(); ++i) {
        fs::path folder = directory.path() / "names" / std::to_string(i) / names[i];
        fs::create_directories(folder);
        folders.push_back(folder.string());
        // Each command leaves its number and the shell's folder after the cd, or its number
        // and a mark that the cd failed; "%%" in the template is a single "%".
        std::string number = std::to_string(i);
        test.preferences.store(
            preference_key::kTerminalCommand,
            PlistValue("cd %PATH% && printf '" + number + " %%s\\0' \"$PWD\" >> '" +
                       results.string() + "' || printf '" + number + " cd failed\\0' >> '" +
                       results.string() + "'"),
            kPreferencesDomain);
        commands.push_back(terminals.commandWithPath(terminals.fixedPath(folder.string())));
    }

    ShellInTmux tmux(directory.path(), shell.command);
    ASSERT_TRUE(tmux.running()) << tmux.startResult().output;
    testing::ProcessResult typed = tmux.typeLines(commands);
    ASSERT_EQ(typed.exitStatus, 0) << typed.output;

    // Waits until every command has left its entry, or nothing more has come for a while.
    std::map<std::size_t, std::string> arrived;
    std::size_t before = 0;
    auto progress = std::chrono::steady_clock::now();
    testing::waitUntil(
        [&] {
            std::string written = testing::readFile(results);
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

INSTANTIATE_TEST_SUITE_P(
    RealShells, TypedNamesTest,
    ::testing::Values(ShellCase{"bash", {"/usr/bin/bash", "--noprofile", "--norc"}},
                      ShellCase{"zsh", {"/usr/bin/zsh", "-f"}}),
    [](const ::testing::TestParamInfo<ShellCase>& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace quaymark
