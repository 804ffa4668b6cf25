#include "ReleaseNotesBrowser.h"

#include <QRegularExpression>

namespace quaymark {

ReleaseNotesBrowser::ReleaseNotesBrowser(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setSearchPaths({});
}

void ReleaseNotesBrowser::showNotes(const QString& html) {
    static const QRegularExpression scripts(
        "<script\\b[^>]*>.*?(</script\\s*>|$)",
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    QString cleaned = html;
    cleaned.remove(scripts);
    setHtml(cleaned);
}

QVariant ReleaseNotesBrowser::loadResource(int, const QUrl& name) {
    if (name.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) != 0)
        return {};
    // "data:[<media type>][;base64],<bytes>"; the text document takes the bytes as they are.
    const QByteArray url = name.toEncoded();
    const qsizetype comma = url.indexOf(',');
    if (comma < 0)
        return {};
    const QByteArray header = url.mid(5, comma - 5);
    const QByteArray payload = QByteArray::fromPercentEncoding(url.mid(comma + 1));
    return header.endsWith(";base64") ? QByteArray::fromBase64(payload) : payload;
}

}  // namespace quaymark
