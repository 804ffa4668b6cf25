// Signed feeds and release notes: the signing block the framework's tools append to a feed,
// and the checks a bundle that sets SURequireSignedFeed applies before reading either.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Result.h"

namespace quaymark {

// What a feed's signing block holds: an Ed25519 signature of everything before the block, and
// that content's length in bytes (0 when the block gives none; it only explains a mismatch).
struct FeedSigningBlock {
    std::string edSignatureBase64;
    std::uint64_t length = 0;
};

// A fetched feed split as the framework splits it: the bytes before its last signing block,
// and that block. Anything after the block's end belongs to neither.
struct SplitFeed {
    std::string_view content;
    std::optional<FeedSigningBlock> block;
};

// Without a complete block (no opening, no end, or text that is not UTF-8) the whole feed is
// its content and there is no block.
SplitFeed splitSignedFeed(std::string_view feed);

// The feed without its signing block, when the block's signature of it is good under the
// bundle's public key; otherwise why the feed is refused, as a clause ("it has no signing
// block").
Result<std::string> verifiedFeedContent(std::string_view feed, std::string_view publicKeyBase64);

// Succeeds when the signature of all the bytes of release notes fetched from their link,
// given the link's sparkle:edSignature, is good; refused with a clause ("they are not signed").
Result<void> checkReleaseNotes(std::string_view notes, std::string_view signatureBase64,
                               std::string_view publicKeyBase64);

}  // namespace quaymark
