#include <gtest/gtest.h>

#include <QStringList>

#include "AppcastReader.h"
#include "AppcastSelection.h"

namespace quaymark {
namespace {

// One line per item: the fields a test names, so each case states only what it is about.
std::string describe(const SUAppcast& appcast) {
    std::string text;
    for (const SUAppcastItem& item : appcast.items) {
        text += item.version + "/" + item.displayVersion;
        const std::vector<std::pair<const char*, std::string>> fields = {
            {"url", item.enclosureURL},
            {"len", item.enclosureLength ? std::to_string(item.enclosureLength) : ""},
            {"type", item.enclosureType},
            {"sig", item.edSignature},
            {"min", item.minimumSystemVersion},
            {"max", item.maximumSystemVersion},
            {"notes", item.releaseNotesURL},
            {"notesig", item.releaseNotesSignature},
            {"title", item.title},
            {"date", item.pubDate},
            {"desc", item.itemDescription},
            {"link", item.infoURL},
            {"history", item.fullReleaseNotesURL},
            {"install", item.installationType == "application" ? "" : item.installationType},
            {"channel", item.channel},
            {"critical", item.criticalUpdate ? "<" + item.criticalVersion : ""},
            {"major", item.minimumAutoupdateVersion},
            {"unskip", item.ignoreSkippedUpgradesBelowVersion},
            {"phase",
             item.phasedRolloutInterval ? std::to_string(*item.phasedRolloutInterval) : ""}};
        for (const auto& [name, value] : fields) {
            if (!value.empty())
                text += std::string(" ") + name + "=" + value;
        }
        for (const std::string& requirement : item.hardwareRequirements)
            text += " hw=" + requirement;
        if (item.os != "macos")
            text += " os=" + item.os;
        if (item.informationalUpdate) {
            text += " info";
            for (const std::string& version : item.informationalVersions)
                text += "=" + version;
            for (const std::string& version : item.informationalBelowVersions)
                text += "<" + version;
        }
        text += ";";
    }
    return text;
}

std::string feed(const std::string& items,
                 const std::string& bindings =
                     "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"") {
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" " + bindings +
           "><channel><title>Quaymark</title>" + items + "</channel></rss>";
}

// An item with `elements` and an enclosure of `version` at "u".
std::string entry(const std::string& version, const std::string& elements = "") {
    return "<item>" + elements + "<enclosure url=\"u\" sparkle:version=\"" + version +
           "\"/></item>";
}

TEST(FeedReading, ReadsItemsOrSaysWhyNot) {
    struct Case {
        const char* name;
        std::string xml;
        std::string expected;  // describe() of the items, or "error: <part of the message>"
    };
    const std::vector<Case> cases = {
        {"enclosure attributes", feed(R"(<item><title>Two</title><pubDate>Mon</pubDate>
            <enclosure url="http://h/q.zip" length="123" type="application/zip"
              sparkle:version="200" sparkle:shortVersionString="2.0" sparkle:edSignature="c2ln"/>
            </item>)"),
         "200/2.0 url=http://h/q.zip len=123 type=application/zip sig=c2ln title=Two date=Mon;"},
        {"item elements, display falls back to version",
         feed(R"(<item><sparkle:version>3</sparkle:version><enclosure url="u"/>
            <description><![CDATA[<b>x</b>]]></description></item>)"),
         "3/3 url=u desc=<b>x</b>;"},
        {"enclosure attribute wins over element",
         feed(entry("2",
                    "<sparkle:version>1</sparkle:version><sparkle:shortVersionString>One"
                    "</sparkle:shortVersionString>")),
         "2/One url=u;"},
        {"another prefix bound to the namespace",
         feed(R"(<item><enclosure url="u" su:version="4"/><su:minimumSystemVersion>10.9
            </su:minimumSystemVersion><su:maximumSystemVersion>12</su:maximumSystemVersion>
            <su:releaseNotesLink su:edSignature=" c2ln ">http://h/n.html</su:releaseNotesLink>
            <su:hardwareRequirements>arm64, x86_64</su:hardwareRequirements></item>)",
              R"(xmlns:su="http://www.andymatuschak.org/xml-namespaces/sparkle")"),
         "4/4 url=u min=10.9 max=12 notes=http://h/n.html notesig=c2ln hw=arm64 hw=x86_64;"},
        {"sparkle prefix bound elsewhere counts for nothing",
         feed(entry("5"), R"(xmlns:sparkle="http://example.com/not-the-framework")"), ""},
        {"deltas never become the enclosure",
         feed(R"(<item><sparkle:version>6</sparkle:version><sparkle:deltas>
            <enclosure url="delta" sparkle:version="6" sparkle:deltaFrom="5"/></sparkle:deltas>
            <enclosure url="full"/></item>)"),
         "6/6 url=full;"},
        {"items without version skipped", feed(R"(<item><enclosure url="a"/></item>)" + entry("7")),
         "7/7 url=u;"},
        {"page and version history",
         feed(entry("2",
                    "<link>http://h/2.html</link><sparkle:fullReleaseNotesLink> "
                    "http://h/all.html </sparkle:fullReleaseNotesLink>")),
         "2/2 url=u link=http://h/2.html history=http://h/all.html;"},
        {"pages only on the web or beside the feed",
         feed(entry("1",
                    "<link>file:///etc/passwd</link><sparkle:informationalUpdate/>"
                    "<sparkle:fullReleaseNotesLink>javascript:alert(1)"
                    "</sparkle:fullReleaseNotesLink>") +
              R"(<item><link>FILE:///etc/passwd</link><sparkle:version>2</sparkle:version></item>
            <item><link>HTTPS://h/3</link><sparkle:version>3</sparkle:version></item>
            <item><link>pages/4.html</link><sparkle:version>4</sparkle:version></item>)"),
         "1/1 url=u;3/3 link=HTTPS://h/3 info;4/4 link=pages/4.html info;"},
        {"the enclosure for this system wins wherever it stands",
         feed(R"(<item><enclosure url="win" sparkle:os="windows" sparkle:version="8"/>
            <enclosure url="mac" sparkle:version="9"/><enclosure url="x" sparkle:os="linux"/>
            </item><item><enclosure url="mac2" sparkle:os="macos" sparkle:version="3"/>
            <enclosure url="win2" sparkle:os="windows" sparkle:version="4"/></item>)"),
         "9/9 url=mac;3/3 url=mac2;"},
        {"no enclosure for this system keeps the other system's",
         feed(R"(<item><enclosure url="win" sparkle:os="windows" sparkle:version="8"/></item>
            <item><enclosure url="none" sparkle:os="" sparkle:version="7"/></item>)"),
         "8/8 url=win os=windows;7/7 url=none os=;"},
        {"installation type named, implied by a package, else an application",
         feed(R"(<item><enclosure url="http://h/q.zip" sparkle:version="1"
              sparkle:installationType="interactive-package"/></item>
            <item><enclosure url="http://h/Q.pkg?x=1" sparkle:version="2"/></item>
            <item><enclosure url="http://h/Q.mpkg" sparkle:version="3"/></item>
            <item><enclosure url="http://h/pkg.zip" sparkle:version="4"/></item>)"),
         "1/1 url=http://h/q.zip install=interactive-package;2/2 url=http://h/Q.pkg?x=1 "
         "install=package;3/3 url=http://h/Q.mpkg install=package;4/4 url=http://h/pkg.zip;"},
        {"channels by the framework's names only",
         feed(entry("1", "<sparkle:channel> beta </sparkle:channel>") +
              entry("2", "<sparkle:channel>be ta</sparkle:channel>") +
              entry("3", "<sparkle:channel/>") +
              entry("4", "<sparkle:channel>nightly_2.x-1</sparkle:channel>")),
         "1/1 url=u channel=beta;2/2 url=u;3/3 url=u;4/4 url=u channel=nightly_2.x-1;"},
        {"informational only with a page to offer",
         feed(entry("2",
                    "<link>http://h/i</link><sparkle:informationalUpdate><sparkle:version>"
                    "1.0</sparkle:version><sparkle:belowVersion>1.5</sparkle:belowVersion>"
                    "<other/></sparkle:informationalUpdate>") +
              entry("3", "<sparkle:informationalUpdate/>") +
              entry("4", "<link>http://h/i</link><sparkle:informationalUpdate/>")),
         "2/2 url=u link=http://h/i info=1.0<1.5;3/3 url=u;4/4 url=u link=http://h/i info;"},
        {"a page without an archive is informational for everyone, nothing is no item",
         feed(R"(<item><sparkle:version>5</sparkle:version><link>http://h/5</link>
              <sparkle:informationalUpdate><sparkle:version>1</sparkle:version>
              </sparkle:informationalUpdate></item>
            <item><sparkle:version>6</sparkle:version><title>nothing</title></item>
            <item><sparkle:version>7</sparkle:version><enclosure length="1"/></item>)"),
         "5/5 link=http://h/5 info;"},
        {"critical, below a version, and in the legacy tags",
         feed(entry("1", "<sparkle:criticalUpdate/>") +
              entry("2", R"(<sparkle:criticalUpdate sparkle:version="1.5"/>)") +
              entry("3", R"(<sparkle:criticalUpdate version="1.5"/>)") +
              entry("4", "<sparkle:tags><sparkle:criticalUpdate/></sparkle:tags>") +
              entry("5", "<sparkle:tags><criticalUpdate/></sparkle:tags>")),
         "1/1 url=u critical=<;2/2 url=u critical=<1.5;3/3 url=u critical=<;"
         "4/4 url=u critical=<;5/5 url=u;"},
        {"major upgrades and phased rollout",
         feed(entry("2.3",
                    "<sparkle:minimumAutoupdateVersion>2.0</sparkle:minimumAutoupdateVersion>"
                    "<sparkle:ignoreSkippedUpgradesBelowVersion>2.2"
                    "</sparkle:ignoreSkippedUpgradesBelowVersion><sparkle:phasedRolloutInterval>"
                    "86400</sparkle:phasedRolloutInterval>") +
              entry("1", "<sparkle:phasedRolloutInterval> -5s</sparkle:phasedRolloutInterval>") +
              entry("2", "<sparkle:phasedRolloutInterval>daily</sparkle:phasedRolloutInterval>")),
         "2.3/2.3 url=u major=2.0 unskip=2.2 phase=86400;1/1 url=u phase=-5;2/2 url=u phase=0;"},
        {"undeclared prefix",
         "<rss><channel><item><sparkle:version>1</sparkle:version></item>"
         "</channel></rss>",
         "error: not well-formed XML"},
        {"not XML", "version 2.0 is out", "error: not well-formed XML"},
        {"truncated", feed("<item>").substr(0, 60), "error: not well-formed XML"},
        {"not RSS", "<feed xmlns=\"http://www.w3.org/2005/Atom\"/>", "error: not an RSS document"},
        {"no channel", "<rss version=\"2.0\"/>", "error: no RSS channel"},
        {"empty", " \n", "error: the feed is empty"},
    };
    for (const Case& c : cases) {
        const Result<SUAppcast> result = readAppcast(QByteArray::fromStdString(c.xml));
        if (c.expected.starts_with("error: ")) {
            ASSERT_FALSE(result) << c.name;
            EXPECT_NE(result.error().find(c.expected.substr(7)), std::string::npos)
                << c.name << ": " << result.error();
            EXPECT_EQ(result.error().find('\n'), std::string::npos) << c.name;
        } else {
            ASSERT_TRUE(result) << c.name << ": " << result.error();
            EXPECT_EQ(describe(result.value()), c.expected) << c.name;
        }
    }
}

std::vector<std::string> splitWords(const std::string& list) {
    std::vector<std::string> words;
    for (const QString& word : QString::fromStdString(list).split(',', Qt::SkipEmptyParts))
        words.push_back(word.toStdString());
    return words;
}

// An item from "version key=value ..." words: min, max, hw (comma list), os, channel, info
// ("all", or "=v" and "<v" entries joined by commas), critical ("all" or a version), major,
// unskip, phase, date, install; "~" stands for a space.
SUAppcastItem item(const std::string& spec) {
    const QStringList words = QString::fromStdString(spec).split(' ', Qt::SkipEmptyParts);
    SUAppcastItem result;
    result.version = result.displayVersion = words.value(0).toStdString();
    for (const QString& word : words.mid(1)) {
        const QString key = word.section('=', 0, 0);
        const std::string value = word.section('=', 1).replace('~', ' ').toStdString();
        if (key == "min")
            result.minimumSystemVersion = value;
        else if (key == "max")
            result.maximumSystemVersion = value;
        else if (key == "hw")
            result.hardwareRequirements = splitWords(value);
        else if (key == "os")
            result.os = value;
        else if (key == "channel")
            result.channel = value;
        else if (key == "info") {
            result.informationalUpdate = true;
            for (const std::string& entry : splitWords(value == "all" ? "" : value)) {
                if (entry[0] == '<')
                    result.informationalBelowVersions.push_back(entry.substr(1));
                else
                    result.informationalVersions.push_back(entry.substr(1));
            }
        } else if (key == "critical") {
            result.criticalUpdate = true;
            result.criticalVersion = value == "all" ? "" : value;
        } else if (key == "major")
            result.minimumAutoupdateVersion = value;
        else if (key == "unskip")
            result.ignoreSkippedUpgradesBelowVersion = value;
        else if (key == "phase")
            result.phasedRolloutInterval = std::stoll(value);
        else if (key == "date")
            result.pubDate = value;
        else if (key == "install")
            result.installationType = value;
        else
            ADD_FAILURE() << "unknown key " << key.toStdString();
    }
    return result;
}

SUAppcast appcast(const std::vector<std::string>& specs) {
    SUAppcast result;
    for (const std::string& spec : specs)
        result.items.push_back(item(spec));
    return result;
}

const RunningSystem kSierraIntel{"10.12.6", "x86_64"};

TEST(AppcastSelection, OffersTheHighestNewerItemThatSuitsTheSystem) {
    struct Case {
        std::vector<std::string> items;
        RunningSystem system;
        const char* expected;  // "" when nothing is offered
        std::vector<std::string> channels{};
    };
    const std::vector<Case> cases = {
        {{"1.9", "1.10", "1.2"}, kSierraIntel, "1.10"},
        {{"3.0 min=10.15", "2.0 min=10.12"}, kSierraIntel, "2.0"},
        // A minimum equal to the running system admits it.
        {{"3.0 min=10.12.6", "2.0"}, kSierraIntel, "3.0"},
        {{"3.0 min=10.12.6.0"}, kSierraIntel, "3.0"},
        {{"3.0 max=10.11", "2.0 max=10.12.6"}, kSierraIntel, "2.0"},
        {{"3.0 hw=arm64", "2.0 hw=x86_64"}, kSierraIntel, "2.0"},
        // Every listed requirement must be this machine's.
        {{"3.0 hw=x86_64,arm64", "2.0"}, kSierraIntel, "2.0"},
        {{"3.0 hw=arm64,x86_64"}, {"11.0", "arm64"}, ""},
        {{"3.0 hw=arm64"}, {"11.0", "arm64"}, "3.0"},
        {{"3.0 hw=aarch64"}, {"11.0", "arm64"}, "3.0"},
        {{"3.0 hw=quantum"}, kSierraIntel, ""},
        {{"3.0 min=10.6"}, {"", "x86_64"}, ""},
        {{"3.0"}, {"", "x86_64"}, "3.0"},
        {{"2.0 os=windows", "1.5 os=", "1.4 os=macos"}, kSierraIntel, "1.4"},
        {{"1.0.0", "0.9"}, kSierraIntel, ""},
        {{}, kSierraIntel, ""},
        // Items in a channel go only to those who accept it, by its exact name.
        {{"2.0b1 channel=beta", "1.5"}, kSierraIntel, "1.5"},
        {{"2.0b1 channel=beta", "1.5"}, kSierraIntel, "2.0b1", {"beta"}},
        {{"2.0b1 channel=beta", "1.5"}, kSierraIntel, "1.5", {"Beta", "nightly"}},
        {{"2.0n channel=nightly", "2.0b1 channel=beta"}, kSierraIntel, "2.0b1", {"beta"}},
        {{"2.0b1 channel=beta"}, kSierraIntel, ""},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::optional<SUAppcastItem> best = bestItem(
            appcast(cases[i].items), SelectionContext{"1.0", cases[i].system, cases[i].channels});
        EXPECT_EQ(best ? best->version : "", cases[i].expected) << "case " << i;
    }
}

TEST(AppcastSelection, ResolvesInformationalCriticalAndMajorAgainstTheRunningVersion) {
    struct Case {
        const char* item;
        const char* running;
        const char* expected;  // the flags that hold: "i" informational, "c" critical, "m" major
    };
    const std::vector<Case> cases = {
        {"2.0", "1.0", ""},
        {"2.0 info=all", "1.0", "i"},
        {"2.0 info==1.0", "1.0", "i"},
        // Listed versions match as written.
        {"2.0 info==1.0", "1.0.0", ""},
        {"2.0 info==1.1,<1.0", "1.0", ""},
        {"2.0 info==1.1,<1.5", "1.0", "i"},
        {"2.0 info=<1.5", "1.5", ""},
        {"2.0 critical=all", "1.9", "c"},
        {"2.0 critical=1.5", "1.4", "c"},
        {"2.0 critical=1.5", "1.5", ""},
        {"3.0 major=3.0", "2.9", "m"},
        {"3.0 major=3.0", "3.0", ""},
        {"3.1 major=3.0 critical=all info=all", "2.0", "icm"},
    };
    for (const Case& c : cases) {
        const ItemState state = resolveItemState(item(c.item), c.running);
        const std::string flags = std::string(state.informational ? "i" : "") +
                                  (state.critical ? "c" : "") + (state.majorUpgrade ? "m" : "");
        EXPECT_EQ(flags, c.expected) << c.item << " from " << c.running;
    }
}

TEST(AppcastSelection, SkippingHidesTheVersionOrTheMajorUpgradesTrain) {
    struct Case {
        std::vector<std::string> skippedItems;  // skipped in turn while running `running`
        const char* running;
        std::vector<std::string> items;
        const char* expected;  // what a background check offers afterwards
    };
    const std::vector<Case> cases = {
        {{}, "1.0", {"1.1"}, "1.1"},
        {{"1.1"}, "1.0", {"1.1"}, ""},
        {{"1.1"}, "1.0", {"1.1", "1.0.9"}, ""},
        {{"1.1"}, "1.0", {"1.1", "1.2"}, "1.2"},
        // A critical update shows even when skipped.
        {{"1.1"}, "1.0", {"1.1 critical=all"}, "1.1"},
        {{"1.1"}, "1.0", {"1.1 critical=1.0"}, ""},
        // A skipped major upgrade hides every later release of its train...
        {{"2.0 major=2.0"}, "1.5", {"2.0 major=2.0", "2.4 major=2.0"}, ""},
        {{"2.0 major=2.0"}, "1.5", {"2.4 major=1.9"}, ""},
        // ...but not the next major upgrade, nor minor updates of the running train.
        {{"2.0 major=2.0"}, "1.5", {"2.4 major=2.0", "3.0 major=3.0"}, "3.0"},
        {{"2.0 major=2.0"}, "1.5", {"2.4 major=2.0", "1.6"}, "1.6"},
        // A skipped minor update does not hide a later major upgrade, nor the reverse.
        {{"1.6", "2.0 major=2.0"}, "1.5", {"1.6", "2.1 major=2.0", "1.7"}, "1.7"},
        // A release may ask to be seen again by those who skipped only earlier ones.
        {{"2.0 major=2.0"}, "1.5", {"2.4 major=2.0 unskip=2.2"}, "2.4"},
        {{"2.3 major=2.0"}, "1.5", {"2.4 major=2.0 unskip=2.2"}, ""},
        // Once the running version reaches the skipped major version, its train is offered.
        {{"2.0 major=2.0"}, "2.0", {"2.4 major=2.0"}, "2.4"},
        // A minor update of the running train wins over a newer major upgrade.
        {{}, "2.1", {"3.0 major=3.0", "2.5"}, "2.5"},
        {{}, "2.1", {"3.0 major=3.0", "2.0.1"}, "3.0"},
        {{}, "2.1", {"3.0 major=3.0", "4.0 major=4.0"}, "4.0"},
        {{}, "2.1", {"2.5 major=2.0"}, "2.5"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SkippedUpdate skipped;
        for (const std::string& spec : c.skippedItems)
            skipped = skipUpdate(item(spec), c.running, skipped);
        SelectionContext context{c.running, kSierraIntel};
        context.skipped = skipped;
        const std::optional<SUAppcastItem> best = bestItem(appcast(c.items), context);
        EXPECT_EQ(best ? best->version : "", c.expected) << "case " << i;
        // A check the user asked for ignores what was skipped.
        context.skipped.reset();
        EXPECT_TRUE(bestItem(appcast(c.items), context)) << "case " << i;
    }
    // What is stored is what the framework stores.
    const SkippedUpdate both =
        skipUpdate(item("2.1 major=2.0"), "1.5", skipUpdate(item("1.6"), "1.5", {}));
    EXPECT_EQ(both, (SkippedUpdate{"1.6", "2.0", "2.1"}));
}

TEST(AppcastSelection, PhasedRolloutReachesEachGroupInTurn) {
    // Published 2015-01-01 00:00:00 UTC, which is PlistDate 441763200.
    const std::string published = " date=Thu,~01~Jan~2015~00:00:00~+0000";
    const PlistDate release{441763200.0};
    struct Case {
        std::string item;
        std::uint32_t group;
        double secondsAfter;
        bool ready;
    };
    const std::vector<Case> cases = {
        {"2.0 phase=86400" + published, 0, 0, true},
        {"2.0 phase=86400" + published, 1, 86399, false},
        {"2.0 phase=86400" + published, 1, 86400, true},
        {"2.0 phase=86400" + published, 6, 5 * 86400, false},
        {"2.0 phase=86400" + published, 6, 6 * 86400, true},
        {"2.0 phase=86400 date=Thu,~01~Jan~2015~02:00:00~+0200", 1, 86400, true},
        {"2.0 phase=86400 date=Thu,~01~Jan~2015~02:00:00~+0000", 1, 86400, false},
        {"2.0 phase=86400 date=yesterday", 6, 0, true},
        {"2.0" + published, 6, 0, true},
        {"2.0 phase=86400 critical=all" + published, 6, 0, true},
        {"2.0 phase=86400 critical=1.0" + published, 6, 0, false},
    };
    for (const Case& c : cases) {
        const PlistDate now{release.sinceReferenceDate + c.secondsAfter};
        EXPECT_EQ(itemIsReadyForPhasedRollout(item(c.item), c.group, now, "1.0"), c.ready)
            << c.item << " group " << c.group << " after " << c.secondsAfter;
        // Only background checks set a group; the user sees the release at once.
        SelectionContext context{"1.0", kSierraIntel, {}, c.group, std::nullopt, now};
        EXPECT_EQ(bestItem(appcast({c.item}), context).has_value(), c.ready) << c.item;
        context.phasedUpdateGroup.reset();
        EXPECT_TRUE(bestItem(appcast({c.item}), context).has_value()) << c.item;
    }
    EXPECT_EQ(phasedUpdateGroup(0), 0u);
    EXPECT_EQ(phasedUpdateGroup(13), 6u);
    EXPECT_EQ(phasedUpdateGroup(0xFFFFFFFFu), 0xFFFFFFFFu % 7);
}

TEST(AppcastSelection, OnlyArchivedApplicationsAreInstalled) {
    EXPECT_TRUE(checkInstallable(item("2.0 install=application")));
    for (const char* type : {"package", "interactive-package", "disk-image"}) {
        const Result<void> installable = checkInstallable(item(std::string("2.0 install=") + type));
        ASSERT_FALSE(installable) << type;
        const std::string& refusal = installable.error();
        EXPECT_NE(refusal.find(std::string("\"") + type + "\""), std::string::npos) << refusal;
        EXPECT_NE(refusal.find("2.0"), std::string::npos) << refusal;
    }
}

}  // namespace
}  // namespace quaymark
