#include "FeedSignature.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QUtf8StringView>
#include <cstdlib>

#include "Signature.h"

namespace quaymark {
namespace {

// The framework's tools write the block as these lines after the signed document:
// "<!-- sparkle-signatures:", "edSignature: <base64>", "length: <bytes>", "-->".
constexpr std::string_view kBlockOpening = "<!-- sparkle-signatures:\n";
constexpr std::string_view kBlockEnd = "-->";
constexpr std::string_view kSignatureField = "edSignature:";
constexpr std::string_view kLengthField = "length:";
constexpr qsizetype kPublicKeyBytes = 32;
constexpr qsizetype kSignatureBytes = 64;

enum class Flaw { None, NoKey, MalformedKey, Unsigned, MalformedSignature, Mismatch };

bool isBase64Of(std::string_view text, qsizetype bytes) {
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(QByteArray(text.data(), static_cast<qsizetype>(text.size())),
                                       QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == bytes;
}

// The form of each input is judged here so that the verdict can name what is wrong in words
// that fit a feed or notes; the signature itself is checked by checkSignature.
Flaw flawOf(std::string_view content, std::string_view signatureBase64,
            std::string_view publicKeyBase64) {
    if (publicKeyBase64.empty())
        return Flaw::NoKey;
    if (!isBase64Of(publicKeyBase64, kPublicKeyBytes))
        return Flaw::MalformedKey;
    if (signatureBase64.empty())
        return Flaw::Unsigned;
    if (!isBase64Of(signatureBase64, kSignatureBytes))
        return Flaw::MalformedSignature;
    return checkSignature(content, signatureBase64, publicKeyBase64) ? Flaw::None : Flaw::Mismatch;
}

// A field's value as the framework reads it: the rest of the line, without surrounding space.
std::string fieldValue(const QString& line, std::string_view field) {
    return line.mid(static_cast<qsizetype>(field.size())).trimmed().toStdString();
}

// Leading digits, as a number; 0 when there are none, as the framework reads the length.
std::uint64_t leadingNumber(const std::string& text) {
    return static_cast<std::uint64_t>(std::strtoll(text.c_str(), nullptr, 10));
}

}  // namespace

SplitFeed splitSignedFeed(std::string_view feed) {
    const std::size_t opening = feed.rfind(kBlockOpening);
    if (opening == std::string_view::npos)
        return {feed, std::nullopt};
    const std::size_t fieldsStart = opening + kBlockOpening.size();
    const std::size_t end = feed.find(kBlockEnd, fieldsStart);
    if (end == std::string_view::npos)
        return {feed, std::nullopt};
    const std::string_view fields = feed.substr(fieldsStart, end - fieldsStart);
    if (!QUtf8StringView(fields.data(), static_cast<qsizetype>(fields.size())).isValidUtf8())
        return {feed, std::nullopt};

    FeedSigningBlock block;
    // Each field may appear more than once; the last one counts.
    const QStringList lines =
        QString::fromUtf8(fields.data(), static_cast<qsizetype>(fields.size()))
            .split(QRegularExpression(QStringLiteral("\r\n|[\n\r\u0085\u2028\u2029]")));
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String(kSignatureField)))
            block.edSignatureBase64 = fieldValue(line, kSignatureField);
        else if (line.startsWith(QLatin1String(kLengthField)))
            block.length = leadingNumber(fieldValue(line, kLengthField));
    }
    return {feed.substr(0, opening), std::move(block)};
}

Result<std::string> verifiedFeedContent(std::string_view feed, std::string_view publicKeyBase64) {
    const SplitFeed split = splitSignedFeed(feed);
    const std::string signature = split.block ? split.block->edSignatureBase64 : std::string();
    const auto refused = [](std::string reason) {
        return Result<std::string>::failure(std::move(reason));
    };
    switch (flawOf(split.content, signature, publicKeyBase64)) {
        case Flaw::None:
            return Result<std::string>::success(std::string(split.content));
        case Flaw::NoKey:
            return refused("the application has no public key (SUPublicEDKey) to check it with");
        case Flaw::MalformedKey:
            return refused(
                "the application's public key (SUPublicEDKey) is not the base64 of an "
                "Ed25519 key");
        case Flaw::Unsigned:
            return refused(split.block ? "its signing block holds no signature"
                                       : "it has no signing block");
        case Flaw::MalformedSignature:
            return refused(
                "its signing block's signature is not the base64 of an Ed25519 "
                "signature");
        case Flaw::Mismatch:
            break;
    }
    std::string reason =
        "its signature does not verify with the application's public key (SUPublicEDKey): it "
        "was changed after it was signed, or signed with another key";
    // As the framework does, the length the block states only explains the mismatch.
    if (split.block->length != 0 && split.block->length != split.content.size())
        reason += " (it was signed at " + std::to_string(split.block->length) +
                  " bytes and is now " + std::to_string(split.content.size()) + ")";
    return refused(reason);
}

Result<void> checkReleaseNotes(std::string_view notes, std::string_view signatureBase64,
                               std::string_view publicKeyBase64) {
    switch (flawOf(notes, signatureBase64, publicKeyBase64)) {
        case Flaw::None:
            return Result<void>::success();
        case Flaw::NoKey:
            return Result<void>::failure(
                "the application has no public key (SUPublicEDKey) to check them with");
        case Flaw::MalformedKey:
            return Result<void>::failure(
                "the application's public key (SUPublicEDKey) is not the base64 of an Ed25519 "
                "key");
        case Flaw::Unsigned:
            return Result<void>::failure("they are not signed");
        case Flaw::MalformedSignature:
            return Result<void>::failure(
                "their signature is not the base64 of an Ed25519 signature");
        case Flaw::Mismatch:
            break;
    }
    return Result<void>::failure(
        "their signature does not verify with the application's public key (SUPublicEDKey)");
}

}  // namespace quaymark
