#include "ArchiveUnpacker.h"

#include <archive.h>
#include <archive_entry.h>

#include <map>
#include <memory>
#include <vector>

namespace quaymark {
namespace {

using ReadArchive = std::unique_ptr<archive, decltype(&archive_read_free)>;
using WriteArchive = std::unique_ptr<archive, decltype(&archive_write_free)>;

enum class Kind { File, Folder, Link, HardLink };

struct Entry {
    std::string path;  // normalised: components joined by '/', no "." or empty ones
    Kind kind = Kind::File;
    std::string linkTarget;
};

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::string part;
    for (const char c : text + "/") {
        if (c != '/') {
            part += c;
        } else if (!part.empty()) {
            parts.push_back(std::move(part));
            part.clear();
        }
    }
    return parts;
}

std::string join(const std::vector<std::string>& parts, std::size_t count) {
    std::string path;
    for (std::size_t i = 0; i < count; ++i)
        path += (i == 0 ? "" : "/") + parts[i];
    return path;
}

// The name with "." parts dropped; nothing when it is absolute, empty or has "..".
std::optional<std::string> normalisedName(const char* name) {
    if (name == nullptr || name[0] == '/')
        return std::nullopt;
    std::vector<std::string> parts;
    for (std::string& part : split(name)) {
        if (part == "..")
            return std::nullopt;
        if (part != ".")
            parts.push_back(std::move(part));
    }
    if (parts.empty())
        return std::nullopt;
    return join(parts, parts.size());
}

// A symbolic link stays inside the bundle (the top-level folder it is in) when its target is
// relative and climbs ("..") only at its start, no higher than the link's own folder is deep
// below the bundle: a link may name the bundle, never its parent. A ".." after a named part is
// refused: when that part is itself a link, the lexical answer is not where the link really
// leads.
bool linkStaysInside(const std::string& linkPath, const std::string& target) {
    const std::vector<std::string> linkParts = split(linkPath);
    if (target.empty() || target[0] == '/' || linkParts.size() < 2)
        return false;
    std::size_t depth = linkParts.size() - 2;
    bool climbing = true;
    for (const std::string& part : split(target)) {
        if (part == "..") {
            if (!climbing || depth == 0)
                return false;
            --depth;
        } else if (part != ".") {
            climbing = false;
        }
    }
    return true;
}

std::string archiveError(archive* handle) {
    const char* text = archive_error_string(handle);
    return text != nullptr ? text : "unknown error";
}

// Nothing, with the reason in `error`, when the file is not a zip or tar.xz archive, or too
// damaged or truncated for its beginning to be read.
ReadArchive openForReading(const std::string& path, std::string& error) {
    ReadArchive reader(archive_read_new(), &archive_read_free);
    archive_read_support_format_zip(reader.get());
    archive_read_support_format_tar(reader.get());
    archive_read_support_filter_xz(reader.get());
    if (archive_read_open_filename(reader.get(), path.c_str(), 64 * 1024) != ARCHIVE_OK) {
        error = archiveError(reader.get());
        return ReadArchive(nullptr, &archive_read_free);
    }
    return reader;
}

// One pass over an archive that reads every header and every byte, keeping what the checks of
// later entries need: the kind of each name seen and the bytes so far. Each step succeeds or
// gives the reason the archive is refused.
class Survey {
public:
    Survey(archive* reader, const std::string& topLevelName, const UnpackLimits& limits,
           const std::atomic<bool>* cancelled)
        : _reader(reader), _topLevelName(topLevelName), _limits(limits), _cancelled(cancelled) {}

