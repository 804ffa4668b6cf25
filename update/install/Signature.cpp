#include "Signature.h"

#include <openssl/evp.h>

#include <QByteArray>
#include <memory>

namespace quaymark {
namespace {

constexpr qsizetype kPublicKeyBytes = 32;
constexpr qsizetype kSignatureBytes = 64;

// Strict decoding: a stray character or a wrong length is refused, never skipped.
std::optional<QByteArray> decodeBase64(std::string_view text, qsizetype expectedBytes) {
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(QByteArray(text.data(), static_cast<qsizetype>(text.size())),
                                       QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != expectedBytes)
        return std::nullopt;
    return decoded.decoded;
}

}  // namespace

std::optional<std::string> signatureRefusal(std::string_view data, std::string_view signatureBase64,
                                            std::string_view publicKeyBase64) {
    if (publicKeyBase64.empty())
        return "The application has no public key (SUPublicEDKey) to check updates with.";
    if (signatureBase64.empty())
        return "The update is not signed.";
    const std::optional<QByteArray> key = decodeBase64(publicKeyBase64, kPublicKeyBytes);
    if (!key)
        return "The application's public key is not the base64 of an Ed25519 key.";
    const std::optional<QByteArray> signature = decodeBase64(signatureBase64, kSignatureBytes);
    if (!signature)
        return "The update's signature is not the base64 of an Ed25519 signature.";

    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key->constData()),
                                    static_cast<std::size_t>(key->size())),
        &EVP_PKEY_free);
    if (!publicKey)
        return "The application's public key is not a usable Ed25519 key.";
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    // Ed25519 hashes internally, so no digest is named and the message goes in one piece.
    if (!context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1)
        return "The signature check could not be set up.";
    const int verdict = EVP_DigestVerify(
        context.get(), reinterpret_cast<const unsigned char*>(signature->constData()),
        static_cast<std::size_t>(signature->size()),
        reinterpret_cast<const unsigned char*>(data.data()), data.size());
    if (verdict != 1)
        return "The update's signature does not match: it was not signed with this "
               "application's key, or it was changed.";
    return std::nullopt;
}

}  // namespace quaymark
