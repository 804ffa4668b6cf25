#include "AppcastReader.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

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

// Fills the item from an <enclosure>; the framework's attributes there win over the item's
// elements of the same meaning.
void readEnclosure(QXmlStreamReader& xml, SUAppcastItem& item, std::string& enclosureVersion,
                   std::string& enclosureDisplayVersion) {
    const QXmlStreamAttributes attributes = xml.attributes();
    const QLatin1String sparkle(kSparkleNamespace);
    item.enclosureURL = text(attributes.value(QString(), QLatin1String("url")));
    item.enclosureLength = attributes.value(QString(), QLatin1String("length")).toULongLong();
    item.enclosureType = text(attributes.value(QString(), QLatin1String("type")));
    item.edSignature = text(attributes.value(sparkle, QLatin1String("edSignature")));
    enclosureVersion = text(attributes.value(sparkle, QLatin1String("version")));
    enclosureDisplayVersion = text(attributes.value(sparkle, QLatin1String("shortVersionString")));
    xml.skipCurrentElement();
}

void readReleaseNotesLink(QXmlStreamReader& xml, SUAppcastItem& item) {
    // Spaces around the signature are dropped, as the framework drops them.
    item.releaseNotesSignature =
        text(xml.attributes()
                 .value(QLatin1String(kSparkleNamespace), QLatin1String("edSignature"))
                 .trimmed());
    item.releaseNotesURL = elementText(xml);
}

SUAppcastItem readItem(QXmlStreamReader& xml) {
    SUAppcastItem item;
    std::string version, displayVersion, enclosureVersion, enclosureDisplayVersion;
    while (xml.readNextStartElement()) {
        if (isPlain(xml, u"title"))
            item.title = elementText(xml);
        else if (isPlain(xml, u"description"))
            item.itemDescription = elementText(xml);
        else if (isPlain(xml, u"pubDate"))
            item.pubDate = elementText(xml);
        else if (isPlain(xml, u"enclosure"))
            readEnclosure(xml, item, enclosureVersion, enclosureDisplayVersion);
        else if (isSparkle(xml, u"version"))
            version = elementText(xml);
        else if (isSparkle(xml, u"shortVersionString"))
            displayVersion = elementText(xml);
        else if (isSparkle(xml, u"releaseNotesLink"))
            readReleaseNotesLink(xml, item);
        else if (isSparkle(xml, u"minimumSystemVersion"))
            item.minimumSystemVersion = elementText(xml);
        else if (isSparkle(xml, u"maximumSystemVersion"))
            item.maximumSystemVersion = elementText(xml);
        else if (isSparkle(xml, u"hardwareRequirements"))
            item.hardwareRequirements = splitList(elementText(xml));
        else
            // Delta archives live in <sparkle:deltas>; skipping the whole element keeps their
            // enclosures from ever standing for the item's own.
            xml.skipCurrentElement();
    }
    item.version = enclosureVersion.empty() ? version : enclosureVersion;
    item.displayVersion = !enclosureDisplayVersion.empty() ? enclosureDisplayVersion
                          : !displayVersion.empty()        ? displayVersion
                                                           : item.version;
    return item;
}

void readChannel(QXmlStreamReader& xml, SUAppcast& appcast) {
    while (xml.readNextStartElement()) {
        if (isPlain(xml, u"title")) {
            appcast.title = elementText(xml);
        } else if (isPlain(xml, u"item")) {
            SUAppcastItem item = readItem(xml);
            if (!item.version.empty())
                appcast.items.push_back(std::move(item));
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
