#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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

private:
    std::filesystem::path url_;
    PagesDocument document_;
};

}  // namespace lumaro
