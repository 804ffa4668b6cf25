#include "Signature.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

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

using Message = std::function<Result<void>(
    const std::function<int(const unsigned char*, std::size_t)>& verify)>;

// Checks the key and signature texts, then hands `message` a verification to run on the bytes
// it holds; the reason when either is refused or the bytes do not match.
Result<void> checkWithKey(std::string_view signatureBase64, std::string_view publicKeyBase64,
                          const Message& message) {
    if (publicKeyBase64.empty())
        return Result<void>::failure(
            "The application has no public key (SUPublicEDKey) to check updates with.");
    if (signatureBase64.empty())
        return Result<void>::failure("The update is not signed.");
    const std::optional<QByteArray> key = decodeBase64(publicKeyBase64, kPublicKeyBytes);
    if (!key)
        return Result<void>::failure(
            "The application's public key is not the base64 of an Ed25519 key.");
    const std::optional<QByteArray> signature = decodeBase64(signatureBase64, kSignatureBytes);
    if (!signature)
        return Result<void>::failure(
            "The update's signature is not the base64 of an Ed25519 signature.");

    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key->constData()),
                                    static_cast<std::size_t>(key->size())),
        &EVP_PKEY_free);
    if (!publicKey)
        return Result<void>::failure("The application's public key is not a usable Ed25519 key.");
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    // Ed25519 hashes internally, so no digest is named and the message goes in one piece.
    if (!context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1)
        return Result<void>::failure("The signature check could not be set up.");
    return message([&](const unsigned char* data, std::size_t size) {
        return EVP_DigestVerify(context.get(),
                                reinterpret_cast<const unsigned char*>(signature->constData()),
                                static_cast<std::size_t>(signature->size()), data, size);
    });
}

const char* const kMismatch =
    "The update's signature does not match: it was not signed with this application's key, or "
    "it was changed.";

// While it lives, drops the pages of a read-only file mapping from this process every few
// milliseconds. They stay in the page cache, so a reader that still needs one faults it back
// in at once; what stays resident is what the check reads in that time.
class MappingTrimmer {
public:
    MappingTrimmer(void* address, std::size_t length)
        : _thread([this, address, length] {
              std::unique_lock lock(_mutex);
              while (!_done) {
                  _wake.wait_for(lock, std::chrono::milliseconds(5));
                  madvise(address, length, MADV_DONTNEED);
              }
          }) {}
    ~MappingTrimmer() {
        {
            const std::lock_guard lock(_mutex);
            _done = true;
        }
        _wake.notify_one();
        _thread.join();
    }

private:
    std::mutex _mutex;
    std::condition_variable _wake;
    bool _done = false;
    std::thread _thread;
};

}  // namespace

Result<void> checkSignature(std::string_view data, std::string_view signatureBase64,
                            std::string_view publicKeyBase64) {
    return checkWithKey(
        signatureBase64, publicKeyBase64, [data](const auto& verify) -> Result<void> {
            if (verify(reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1)
                return Result<void>::failure(kMismatch);
            return Result<void>::success();
        });
}

Result<void> checkFileSignature(const std::string& path, std::string_view signatureBase64,
                                std::string_view publicKeyBase64) {
    return checkWithKey(
        signatureBase64, publicKeyBase64, [&path](const auto& verify) -> Result<void> {
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat status {};
            if (fd < 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
                const std::string reason = std::strerror(errno);
                if (fd >= 0)
                    close(fd);
                return Result<void>::failure("The downloaded update could not be read: " + reason +
                                             ".");
            }
            const auto length = static_cast<std::size_t>(status.st_size);
            if (length == 0) {
                close(fd);
                return verify(nullptr, 0) == 1 ? Result<void>::success()
                                               : Result<void>::failure(kMismatch);
            }
            void* mapped = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
            const std::string mapError = std::strerror(errno);
            close(fd);  // the mapping keeps the file
            if (mapped == MAP_FAILED)
                return Result<void>::failure(
                    "The downloaded update could not be read: " + mapError + ".");
            madvise(mapped, length, MADV_SEQUENTIAL);
            int verdict = 0;
            {
                const MappingTrimmer trimmer(mapped, length);
                verdict = verify(static_cast<const unsigned char*>(mapped), length);
            }
            munmap(mapped, length);
            if (verdict != 1)
                return Result<void>::failure(kMismatch);
            return Result<void>::success();
        });
}

}  // namespace quaymark
