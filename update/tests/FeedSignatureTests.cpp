#include <gtest/gtest.h>

#include "BundleInfo.h"
#include "CallLog.h"
#include "FakeBundle.h"
#include "FeedSignature.h"
#include "UpdateArchives.h"

namespace quaymark {
namespace {

using testing::signedFeed;
using testing::signingBlock;
using testing::SigningKey;

const std::string kDocument =
    "<?xml version=\"1.0\"?>\n<!-- sparkle-sign-warning: signed -->\n<rss version=\"2.0\" "
    "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
    "<title>Quaymark</title><item><title>Version 2.0</title><enclosure "
    "url=\"http://127.0.0.1:9/Quaymark-2.0.zip\" length=\"100\" sparkle:version=\"2.0\"/></item>"
    "</channel></rss>\n";

struct FeedCase {
    const char* name;
    std::string feed;
    // The document read from it, or the start of the reason it is refused.
    std::string content;
    std::string refusalBegins{};
};

TEST(SignedFeed, IsReadOrRefusedAsTheFrameworkDecides) {
    const SigningKey key, otherKey;
    const std::string signature = key.signBase64(kDocument);
    const std::string signedOnce = signedFeed(kDocument, key);
    const std::string garbled = std::string(86, 'A') + "==";
    const std::vector<FeedCase> cases = {
        {"signed", signedOnce, kDocument},
        {"without its length", kDocument + signingBlock(signature, 0), kDocument},
        // The length only explains a mismatch; a wrong one does not refuse a good signature.
        {"with a wrong length", kDocument + signingBlock(signature, 7), kDocument},
        {"lines ending in CR LF, spaces around the signature",
         kDocument + "<!-- sparkle-signatures:\nedSignature:   " + signature +
             "  \r\nlength: 9\r\n-->",
         kDocument},
        {"the last of two signatures in a block counts",
         kDocument + "<!-- sparkle-signatures:\nedSignature: " + garbled +
             "\nedSignature: " + signature + "\n-->\n",
         kDocument},
        // Nothing after the block's end is signed, so nothing after it is read either.
        {"bytes after the block", signedOnce + "<rss><channel><item/></channel></rss>", kDocument},
        // The last block signs everything before it, an earlier block included.
        {"two blocks, each signing all before it", signedFeed(signedOnce, key), signedOnce},
        {"a second block added by someone else",
         signedOnce + signingBlock(otherKey.signBase64(signedOnce), signedOnce.size()), "",
         "its signature does not verify"},
        {"no block", kDocument, "", "it has no signing block"},
        {"an empty feed", "", "", "it has no signing block"},
        {"a block that never ends",
         kDocument + "<!-- sparkle-signatures:\nedSignature: " + signature, "",
         "it has no signing block"},
        {"a block that is not UTF-8",
         kDocument + "<!-- sparkle-signatures:\nedSignature: " + signature + "\n\xff\n-->\n", "",
         "it has no signing block"},
        {"the opening without its line break",
         kDocument + "<!-- sparkle-signatures: edSignature: " + signature + "\n-->\n", "",
         "it has no signing block"},
        {"a block without a signature", kDocument + "<!-- sparkle-signatures:\nlength: 3\n-->\n",
         "", "its signing block holds no signature"},
        {"a field named in another case",
         kDocument + "<!-- sparkle-signatures:\nEdSignature: " + signature + "\n-->\n", "",
         "its signing block holds no signature"},
        {"a signature that is not base64", kDocument + signingBlock("*" + signature.substr(1), 0),
         "", "its signing block's signature is not the base64"},
        {"a signature one byte short", kDocument + signingBlock(signature.substr(0, 84), 0), "",
         "its signing block's signature is not the base64"},
        {"signed with another key", signedFeed(kDocument, otherKey), "",
         "its signature does not verify with the application's public key"},
        {"one byte taken away", kDocument.substr(1) + signingBlock(signature, kDocument.size()), "",
         "its signature does not verify with the application's public key (SUPublicEDKey): it "
         "was changed after it was signed, or signed with another key (it was signed at " +
             std::to_string(kDocument.size()) + " bytes and is now " +
             std::to_string(kDocument.size() - 1) + ")"},
    };
    for (const FeedCase& each : cases) {
        const Result<std::string> read = verifiedFeedContent(each.feed, key.publicKeyBase64());
        if (each.refusalBegins.empty()) {
            EXPECT_TRUE(read) << each.name << ": " << read.error();
            EXPECT_EQ(read ? read.value() : "", each.content) << each.name;
        } else {
            EXPECT_FALSE(read) << each.name;
            EXPECT_TRUE(read.error().starts_with(each.refusalBegins))
                << each.name << ": " << read.error();
        }
    }
}

TEST(SignedFeed, OneByteChangedInTheDocumentOrItsSignatureIsRefused) {
    const SigningKey key;
    const std::string feed = signedFeed(kDocument, key);
    const std::size_t signatureStart = feed.find("edSignature: ") + 13;
    const std::size_t signatureEnd = feed.find('\n', signatureStart);
    for (std::size_t at = 0; at < signatureEnd; ++at) {
        if (at == kDocument.size())
            at = signatureStart;
        // The last character before "==" holds four padding bits that decoding drops.
        if (at == signatureEnd - 3)
            continue;
        std::string altered = feed;
        altered[at] = static_cast<char>(altered[at] ^ 0x01);
        const Result<std::string> read = verifiedFeedContent(altered, key.publicKeyBase64());
        ASSERT_FALSE(read) << "byte " << at << " changed";
        if (at < kDocument.size()) {
            EXPECT_TRUE(read.error().starts_with("its signature does not verify")) << read.error();
        }
    }
}

TEST(SignedFeed, ABundleWithoutAUsableKeyRefusesEveryFeed) {
    const SigningKey key;
    const std::string feed = signedFeed(kDocument, key);
    EXPECT_EQ(verifiedFeedContent(feed, "").error(),
              "the application has no public key (SUPublicEDKey) to check it with");
    EXPECT_EQ(verifiedFeedContent(feed, "not a key").error(),
              "the application's public key (SUPublicEDKey) is not the base64 of an Ed25519 key");
}

TEST(SignedReleaseNotes, AreShownOnlyWhenTheLinkSignsAllTheirBytes) {
    const SigningKey key, otherKey;
    const std::string notes = "<!-- sparkle-sign-warning: signed -->\n<h1>New</h1>\n";
    const std::string signature = key.signBase64(notes);
    const struct {
        const char* name;
        std::string notes, signature;
        std::string refusal;  // none when good
    } cases[] = {
        {"signed", notes, signature, ""},
        {"unsigned", notes, "", "they are not signed"},
        {"one byte changed", "<!-- sparkle-sign-warning: signed -->\n<h1>new</h1>\n", signature,
         "their signature does not verify with the application's public key (SUPublicEDKey)"},
        // The warning on top is part of what is signed.
        {"without the warning", "<h1>New</h1>\n", signature,
         "their signature does not verify with the application's public key (SUPublicEDKey)"},
        {"signed with another key", notes, otherKey.signBase64(notes),
         "their signature does not verify with the application's public key (SUPublicEDKey)"},
        {"a signature that is not base64", notes, "#" + signature.substr(1),
         "their signature is not the base64 of an Ed25519 signature"},
    };
    for (const auto& each : cases)
        EXPECT_EQ(checkReleaseNotes(each.notes, each.signature, key.publicKeyBase64()).error(),
                  each.refusal)
            << each.name;
    EXPECT_EQ(checkReleaseNotes(notes, signature, "").error(),
              "the application has no public key (SUPublicEDKey) to check them with");
}

TEST(BundleSwitches, AreOnAsTheFrameworkReadsThem) {
    const std::vector<std::pair<PlistValue, bool>> cases = {
        // clang-format off
        {PlistValue::boolean(true), true}, {PlistValue::boolean(false), false},
        {PlistValue::integer(1), true}, {PlistValue::integer(0), false},
        {PlistValue::integer(-2), true}, {PlistValue::real(0.0), false},
        {PlistValue::real(0.5), true}, {PlistValue("YES"), true}, {PlistValue("yes"), true},
        {PlistValue("true"), true}, {PlistValue("  +007"), true}, {PlistValue("NO"), false},
        {PlistValue("false"), false}, {PlistValue("0"), false}, {PlistValue("000"), false},
        {PlistValue(""), false}, {PlistValue("-0"), false}, {PlistValue(PlistArray{}), false},
        {PlistValue(PlistDictionary{}), false},
        // clang-format on
    };
    CallLog calls;
    FakeBundle bundle(calls);
    EXPECT_FALSE(infoBool(bundle, "SURequireSignedFeed")) << "absent";
    for (const auto& [value, on] : cases) {
        bundle.info["SURequireSignedFeed"] = value;
        EXPECT_EQ(infoBool(bundle, "SURequireSignedFeed"), on) << value.description();
    }
}

}  // namespace
}  // namespace quaymark
