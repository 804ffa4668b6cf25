#include <gtest/gtest.h>

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
            {"title", item.title},
            {"date", item.pubDate},
            {"desc", item.itemDescription}};
        for (const auto& [name, value] : fields) {
            if (!value.empty())
                text += std::string(" ") + name + "=" + value;
        }
        for (const std::string& requirement : item.hardwareRequirements)
            text += " hw=" + requirement;
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
        {"enclosure attribute wins over element", feed(R"(<item><sparkle:version>1</sparkle:version>
            <sparkle:shortVersionString>One</sparkle:shortVersionString>
            <enclosure url="u" sparkle:version="2"/></item>)"),
         "2/One url=u;"},
        {"another prefix bound to the namespace",
         feed(R"(<item><enclosure url="u" su:version="4"/><su:minimumSystemVersion>10.9
            </su:minimumSystemVersion><su:maximumSystemVersion>12</su:maximumSystemVersion>
            <su:releaseNotesLink>http://h/n.html</su:releaseNotesLink>
            <su:hardwareRequirements>arm64, x86_64</su:hardwareRequirements></item>)",
              R"(xmlns:su="http://www.andymatuschak.org/xml-namespaces/sparkle")"),
         "4/4 url=u min=10.9 max=12 notes=http://h/n.html hw=arm64 hw=x86_64;"},
        {"sparkle prefix bound elsewhere counts for nothing",
         feed(R"(<item><enclosure url="u" sparkle:version="5"/></item>)",
              R"(xmlns:sparkle="http://example.com/not-the-framework")"),
         ""},
        {"deltas never become the enclosure",
         feed(R"(<item><sparkle:version>6</sparkle:version><sparkle:deltas>
            <enclosure url="delta" sparkle:version="6" sparkle:deltaFrom="5"/></sparkle:deltas>
            <enclosure url="full"/></item>)"),
         "6/6 url=full;"},
        {"items without version skipped",
         feed(
             R"(<item><enclosure url="a"/></item><item><enclosure url="b" sparkle:version="7"/></item>)"),
         "7/7 url=b;"},
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

TEST(FeedReading, PicksTheHighestItemThatSuitsTheSystem) {
    const auto item = [](std::string version, std::string min, std::string max,
                         std::vector<std::string> hardware = {}) {
        SUAppcastItem result;
        result.version = std::move(version);
        result.minimumSystemVersion = std::move(min);
        result.maximumSystemVersion = std::move(max);
        result.hardwareRequirements = std::move(hardware);
        return result;
    };
    struct Case {
        std::vector<SUAppcastItem> items;
        RunningSystem system;
        const char* expected;  // "" when nothing suits
    };
    const RunningSystem sierraIntel{"10.12.6", "x86_64"};
    const std::vector<Case> cases = {
        {{item("1.9", "", ""), item("1.10", "", ""), item("1.2", "", "")}, sierraIntel, "1.10"},
        {{item("3.0", "10.15", ""), item("2.0", "10.12", "")}, sierraIntel, "2.0"},
        {{item("3.0", "", "10.11"), item("2.0", "", "10.12.6")}, sierraIntel, "2.0"},
        {{item("3.0", "", "", {"arm64"}), item("2.0", "", "", {"x86_64"})}, sierraIntel, "2.0"},
        {{item("3.0", "", "", {"arm64"})}, {"11.0", "arm64"}, "3.0"},
        {{item("3.0", "", "", {"aarch64"})}, {"11.0", "arm64"}, "3.0"},
        {{item("3.0", "", "", {"quantum"})}, sierraIntel, ""},
        {{item("3.0", "10.6", "")}, {"", "x86_64"}, ""},
        {{item("3.0", "", "")}, {"", "x86_64"}, "3.0"},
        {{}, sierraIntel, ""},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::optional<SUAppcastItem> best =
            bestItem(SUAppcast{"", cases[i].items}, cases[i].system);
        EXPECT_EQ(best ? best->version : "", cases[i].expected) << "case " << i;
    }
}

}  // namespace
}  // namespace quaymark
