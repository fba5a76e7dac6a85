#include "LumaroPages/PagesFile.hpp"

#include "LumaroPages/PagesParser.hpp"

namespace fs = std::filesystem;

namespace lumaro {

namespace {

std::string withUnderlying(std::string description, const std::optional<std::string>& underlying) {
    if (underlying) description += ": " + *underlying;
    return description;
}

}  // namespace

PagesFileError::PagesFileError(Case kind, std::optional<fs::path> url, std::optional<std::string> underlying,
                               std::string description)
    : Error(std::move(description)), kind_(kind), url_(std::move(url)), underlying_(std::move(underlying)) {}

PagesFileError PagesFileError::fileNotFound(const fs::path& url) {
    return PagesFileError(Case::fileNotFound, url, std::nullopt, "Pages file not found at " + url.string());
}

PagesFileError PagesFileError::unreadableArchive(const fs::path& url, std::optional<std::string> underlying) {
    std::string description = withUnderlying("Unable to open Pages archive at " + url.string(), underlying);
    return PagesFileError(Case::unreadableArchive, url, std::move(underlying), std::move(description));
}

PagesFileError PagesFileError::notAnIWorkDocument(const fs::path& url) {
    return PagesFileError(Case::notAnIWorkDocument, url, std::nullopt,
                          "Not a Pages document (no Index/*.iwa objects and no index.xml) at " + url.string());
}

PagesFileError PagesFileError::legacyGzipUnsupported(const fs::path& url) {
    return PagesFileError(Case::legacyGzipUnsupported, url, std::nullopt,
                          "Pages document at " + url.string() +
                              " stores a gzipped legacy index (index.xml.gz), which is not supported.");
}

PagesFileError PagesFileError::legacyXMLParsingFailed(std::optional<std::string> underlying) {
    std::string description = withUnderlying("Failed to parse legacy Pages index.xml", underlying);
    return PagesFileError(Case::legacyXMLParsingFailed, std::nullopt, std::move(underlying), std::move(description));
}

PagesFile::PagesFile(fs::path url) : url_(std::move(url)) {
    PagesParser parser;
    document_ = parser.readDocument(url_);
}

}  // namespace lumaro
