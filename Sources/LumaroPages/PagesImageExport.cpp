// Writing a document's images into a directory without ever replacing a file.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <system_error>

#include "LumaroIWA/IWAContainer.hpp"
#include "LumaroPages/PagesFile.hpp"
#include "LumaroPages/PagesImageCatalog.hpp"

namespace fs = std::filesystem;

namespace lumaro {

namespace {

constexpr const char* kDataPrefix = "Data/";
constexpr const char* kTemporaryNamePattern = ".kelvane-image-XXXXXX";
constexpr mode_t kCreatedFileMode = 0666;

[[noreturn]] void throwFileSystemError(const std::string& what, const fs::path& path, int code) {
    throw fs::filesystem_error(what, path, std::error_code(code, std::system_category()));
}

std::string asciiLowercased(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string lastPathComponent(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name taken from the document becomes one file inside the target
// directory, so it must be a single, ordinary path component.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// Thumbnails, preset fills and list bullets are stored beside the images of
// the text; only a request for everything exports them.
bool isChromeImage(const std::string& storedName) {
    if (asciiLowercased(storedName).find("-small") != std::string::npos) return true;
    const std::string logical = asciiLowercased(PagesImageCatalog::logicalName(storedName));
    return logical.starts_with("presetimagefill") || logical.find("bullet") != std::string::npos;
}

// The Data/ files of the document. A ZIP saved for iCloud keeps the whole
// package under one top folder; its files are read from there, as the reader
// does for the rest of the document.
std::vector<IWAContainer::Entry> dataEntries(const fs::path& url) {
    std::vector<IWAContainer::Entry> entries = IWAContainer::entries(url, kDataPrefix, "");
    if (!entries.empty()) return entries;
    if (const auto folder = IWAContainer::topFolder(url))
        return IWAContainer::entriesInFolder(url, *folder, kDataPrefix, "");
    return entries;
}

fs::path targetDirectory(const std::optional<fs::path>& destination) {
    const fs::path directory = destination ? *destination : fs::current_path();
    fs::create_directories(directory);
    if (!fs::is_directory(directory)) throwFileSystemError("Could not create the image directory", directory, ENOTDIR);
    return directory;
}

// A file made with an exclusive create in the target directory; removed on
// destruction unless it has been given its final name.
class TemporaryImageFile {
public:
    explicit TemporaryImageFile(const fs::path& directory) {
        std::string pattern = (directory / kTemporaryNamePattern).string();
        descriptor_ = mkstemp(pattern.data());
        if (descriptor_ < 0) throwFileSystemError("Could not create a file for an image", directory, errno);
        path_ = pattern;
    }
    ~TemporaryImageFile() {
        if (descriptor_ >= 0) close(descriptor_);
        if (!path_.empty()) unlink(path_.c_str());
    }
    TemporaryImageFile(const TemporaryImageFile&) = delete;
    TemporaryImageFile& operator=(const TemporaryImageFile&) = delete;

    const std::string& path() const { return path_; }

    // Writes everything, sets the usual permissions and flushes to disk.
    void writeWhole(ByteView bytes) {
        const mode_t mask = umask(0);
        umask(mask);
        if (fchmod(descriptor_, kCreatedFileMode & ~mask) != 0) fail(errno);
        for (std::size_t written = 0; written < bytes.size();) {
            const ssize_t count = write(descriptor_, bytes.data() + written, bytes.size() - written);
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) fail(count < 0 ? errno : EIO);
            written += static_cast<std::size_t>(count);
        }
        if (fsync(descriptor_) != 0) fail(errno);
        const int closed = close(descriptor_);
        descriptor_ = -1;
        if (closed != 0) fail(errno);
    }

    // Gives the file the name `target` unless something already stands
    // there. Returns false, leaving both untouched, when the name is taken.
    bool claim(const fs::path& target) {
        if (link(path_.c_str(), target.c_str()) == 0) {
            unlink(path_.c_str());
            path_.clear();
            return true;
        }
        if (errno == EEXIST) return false;
        // File systems without hard links may still offer a rename that
        // refuses to replace.
        if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
            throwFileSystemError("Could not write an image", target, errno);
        if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            path_.clear();
            return true;
        }
        if (errno == EEXIST) return false;
        throwFileSystemError("Could not write an image", target, errno);
    }

private:
    [[noreturn]] void fail(int code) const { throwFileSystemError("Could not write an image", path_, code); }

    int descriptor_ = -1;
    std::string path_;
};

}  // namespace

std::map<std::string, Bytes> PagesFile::mediaDataByFileName() const {
    std::map<std::string, Bytes> media;
    for (IWAContainer::Entry& entry : dataEntries(url_))
        media.insert_or_assign(lastPathComponent(entry.path), std::move(entry.data));
    return media;
}

fs::path PagesFile::uniqueDestinationURL(const std::string& name, const fs::path& directory) {
    const auto takenPath = [](const fs::path& candidate) {
        std::error_code ignored;
        // A dangling symbolic link also occupies the name.
        return fs::exists(fs::symlink_status(candidate, ignored));
    };
    fs::path candidate = directory / name;
    if (!takenPath(candidate)) return candidate;
    const auto dot = name.rfind('.');
    const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (std::uint64_t n = 1;; ++n) {
        std::string numbered = base + "-" + std::to_string(n);
        if (!extension.empty()) numbered += "." + extension;
        candidate = directory / numbered;
        if (!takenPath(candidate)) return candidate;
    }
}

std::vector<fs::path> PagesFile::extractImages(const std::optional<fs::path>& destination,
                                               bool includingThumbnailsAndAssets) const {
    std::error_code ignored;
    if (!fs::exists(url_, ignored)) throw PagesFileError::fileNotFound(url_);
    const fs::path directory = targetDirectory(destination);

    std::vector<fs::path> written;
    // The free name is looked for again whenever another writer takes it
    // between the look-up and the exclusive create.
    const auto write = [&](const std::string& name, ByteView bytes) {
        if (!isPlainFileName(name)) return;
        TemporaryImageFile temporary(directory);
        temporary.writeWhole(bytes);
        for (;;) {
            const fs::path target = uniqueDestinationURL(name, directory);
            if (temporary.claim(target)) {
                written.push_back(target);
                return;
            }
        }
    };

    if (!includingThumbnailsAndAssets && !document_.imageAssets.empty()) {
        const std::map<std::string, Bytes> media = mediaDataByFileName();
        for (const PagesDocument::ImageAsset& asset : document_.imageAssets) {
            const auto found = media.find(asset.dataFileName);
            if (found != media.end()) write(asset.referenceName, found->second);
        }
        return written;
    }

    for (const IWAContainer::Entry& entry : dataEntries(url_)) {
        const std::string storedName = lastPathComponent(entry.path);
        if (!PagesImageCatalog::isImageName(storedName)) continue;
        if (includingThumbnailsAndAssets) {
            write(storedName, entry.data);
        } else if (!isChromeImage(storedName)) {
            write(PagesImageCatalog::logicalName(storedName), entry.data);
        }
    }
    return written;
}

}  // namespace lumaro
