#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "LumaroIWA/Bytes.hpp"
#include "LumaroIWA/Error.hpp"

namespace lumaro {

// A ZIP file that could not be opened (or, for entries, read).
// Description: "Could not read the document archive at {last path component}"
// followed, when there is an underlying error, by ": {its description}".
class IWAContainerError : public Error {
public:
    enum class Case { unreadableArchive };
    IWAContainerError(std::filesystem::path location, std::optional<std::string> underlying);
    Case kind() const { return Case::unreadableArchive; }
    const std::filesystem::path& location() const { return location_; }
    const std::optional<std::string>& underlying() const { return underlying_; }

private:
    std::filesystem::path location_;
    std::optional<std::string> underlying_;
};

// A ZIP entry that fails to extract (CRC mismatch, damaged data); the
// description is the ZIP reader's own.
class ZipExtractionError : public Error {
public:
    using Error::Error;
};

// A Pages document as a ZIP file, a package directory, or a package directory
// that keeps its Index/ inside Index.zip.
struct IWAContainer {
    struct Entry {
        std::string path;  // "/"-separated path inside the document, e.g. Index/Document.iwa
        Bytes data;
    };

    static constexpr std::size_t kExtractionBufferSize = 16384;
    // Entries that declare more than this many uncompressed bytes are refused.
    static constexpr std::uint64_t kMaximumEntrySize = 1ull << 30;

    static std::vector<Entry> entries(const std::filesystem::path& location, const std::string& prefix,
                                      const std::string& suffix);
    static std::optional<Bytes> data(const std::filesystem::path& location, const std::string& named);
    static bool isDirectory(const std::filesystem::path& location);
};

}  // namespace lumaro
