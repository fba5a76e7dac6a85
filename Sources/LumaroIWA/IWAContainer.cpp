#include "LumaroIWA/IWAContainer.hpp"

#include <zip.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace lumaro {

namespace {

// The last path component as a file browser shows it: "a/b.pages/" names
// b.pages, not an empty string.
std::string lastPathComponent(const fs::path& location) {
    fs::path name = location.filename();
    if (name.empty()) name = location.parent_path().filename();
    return name.string();
}

std::string describe(std::optional<std::string> underlying, const fs::path& location) {
    std::string text = "Could not read the document archive at " + lastPathComponent(location);
    if (underlying) text += ": " + *underlying;
    return text;
}

std::string errorCodeText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

[[noreturn]] void throwExtractionError(const std::string& entry, const std::string& reason) {
    throw ZipExtractionError("Could not extract the entry " + entry + " from the document archive: " + reason);
}

// "Index/" is kept as Index.zip beside the other package files.
std::string zipNameForPrefix(const std::string& prefix) {
    const std::string stem = prefix.ends_with('/') ? prefix.substr(0, prefix.size() - 1) : prefix;
    return stem + ".zip";
}

bool isListed(const std::string& path, const std::string& prefix, const std::string& suffix) {
    return path.starts_with(prefix) && path.ends_with(suffix) && !path.ends_with('/');
}

// A ZIP archive opened read-only through libzip, from a file or from bytes in
// memory. Errors name `location`, the document the user gave.
class ZipArchive {
public:
    static ZipArchive openFile(const fs::path& location) {
        int code = ZIP_ER_OK;
        zip_t* archive = zip_open(location.c_str(), ZIP_RDONLY, &code);
        if (!archive) throw IWAContainerError(location, errorCodeText(code));
        return ZipArchive(archive, location, nullptr);
    }

    static ZipArchive openMemory(Bytes contents, const fs::path& location) {
        // libzip reads from the buffer for as long as the archive is open, so
        // the bytes move to the heap where their address stays put.
        auto backing = std::make_unique<Bytes>(std::move(contents));
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(backing->data(), backing->size(), 0, &error);
        zip_t* archive = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
        if (!archive) {
            if (source) zip_source_free(source);
            std::string text = zip_error_strerror(&error);
            zip_error_fini(&error);
            throw IWAContainerError(location, text);
        }
        zip_error_fini(&error);
        return ZipArchive(archive, location, std::move(backing));
    }

    ZipArchive(ZipArchive&& other) noexcept
        : archive_(std::exchange(other.archive_, nullptr)),
          location_(std::move(other.location_)),
          backing_(std::move(other.backing_)) {}
    ZipArchive& operator=(ZipArchive&&) = delete;
    ~ZipArchive() {
        if (archive_) zip_discard(archive_);
    }

    std::uint64_t count() const {
        const zip_int64_t entries = zip_get_num_entries(archive_, 0);
        return entries > 0 ? static_cast<std::uint64_t>(entries) : 0;
    }

    // Absent for an entry whose name libzip cannot give.
    std::optional<std::string> name(std::uint64_t index) const {
        const char* text = zip_get_name(archive_, index, 0);
        if (!text) return std::nullopt;
        return std::string(text);
    }

    std::optional<std::uint64_t> locate(const std::string& path) const {
        const zip_int64_t index = zip_name_locate(archive_, path.c_str(), 0);
        if (index < 0) return std::nullopt;
        return static_cast<std::uint64_t>(index);
    }

    // The whole content, inflated and CRC-checked by libzip. The size the
    // headers declare bounds the allocation, and data beyond it is damage.
    Bytes extract(std::uint64_t index, const std::string& path) const {
        const std::uint64_t declared = declaredSize(index, path);
        std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(zip_fopen_index(archive_, index, 0), &zip_fclose);
        if (!file) throwExtractionError(path, zip_error_strerror(zip_get_error(archive_)));

        Bytes contents;
        contents.reserve(static_cast<std::size_t>(declared));
        std::uint8_t buffer[IWAContainer::kExtractionBufferSize];
        for (;;) {
            const zip_int64_t read = zip_fread(file.get(), buffer, sizeof buffer);
            if (read < 0) throwExtractionError(path, zip_error_strerror(zip_file_get_error(file.get())));
            if (read == 0) break;
            if (static_cast<std::uint64_t>(read) > declared - contents.size())
                throwExtractionError(path, "the entry holds more data than its header declares");
            contents.insert(contents.end(), buffer, buffer + read);
        }
        if (contents.size() != declared) throwExtractionError(path, "the entry holds less data than its header declares");
        return contents;
    }

private:
    ZipArchive(zip_t* archive, fs::path location, std::unique_ptr<Bytes> backing)
        : archive_(archive), location_(std::move(location)), backing_(std::move(backing)) {}

    std::uint64_t declaredSize(std::uint64_t index, const std::string& path) const {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive_, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE))
            throwExtractionError(path, zip_error_strerror(zip_get_error(archive_)));
        if (stat.size > IWAContainer::kMaximumEntrySize)
            throw IWAContainerError(location_, "the entry " + path + " declares " + std::to_string(stat.size) +
                                                   " bytes, more than the " +
                                                   std::to_string(IWAContainer::kMaximumEntrySize) +
                                                   " bytes that can be read into memory");
        return stat.size;
    }

    zip_t* archive_;
    fs::path location_;
    std::unique_ptr<Bytes> backing_;
};

