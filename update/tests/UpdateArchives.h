// Bundles, archives, feeds, signing keys and tree pictures for the update tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quaymark::testing {

// One archive entry; `text` is a file's bytes or a link's target.
struct ArchiveEntry {
    enum Type { File, Folder, Link, HardLink, Device } type;
    std::string name;
    std::string text{};
    int mode = 0644;
    bool operator==(const ArchiveEntry&) const = default;
};
enum class ArchiveFormat { Zip, TarXz };

// The entries of a complete Quaymark.app with `fileCount` extra resource files.
std::vector<ArchiveEntry> bundleEntries(const std::string& identifier, const std::string& version,
                                        int fileCount = 2);
void writeArchive(const std::string& path, ArchiveFormat format,
                  const std::vector<ArchiveEntry>& entries);
// Writes the entries as files under `folder`.
void materialise(const std::string& folder, const std::vector<ArchiveEntry>& entries);
// Every entry under `folder` with its type, mode and content, one per line, sorted.
std::string treePicture(const std::string& folder);
std::string readFile(const std::string& path);
void writeBytes(const std::string& path, const std::string& bytes);
// A field of this process's /proc/self/status in bytes ("VmRSS", "VmHWM"); 0 when absent.
std::uint64_t statusBytes(const std::string& field);
// A feed whose one item offers `version`, from an archive that is never fetched.
std::string appcastOffering(const std::string& version);

struct SigningKey {
    SigningKey();
    ~SigningKey();
    SigningKey(const SigningKey&) = delete;
    SigningKey& operator=(const SigningKey&) = delete;
    std::string publicKeyBase64() const;
    std::string signBase64(const std::string& data) const;
    void* key;
};

// A feed's signing block as the framework's tools write it, and `document` signed by `key`
// with that block after it.
std::string signingBlock(const std::string& signatureBase64, std::size_t length);
std::string signedFeed(const std::string& document, const SigningKey& key);

}  // namespace quaymark::testing