    Result<void> run(std::vector<Entry>& entries) {
        archive_entry* header = nullptr;
        for (;;) {
            const int status = archive_read_next_header(_reader, &header);
            if (status == ARCHIVE_EOF)
                break;
            if (status != ARCHIVE_OK)
                return Result<void>::failure("The update archive is damaged or truncated: " +
                                             archiveError(_reader));
            if (entries.size() >= _limits.maximumEntries)
                return Result<void>::failure("The update archive holds more than " +
                                             std::to_string(_limits.maximumEntries) + " entries.");
            Entry entry;
            if (Result<void> refusal = readHeader(header, entry); !refusal)
                return refusal;
            if (Result<void> refusal = readContents(header, entry); !refusal)
                return refusal;
            entries.push_back(std::move(entry));
        }
        if (entries.empty())
            return Result<void>::failure("The update archive is empty.");
        return reachedThroughFolders(entries);
    }

private:
    Result<void> readHeader(archive_entry* header, Entry& entry) {
        const char* rawName = archive_entry_pathname(header);
        const std::optional<std::string> name = normalisedName(rawName);
        if (!name)
            return Result<void>::failure(
                "The update archive holds an absolute name or one with \"..\": \"" +
                std::string(rawName ? rawName : "") + "\".");
        entry = Entry{*name, Kind::File, {}};
        const char* hardLink = archive_entry_hardlink(header);
        if (Result<void> refusal =
                hardLink ? readHardLink(hardLink, entry) : readKind(header, entry);
            !refusal)
            return refusal;
        const std::vector<std::string> parts = split(entry.path);
        if (parts.front() != _topLevelName || (parts.size() == 1 && entry.kind != Kind::Folder))
            return Result<void>::failure(
                "The update archive must hold the folder \"" + _topLevelName +
                "\" and nothing beside it, but it holds \"" + entry.path + "\".");
        if (!_kinds.emplace(entry.path, entry.kind).second)
            return Result<void>::failure("The update archive names \"" + entry.path + "\" twice.");
        return Result<void>::success();
    }

    // Only a file unpacked before may be linked to, and every entry before this one lay
    // inside the bundle: a hard link cannot reach out of it.
    Result<void> readHardLink(const char* hardLink, Entry& entry) {
        const std::optional<std::string> target = normalisedName(hardLink);
        if (!target || _kinds.count(*target) == 0 || _kinds[*target] != Kind::File)
            return Result<void>::failure(
                "The update archive holds a hard link to something it did not unpack "
                "before: \"" +
                entry.path + "\".");
        entry.kind = Kind::HardLink;
        entry.linkTarget = *target;
        return Result<void>::success();
    }

    static Result<void> readKind(archive_entry* header, Entry& entry) {
        switch (archive_entry_filetype(header)) {
            case AE_IFREG:
                entry.kind = Kind::File;
                return Result<void>::success();
            case AE_IFDIR:
                entry.kind = Kind::Folder;
                return Result<void>::success();
            case AE_IFLNK: {
                const char* target = archive_entry_symlink(header);
                entry.kind = Kind::Link;
                entry.linkTarget = target != nullptr ? target : "";
                if (!linkStaysInside(entry.path, entry.linkTarget))
                    return Result<void>::failure(
                        "The update archive holds a link that points outside: \"" + entry.path +
                        "\" -> \"" + entry.linkTarget + "\".");
                return Result<void>::success();
            }
            default:
                return Result<void>::failure(
                    "The update archive holds a device or other special file: \"" + entry.path +
                    "\".");
        }
    }

    Result<void> readContents(archive_entry* header, const Entry& entry) {
        std::uint64_t entryBytes = 0;
        char buffer[64 * 1024];
        for (;;) {
            const la_ssize_t count = archive_read_data(_reader, buffer, sizeof buffer);
            if (count == 0)
                break;
            if (count < 0)
                return Result<void>::failure("The update archive is damaged or truncated: " +
                                             archiveError(_reader));
            if (_cancelled != nullptr && _cancelled->load())
                return Result<void>::failure(kUpdateCancelled);
            entryBytes += static_cast<std::uint64_t>(count);
            _totalBytes += static_cast<std::uint64_t>(count);
            if (_totalBytes > _limits.maximumBytes)
                return Result<void>::failure("The update archive unpacks to more than " +
                                             std::to_string(_limits.maximumBytes) + " bytes.");
        }
        if (archive_entry_size_is_set(header) && entry.kind == Kind::File &&
            entryBytes != static_cast<std::uint64_t>(archive_entry_size(header)))
            return Result<void>::failure("The update archive is truncated in \"" + entry.path +
                                         "\".");
        return Result<void>::success();
    }

