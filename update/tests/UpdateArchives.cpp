#include "UpdateArchives.h"

#include <archive.h>
#include <archive_entry.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QByteArray>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quaymark::testing {
namespace fs = std::filesystem;

std::vector<ArchiveEntry> bundleEntries(const std::string& identifier, const std::string& version,
                                        int fileCount) {
    const std::string app = "Quaymark.app/", helper = app + "Contents/MacOS/QuaymarkHelper.app/";
    std::vector<ArchiveEntry> entries{
        {ArchiveEntry::Folder, app, "", 0755},
        {ArchiveEntry::Folder, app + "Contents", "", 0755},
        {ArchiveEntry::File, app + "Contents/Info.plist",
         "<?xml version=\"1.0\"?><plist "
         "version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>" +
             identifier + "</string><key>CFBundleVersion</key><string>" + version +
             "</string></dict></plist>"},
        {ArchiveEntry::Folder, app + "Contents/MacOS", "", 0755},
        {ArchiveEntry::File, app + "Contents/MacOS/Quaymark", "#!/bin/sh\n# " + version, 0755},
        {ArchiveEntry::Folder, helper, "", 0755},
        {ArchiveEntry::Folder, helper + "Contents", "", 0755},
        {ArchiveEntry::Folder, helper + "Contents/MacOS", "", 0755},
        {ArchiveEntry::File, helper + "Contents/MacOS/QuaymarkHelper", "helper " + version, 0755},
        {ArchiveEntry::Folder, app + "Contents/Resources", "", 0755},
        {ArchiveEntry::Link, app + "Contents/Current", "MacOS"},
    };
    for (int i = 0; i < fileCount; ++i)
        entries.push_back({ArchiveEntry::File, app + "Contents/Resources/r" + std::to_string(i),
                           version + std::string(200, char('a' + i % 26))});
    return entries;
}

void writeArchive(const std::string& path, ArchiveFormat format,
                  const std::vector<ArchiveEntry>& entries) {
    archive* writer = archive_write_new();
    if (format == ArchiveFormat::Zip) {
        archive_write_set_format_zip(writer);
    } else {
        archive_write_set_format_pax_restricted(writer);
        archive_write_add_filter_xz(writer);
    }
    archive_write_open_filename(writer, path.c_str());
    for (const ArchiveEntry& item : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.name.c_str());
        archive_entry_set_perm(entry, item.mode);
        // Owned by whoever runs the tests, as an archive they made themselves would be, so that
        // nothing but the unpacker's own care keeps set-id bits from being restored.
        archive_entry_set_uid(entry, getuid());
        archive_entry_set_gid(entry, getgid());
        const unsigned types[] = {AE_IFREG, AE_IFDIR, AE_IFLNK, AE_IFREG, AE_IFCHR};
        archive_entry_set_filetype(entry, types[item.type]);
        if (item.type == ArchiveEntry::File)
            archive_entry_set_size(entry, static_cast<la_int64_t>(item.text.size()));
        if (item.type == ArchiveEntry::Link)
            archive_entry_set_symlink(entry, item.text.c_str());
        if (item.type == ArchiveEntry::HardLink)
            archive_entry_set_hardlink(entry, item.text.c_str());
        archive_entry_set_rdev(entry, makedev(1, 3));
        if (archive_write_header(writer, entry) != ARCHIVE_OK)
            throw std::runtime_error(archive_error_string(writer));
        if (item.type == ArchiveEntry::File)
            archive_write_data(writer, item.text.data(), item.text.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
}

void materialise(const std::string& folder, const std::vector<ArchiveEntry>& entries) {
    for (const ArchiveEntry& item : entries) {
        const fs::path path = fs::path(folder) / item.name;
        if (item.type == ArchiveEntry::Folder)
            fs::create_directories(path);
        else if (item.type == ArchiveEntry::Link)
            fs::create_symlink(item.text, path);
        else
            std::ofstream(path, std::ios::binary) << item.text;
        if (item.type != ArchiveEntry::Link)
            fs::permissions(path, static_cast<fs::perms>(item.mode));
    }
}

std::string readFile(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::uint64_t statusBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::stoull(line.substr(field.size() + 1)) * 1024;
    return 0;
}

std::string appcastOffering(const std::string& version) {
    return "<?xml version=\"1.0\"?>\n<rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
           "<title>Quaymark</title><item><title>Version " +
           version + "</title><enclosure url=\"http://127.0.0.1:9/Quaymark-" + version +
           ".zip\" length=\"100\" type=\"application/zip\" sparkle:version=\"" + version +
           "\"/></item></channel></rss>\n";
}

std::string treePicture(const std::string& folder) {
    std::vector<std::string> lines;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        struct stat status {};
        lstat(entry.path().c_str(), &status);
        std::string line = fs::relative(entry.path(), folder).string() + " " +
                           std::to_string(status.st_mode) + " ";
        if (S_ISLNK(status.st_mode))
            line += fs::read_symlink(entry.path()).string();
        else if (S_ISREG(status.st_mode))
            line += readFile(entry.path());
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    std::string picture;
    for (const std::string& line : lines)
        picture += line + "\n";
    return picture;
}

static std::string base64(const unsigned char* bytes, std::size_t size) {
    return QByteArray(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size))
        .toBase64()
        .toStdString();
}

SigningKey::SigningKey() : key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")) {}
SigningKey::~SigningKey() {
    EVP_PKEY_free(static_cast<EVP_PKEY*>(key));
}

std::string SigningKey::publicKeyBase64() const {
    unsigned char raw[32];
    std::size_t size = sizeof raw;
    EVP_PKEY_get_raw_public_key(static_cast<EVP_PKEY*>(key), raw, &size);
    return base64(raw, size);
}

std::string SigningKey::signBase64(const std::string& data) const {
    unsigned char signature[64];
    std::size_t size = sizeof signature;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestSignInit(context, nullptr, nullptr, nullptr, static_cast<EVP_PKEY*>(key));
    EVP_DigestSign(context, signature, &size, reinterpret_cast<const unsigned char*>(data.data()),
                   data.size());
    EVP_MD_CTX_free(context);
    return base64(signature, size);
}

std::string signingBlock(const std::string& signatureBase64, std::size_t length) {
    return "<!-- sparkle-signatures:\nedSignature: " + signatureBase64 +
           "\nlength: " + std::to_string(length) + "\n-->\n";
}

std::string signedFeed(const std::string& document, const SigningKey& key) {
    return document + signingBlock(key.signBase64(document), document.size());
}

}  // namespace quaymark::testing
