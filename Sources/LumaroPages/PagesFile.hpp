#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "LumaroIWA/Bytes.hpp"
#include "LumaroIWA/Error.hpp"
#include "LumaroPages/PagesDocument.hpp"

namespace lumaro {

// The one error type of the reading side. Container failures are not wrapped:
// they reach the caller as the container's own errors.
class PagesFileError : public Error {
public:
    enum class Case { fileNotFound, unreadableArchive, notAnIWorkDocument, legacyGzipUnsupported, legacyXMLParsingFailed };

    static PagesFileError fileNotFound(const std::filesystem::path& url);
    static PagesFileError unreadableArchive(const std::filesystem::path& url, std::optional<std::string> underlying);
    static PagesFileError notAnIWorkDocument(const std::filesystem::path& url);
    static PagesFileError legacyGzipUnsupported(const std::filesystem::path& url);
    static PagesFileError legacyXMLParsingFailed(std::optional<std::string> underlying);

    Case kind() const { return kind_; }
    const std::optional<std::filesystem::path>& url() const { return url_; }
    const std::optional<std::string>& underlying() const { return underlying_; }

private:
    PagesFileError(Case kind, std::optional<std::filesystem::path> url, std::optional<std::string> underlying,
                   std::string description);
    Case kind_;
    std::optional<std::filesystem::path> url_;
    std::optional<std::string> underlying_;
};

// An opened Pages document, read whole when it is opened: a ZIP file or a
// package directory, in the IWA format or the older index.xml format.
class PagesFile {
public:
    // Throws PagesFileError, the container's errors, or file-system errors;
    // no PagesFile exists when reading fails.
    explicit PagesFile(std::filesystem::path url);

    const std::filesystem::path& url() const { return url_; }
    const PagesDocument& document() const { return document_; }

    std::vector<std::string> plainTextParagraphs() const { return document_.plainTextParagraphs(); }
    std::string plainText() const { return document_.plainText(); }
    std::string markdown() const { return document_.markdown(); }

    // Writes the document's images into `destination` (created if needed; the
    // current directory when unset) and returns the files written, in order:
    // the catalogued images under their reference names, or, with
    // `includingThumbnailsAndAssets`, every image under Data/ under its stored
    // name. Existing files are never replaced: a taken name gets a numbered
    // variant (name-1.ext, name-2.ext, ...). Throws PagesFileError::fileNotFound
    // when the document is gone, the container's errors, and
    // std::filesystem::filesystem_error when a directory or file cannot be
    // written; files written before a failure stay.
    std::vector<std::filesystem::path> extractImages(const std::optional<std::filesystem::path>& destination = std::nullopt,
                                                     bool includingThumbnailsAndAssets = false) const;

private:
    // The document's Data/ files by their last path component; a later entry
    // of the same name replaces an earlier one.
    std::map<std::string, Bytes> mediaDataByFileName() const;
    // directory/name, or the first of directory/base-1.ext, base-2.ext, ...
    // at which nothing exists.
    static std::filesystem::path uniqueDestinationURL(const std::string& name, const std::filesystem::path& directory);

    std::filesystem::path url_;
    PagesDocument document_;
};

}  // namespace lumaro