    // Checked once all names are known: a link may come after the entries beneath it.
    Result<void> reachedThroughFolders(const std::vector<Entry>& entries) const {
        for (const Entry& entry : entries) {
            const std::vector<std::string> parts = split(entry.path);
            for (std::size_t count = 1; count < parts.size(); ++count) {
                const auto found = _kinds.find(join(parts, count));
                if (found != _kinds.end() && found->second != Kind::Folder)
                    return Result<void>::failure("The update archive reaches \"" + entry.path +
                                                 "\" through something that is not a folder.");
            }
        }
        return Result<void>::success();
    }

    archive* _reader;
    const std::string& _topLevelName;
    const UnpackLimits& _limits;
    const std::atomic<bool>* _cancelled;
    std::map<std::string, Kind> _kinds;
    std::uint64_t _totalBytes = 0;
};

// Reads every header and every byte, so that a truncated or corrupt archive is refused
// before anything is written; the entries in archive order.
Result<void> survey(const std::string& archivePath, const std::string& topLevelName,
                    const UnpackLimits& limits, const std::atomic<bool>* cancelled,
                    std::vector<Entry>& entries) {
    std::string error;
    ReadArchive reader = openForReading(archivePath, error);
    if (!reader)
        return Result<void>::failure(
            "The update archive is not a zip or tar.xz archive, or is damaged or truncated: " +
            error);
    return Survey(reader.get(), topLevelName, limits, cancelled).run(entries);
}

}  // namespace

Result<void> unpackArchive(const std::string& archivePath, const std::string& destination,
                           const std::string& topLevelName, const UnpackLimits& limits,
                           const std::atomic<bool>* cancelled) {
    std::vector<Entry> entries;
    if (Result<void> surveyed = survey(archivePath, topLevelName, limits, cancelled, entries);
        !surveyed)
        return surveyed;

    std::string error;
    ReadArchive reader = openForReading(archivePath, error);
    if (!reader)
        return Result<void>::failure("The update archive could not be opened again: " + error);
    WriteArchive writer(archive_write_disk_new(), &archive_write_free);
    // Our own checks above come first; these are libarchive's, kept as a second line. Owner
    // and set-id bits are never taken from the archive.
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME |
                                                     ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                     ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    const std::string prefix = destination + "/";
    archive_entry* header = nullptr;
    for (const Entry& entry : entries) {
        if (cancelled != nullptr && cancelled->load())
            return Result<void>::failure(kUpdateCancelled);
        if (archive_read_next_header(reader.get(), &header) != ARCHIVE_OK)
            return Result<void>::failure("The update archive changed while it was unpacked: " +
                                         archiveError(reader.get()));
        archive_entry_set_pathname(header, (prefix + entry.path).c_str());
        if (entry.kind == Kind::HardLink)
            archive_entry_set_hardlink(header, (prefix + entry.linkTarget).c_str());
        archive_entry_set_perm(header, archive_entry_perm(header) & 0777);
        if (archive_write_header(writer.get(), header) != ARCHIVE_OK)
            return Result<void>::failure("\"" + entry.path +
                                         "\" could not be unpacked: " + archiveError(writer.get()));
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        int status = ARCHIVE_OK;
        while ((status = archive_read_data_block(reader.get(), &block, &size, &offset)) ==
               ARCHIVE_OK) {
            if (cancelled != nullptr && cancelled->load())
                return Result<void>::failure(kUpdateCancelled);
            if (archive_write_data_block(writer.get(), block, size, offset) != ARCHIVE_OK)
                return Result<void>::failure(
                    "\"" + entry.path + "\" could not be written: " + archiveError(writer.get()));
        }
        if (status != ARCHIVE_EOF)
            return Result<void>::failure("The update archive could not be read: " +
                                         archiveError(reader.get()));
        if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK)
            return Result<void>::failure("\"" + entry.path +
                                         "\" could not be finished: " + archiveError(writer.get()));
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return Result<void>::failure("The unpacked update could not be finished: " +
                                     archiveError(writer.get()));
    return Result<void>::success();
}

}  // namespace quaymark