// Every entry whose path starts with `archivePrefix`, ends with the suffix
// and is not a directory, in archive order; `stripped` leading characters are
// removed from the listed paths.
std::vector<IWAContainer::Entry> archiveEntries(const ZipArchive& archive, const std::string& archivePrefix,
                                                const std::string& suffix, std::size_t stripped = 0) {
    std::vector<IWAContainer::Entry> entries;
    for (std::uint64_t index = 0; index < archive.count(); ++index) {
        const auto path = archive.name(index);
        if (!path || !isListed(*path, archivePrefix, suffix)) continue;
        entries.push_back({path->substr(stripped), archive.extract(index, *path)});
    }
    return entries;
}

std::optional<Bytes> readWholeFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    Bytes contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return contents;
}

std::vector<IWAContainer::Entry> directoryEntries(const fs::path& location, const std::string& prefix,
                                                  const std::string& suffix) {
    std::vector<IWAContainer::Entry> entries;
    std::error_code error;
    fs::recursive_directory_iterator walk(location / prefix, fs::directory_options::skip_permission_denied, error);
    if (error) return entries;
    for (const fs::recursive_directory_iterator end; walk != end; walk.increment(error)) {
        if (error) break;
        // The item itself, not a link's target: a symbolic link is not a
        // regular file of the package.
        std::error_code statusError;
        const auto status = walk->symlink_status(statusError);
        if (statusError || !fs::is_regular_file(status)) continue;
        const std::string name = walk->path().filename().string();
        if (!name.ends_with(suffix)) continue;
        auto contents = readWholeFile(walk->path());
        if (!contents) continue;
        entries.push_back({prefix + name, std::move(*contents)});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const IWAContainer::Entry& a, const IWAContainer::Entry& b) { return a.path < b.path; });
    return entries;
}

}  // namespace

IWAContainerError::IWAContainerError(fs::path location, std::optional<std::string> underlying)
    : Error(describe(underlying, location)), location_(std::move(location)), underlying_(std::move(underlying)) {}

std::vector<IWAContainer::Entry> IWAContainer::entries(const fs::path& location, const std::string& prefix,
                                                       const std::string& suffix) {
    if (!isDirectory(location)) return archiveEntries(ZipArchive::openFile(location), prefix, suffix);

    auto loose = directoryEntries(location, prefix, suffix);
    if (!loose.empty()) return loose;
    const fs::path packedIndex = location / zipNameForPrefix(prefix);
    std::error_code error;
    if (!fs::exists(packedIndex, error)) return {};
    return archiveEntries(ZipArchive::openFile(packedIndex), prefix, suffix);
}

std::optional<Bytes> IWAContainer::data(const fs::path& location, const std::string& named) {
    if (isDirectory(location)) {
        const fs::path file = location / named;
        std::error_code error;
        if (!fs::exists(file, error) || fs::is_directory(file, error)) return std::nullopt;
        return readWholeFile(file);
    }
    try {
        const ZipArchive archive = ZipArchive::openFile(location);
        const auto index = archive.locate(named);
        if (!index) return std::nullopt;
        return archive.extract(*index, named);
    } catch (const Error&) {
        return std::nullopt;
    }
}

bool IWAContainer::isDirectory(const fs::path& location) {
    std::error_code error;
    return fs::is_directory(location, error);
}

std::optional<std::string> IWAContainer::topFolder(const fs::path& location) {
    if (isDirectory(location)) return std::nullopt;
    try {
        const ZipArchive archive = ZipArchive::openFile(location);
        std::optional<std::string> folder;
        for (std::uint64_t index = 0; index < archive.count(); ++index) {
            const auto path = archive.name(index);
            if (!path) return std::nullopt;
            const auto slash = path->find('/');
            if (slash == 0 || slash == std::string::npos) return std::nullopt;
            const std::string first = path->substr(0, slash);
            if (folder && *folder != first) return std::nullopt;
            folder = first;
        }
        return folder;
    } catch (const Error&) {
        return std::nullopt;
    }
}

std::vector<IWAContainer::Entry> IWAContainer::entriesInFolder(const fs::path& location, const std::string& folder,
                                                               const std::string& prefix, const std::string& suffix) {
    const std::string root = folder + "/";
    const ZipArchive archive = ZipArchive::openFile(location);
    auto loose = archiveEntries(archive, root + prefix, suffix, root.size());
    if (!loose.empty()) return loose;

    const std::string packedIndexPath = root + zipNameForPrefix(prefix);
    const auto packedIndex = archive.locate(packedIndexPath);
    if (!packedIndex) return {};
    const ZipArchive inner = ZipArchive::openMemory(archive.extract(*packedIndex, packedIndexPath), location);
    return archiveEntries(inner, prefix, suffix);
}

std::optional<Bytes> IWAContainer::dataInFolder(const fs::path& location, const std::string& folder,
                                                const std::string& named) {
    try {
        const ZipArchive archive = ZipArchive::openFile(location);
        const std::string path = folder + "/" + named;
        const auto index = archive.locate(path);
        if (!index) return std::nullopt;
        return archive.extract(*index, path);
    } catch (const Error&) {
        return std::nullopt;
    }
}

}  // namespace lumaro
