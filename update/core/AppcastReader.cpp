#include "AppcastReader.h"

#include <QRegularExpression>
#include <QUrl>
#include <QXmlStreamReader>
#include <optional>

namespace quaymark {
namespace {

std::string text(QStringView view) {
    return view.toString().toStdString();
}

bool isSparkle(const QXmlStreamReader& xml, QStringView name) {
    return xml.namespaceUri() == QLatin1String(kSparkleNamespace) && xml.name() == name;
}

bool isPlain(const QXmlStreamReader& xml, QStringView name) {
    return xml.namespaceUri().isEmpty() && xml.name() == name;
}

std::string elementText(QXmlStreamReader& xml) {
    return xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed().toStdString();
}

std::vector<std::string> splitList(const std::string& list) {
    std::vector<std::string> words;
    const QStringList parts =
        QString::fromStdString(list).split(QRegularExpression("[,\\s]+"), Qt::SkipEmptyParts);
    for (const QString& part : parts)
        words.push_back(part.toStdString());
    return words;
}

// One <enclosure>: the archive, and the framework's attributes that describe it.
struct Enclosure {
    std::string url;
    std::uint64_t length = 0;
    std::string type;
    std::string edSignature;
    std::string version;
    std::string displayVersion;
    std::string os;
    std::string installationType;
};

// The framework's installation type when the enclosure names none: installer packages by
// their extension, an archived application otherwise.
std::string impliedInstallationType(const std::string& url) {
    const QString path = QUrl(QString::fromStdString(url)).path();
    return path.endsWith(QLatin1String(".pkg")) || path.endsWith(QLatin1String(".mpkg"))
               ? "package"
               : "application";
}

Enclosure readEnclosure(QXmlStreamReader& xml) {
    const QXmlStreamAttributes attributes = xml.attributes();
    const QLatin1String sparkle(kSparkleNamespace);
    Enclosure enclosure;
    enclosure.url = text(attributes.value(QString(), QLatin1String("url")));
    enclosure.length = attributes.value(QString(), QLatin1String("length")).toULongLong();
    enclosure.type = text(attributes.value(QString(), QLatin1String("type")));
    enclosure.edSignature = text(attributes.value(sparkle, QLatin1String("edSignature")));
    enclosure.version = text(attributes.value(sparkle, QLatin1String("version")));
    enclosure.displayVersion = text(attributes.value(sparkle, QLatin1String("shortVersionString")));
    // An absent attribute means this system; an empty one names no system at all.
    enclosure.os = attributes.hasAttribute(sparkle, QLatin1String("os"))
                       ? text(attributes.value(sparkle, QLatin1String("os")))
                       : std::string(kThisSystem);
    enclosure.installationType =
        attributes.hasAttribute(sparkle, QLatin1String("installationType"))
            ? text(attributes.value(sparkle, QLatin1String("installationType")))
            : impliedInstallationType(enclosure.url);
    xml.skipCurrentElement();
    return enclosure;
}

// The enclosure for this system; else the first, whose system then keeps the item from
// being offered here.
const Enclosure* chooseEnclosure(const std::vector<Enclosure>& enclosures) {
    for (const Enclosure& enclosure : enclosures) {
        if (enclosure.os == kThisSystem)
            return &enclosure;
    }
    return enclosures.empty() ? nullptr : &enclosures.front();
}

// The framework's channel names; any other name is ignored, which leaves the item on the
// default channel, as the framework does.
std::string channelName(const std::string& name) {
    static const QRegularExpression valid("^[A-Za-z0-9._-]+$");
    return valid.match(QString::fromStdString(name)).hasMatch() ? name : std::string();
}

// A page link as the framework keeps it: a web address, or one relative to the feed, which
// the updater resolves. Anything else (a file, a script) is dropped.
std::string pageLink(const std::string& link) {
    const QString scheme = QUrl(QString::fromStdString(link)).scheme().toLower();
    return scheme.isEmpty() || scheme == "http" || scheme == "https" ? link : std::string();
}

// NSString's integerValue: an optional sign and the leading digits; 0 when there are none.
std::int64_t leadingInteger(const std::string& text) {
    static const QRegularExpression number("^\\s*([+-]?\\d+)");
    const QRegularExpressionMatch match = number.match(QString::fromStdString(text));
    bool ok = false;
    const qlonglong value = match.hasMatch() ? match.captured(1).toLongLong(&ok) : 0;
    return ok ? value : 0;
}

void readInformationalVersions(QXmlStreamReader& xml, std::vector<std::string>& versions,
                               std::vector<std::string>& belowVersions) {
    while (xml.readNextStartElement()) {
        if (isSparkle(xml, u"version"))
            versions.push_back(elementText(xml));
        else if (isSparkle(xml, u"belowVersion"))
            belowVersions.push_back(elementText(xml));
        else
            xml.skipCurrentElement();
    }
}

void readReleaseNotesLink(QXmlStreamReader& xml, SUAppcastItem& item) {
    // Spaces around the signature are dropped, as the framework drops them.
    item.releaseNotesSignature =
        text(xml.attributes()
                 .value(QLatin1String(kSparkleNamespace), QLatin1String("edSignature"))
                 .trimmed());
    item.releaseNotesURL = elementText(xml);
}

// The legacy form of a critical update: an empty <sparkle:criticalUpdate/> among the tags.
bool tagsNameCritical(QXmlStreamReader& xml) {
    bool critical = false;
    while (xml.readNextStartElement()) {
        critical = critical || isSparkle(xml, u"criticalUpdate");
        xml.skipCurrentElement();
    }
    return critical;
}

// What an <item>'s elements say, before its enclosures and versions are settled against
// each other.
struct ItemElements {
    SUAppcastItem item;
    std::string version;
    std::string displayVersion;
    std::vector<Enclosure> enclosures;
    bool informationalElement = false;
};

// The item's elements in no namespace; false when the element is none of them.
bool readPlainElement(QXmlStreamReader& xml, ItemElements& read) {
    if (isPlain(xml, u"title")) {
        read.item.title = elementText(xml);
    } else if (isPlain(xml, u"description")) {
        read.item.itemDescription = elementText(xml);
    } else if (isPlain(xml, u"pubDate")) {
        read.item.pubDate = elementText(xml);
    } else if (isPlain(xml, u"link")) {
        read.item.infoURL = pageLink(elementText(xml));
    } else if (isPlain(xml, u"enclosure")) {
        read.enclosures.push_back(readEnclosure(xml));
    } else {
        return false;
    }
    return true;
}

// The framework's elements on the release itself: its versions, its notes and how urgent it
// is; false when the element is none of them.
bool readReleaseElement(QXmlStreamReader& xml, ItemElements& read) {
    SUAppcastItem& item = read.item;
    if (isSparkle(xml, u"version")) {
        read.version = elementText(xml);
    } else if (isSparkle(xml, u"shortVersionString")) {
        read.displayVersion = elementText(xml);
    } else if (isSparkle(xml, u"releaseNotesLink")) {
        readReleaseNotesLink(xml, item);
    } else if (isSparkle(xml, u"fullReleaseNotesLink")) {
        item.fullReleaseNotesURL = pageLink(elementText(xml));
    } else if (isSparkle(xml, u"informationalUpdate")) {
        read.informationalElement = true;
        readInformationalVersions(xml, item.informationalVersions, item.informationalBelowVersions);
    } else if (isSparkle(xml, u"criticalUpdate")) {
        item.criticalUpdate = true;
        item.criticalVersion = text(
            xml.attributes().value(QLatin1String(kSparkleNamespace), QLatin1String("version")));
        xml.skipCurrentElement();
    } else if (isSparkle(xml, u"tags")) {
        item.criticalUpdate = tagsNameCritical(xml) || item.criticalUpdate;
    } else {
        return false;
    }
    return true;
}

// The framework's elements that say which systems, channels and running versions the item
// is for; false when the element is none of them.
bool readRequirementElement(QXmlStreamReader& xml, SUAppcastItem& item) {
    if (isSparkle(xml, u"minimumSystemVersion")) {
        item.minimumSystemVersion = elementText(xml);
    } else if (isSparkle(xml, u"maximumSystemVersion")) {
        item.maximumSystemVersion = elementText(xml);
    } else if (isSparkle(xml, u"hardwareRequirements")) {
        item.hardwareRequirements = splitList(elementText(xml));
    } else if (isSparkle(xml, u"channel")) {
        item.channel = channelName(elementText(xml));
    } else if (isSparkle(xml, u"minimumAutoupdateVersion")) {
        item.minimumAutoupdateVersion = elementText(xml);
    } else if (isSparkle(xml, u"ignoreSkippedUpgradesBelowVersion")) {
        item.ignoreSkippedUpgradesBelowVersion = elementText(xml);
    } else if (isSparkle(xml, u"phasedRolloutInterval")) {
        item.phasedRolloutInterval = leadingInteger(elementText(xml));
    } else {
        return false;
    }
    return true;
}

ItemElements readItemElements(QXmlStreamReader& xml) {
    ItemElements read;
    while (xml.readNextStartElement()) {
        if (!readPlainElement(xml, read) && !readReleaseElement(xml, read) &&
            !readRequirementElement(xml, read.item)) {
            // Delta archives live in <sparkle:deltas>; skipping the whole element keeps their
            // enclosures from ever standing for the item's own.
            xml.skipCurrentElement();
        }
    }
    return read;
}

void takeEnclosure(SUAppcastItem& item, const Enclosure& enclosure) {
    item.enclosureURL = enclosure.url;
    item.enclosureLength = enclosure.length;
    item.enclosureType = enclosure.type;
    item.edSignature = enclosure.edSignature;
    item.os = enclosure.os;
    item.installationType = enclosure.installationType;
}

// Without an archive the page is all there is: informational for every running version.
// With one, the element decides, and only when there is a page to offer instead.
void settleInformational(SUAppcastItem& item, bool hasEnclosure, bool informationalElement) {
    item.informationalUpdate = !item.infoURL.empty() && (!hasEnclosure || informationalElement);
    if (!hasEnclosure) {
        item.informationalVersions.clear();
        item.informationalBelowVersions.clear();
    }
}

// The enclosure's versions win over the item's; the display version falls back to the
// version.
void settleVersions(SUAppcastItem& item, const Enclosure* enclosure, const ItemElements& read) {
    const std::string enclosureVersion = enclosure ? enclosure->version : std::string();
    const std::string enclosureDisplayVersion =
        enclosure ? enclosure->displayVersion : std::string();
    item.version = enclosureVersion.empty() ? read.version : enclosureVersion;
    item.displayVersion = !enclosureDisplayVersion.empty() ? enclosureDisplayVersion
                          : !read.displayVersion.empty()   ? read.displayVersion
                                                           : item.version;
}

// Nothing when the item offers neither an archive nor a page: there would be nothing to
// show.
std::optional<SUAppcastItem> readItem(QXmlStreamReader& xml) {
    ItemElements read = readItemElements(xml);
    const Enclosure* enclosure = chooseEnclosure(read.enclosures);
    if (enclosure != nullptr)
        takeEnclosure(read.item, *enclosure);
    if (read.item.enclosureURL.empty() && read.item.infoURL.empty())
        return std::nullopt;
    settleInformational(read.item, enclosure != nullptr, read.informationalElement);
    settleVersions(read.item, enclosure, read);
    return std::move(read.item);
}

void readChannel(QXmlStreamReader& xml, SUAppcast& appcast) {
    while (xml.readNextStartElement()) {
        if (isPlain(xml, u"title")) {
            appcast.title = elementText(xml);
        } else if (isPlain(xml, u"item")) {
            std::optional<SUAppcastItem> item = readItem(xml);
            if (item && !item->version.empty())
                appcast.items.push_back(std::move(*item));
        } else {
            xml.skipCurrentElement();
        }
    }
}

}  // namespace

Result<SUAppcast> readAppcast(const QByteArray& data) {
    if (data.trimmed().isEmpty())
        return Result<SUAppcast>::failure("the feed is empty");
    QXmlStreamReader xml(data);
    SUAppcast appcast;
    bool sawChannel = false;
    if (xml.readNextStartElement()) {
        if (!isPlain(xml, u"rss"))
            return Result<SUAppcast>::failure("the feed is not an RSS document (its root is <" +
                                              text(xml.qualifiedName()) + ">)");
        while (xml.readNextStartElement()) {
            if (isPlain(xml, u"channel")) {
                sawChannel = true;
                readChannel(xml, appcast);
            } else {
                xml.skipCurrentElement();
            }
        }
    }
    // Reading on to the end catches anything malformed after the channel too.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError())
        return Result<SUAppcast>::failure("the feed is not well-formed XML (line " +
                                          std::to_string(xml.lineNumber()) +
                                          "): " + xml.errorString().toStdString());
    if (!sawChannel)
        return Result<SUAppcast>::failure("the feed has no RSS channel");
    return Result<SUAppcast>::success(std::move(appcast));
}

}  // namespace quaymark
