#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "LumaroIWA/Bytes.hpp"
#include "LumaroIWA/Error.hpp"

namespace lumaro {

// A ZIP file that could not be opened, or an entry of it that is too large to
// be read into memory.
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

// A ZIP entry that fails to extract (CRC mismatch, damaged data, a method the
// reader does not support). The description names the entry and carries
// libzip's text, e.g. "Could not extract the entry Index/Document.iwa from
// the document archive: CRC error".
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

        bool operator==(const Entry&) const = default;
    };

    static constexpr std::size_t kExtractionBufferSize = 16384;
    // Entries are read whole into memory; one that declares more than this
    // many uncompressed bytes is refused with IWAContainerError.
    static constexpr std::uint64_t kMaximumEntrySize = 1ull << 30;

    // Every file whose path starts with `prefix` and ends with `suffix`.
    // A directory is enumerated recursively (a file is listed as prefix +
    // its own name, sorted by path); when that finds nothing and the
    // directory holds "{prefix without its trailing /}.zip", that ZIP is
    // listed instead. Anything else is read as a ZIP file, in archive order,
    // directory entries left out. Throws IWAContainerError when the ZIP
    // cannot be opened and ZipExtractionError when a kept entry fails to
    // extract.
    static std::vector<Entry> entries(const std::filesystem::path& location, const std::string& prefix,
                                      const std::string& suffix);
    // One file by its exact path; absent on any failure. Never throws.
    static std::optional<Bytes> data(const std::filesystem::path& location, const std::string& named);
    static bool isDirectory(const std::filesystem::path& location);

    // --- A package wrapped in one top folder of a ZIP file ------------------
    // Pages for iCloud saves a document as a ZIP whose every entry sits under
    // one folder ("Name.pages/Index.zip", "Name.pages/Data/..."). A reader
    // that finds no document at the root of a ZIP asks for that folder and
    // then reads the package inside it with the two operations below.

    // The name of the one folder (without a trailing "/") under which every
    // entry of the ZIP file at `location` sits, e.g. "Project Proposal.pages".
    // Absent when the location is a directory, is not a ZIP that can be
    // opened, has no entries, or has an entry at its root or under another
    // folder. Never throws.
    static std::optional<std::string> topFolder(const std::filesystem::path& location);

    // Like entries(), reading the package inside `folder` of the ZIP file at
    // `location`: the entries under "{folder}/{prefix}" with the suffix; when
    // there are none and the folder holds "{prefix without its trailing
    // /}.zip", that inner ZIP (read from memory) is listed instead. Paths are
    // returned relative to the folder (Index/Document.iwa). Throws like
    // entries().
    static std::vector<Entry> entriesInFolder(const std::filesystem::path& location, const std::string& folder,
                                              const std::string& prefix, const std::string& suffix);
    // Like data(), for the file "{folder}/{named}" of the ZIP file at
    // `location`. Never throws.
    static std::optional<Bytes> dataInFolder(const std::filesystem::path& location, const std::string& folder,
                                             const std::string& named);
};

}  // namespace lumaro
