// Checking an update archive's Ed25519 signature against the application's public key.
#pragma once

#include <string>
#include <string_view>

#include "Result.h"

namespace quaymark {

// Succeeds when the signature of `data` is good; refused with one line saying why: no key,
// no signature, either not valid base64 of the right length, or a signature that does not
// match. Both texts are base64: the key of its raw 32 bytes, the signature of its 64 bytes.
Result<void> checkSignature(std::string_view data, std::string_view signatureBase64,
                            std::string_view publicKeyBase64);

// As checkSignature for the contents of the file at `path`, also refused when it cannot be
// read. The file is mapped, never read into the heap, and the pages already checked are let
// go as the check runs, so that a large archive costs a few megabytes of memory at a time.
Result<void> checkFileSignature(const std::string& path, std::string_view signatureBase64,
                                std::string_view publicKeyBase64);

}  // namespace quaymark
