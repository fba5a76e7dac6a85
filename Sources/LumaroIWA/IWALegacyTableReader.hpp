#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LumaroIWA/Bytes.hpp"
#include "LumaroIWA/Error.hpp"
#include "LumaroIWA/TSTTableReader.hpp"
#include "LumaroIWA/XMLEventParser.hpp"

namespace lumaro {

// The XML of a legacy index.xml could not be read as XML.
class IWALegacyError : public Error {
public:
    enum class Case { xmlParsingFailed };

    // `underlying` is the XML parser's description of the error, when it gave one.
    static IWALegacyError xmlParsingFailed(std::optional<std::string> underlying);

    Case kind() const { return Case::xmlParsingFailed; }
    const std::optional<std::string>& underlying() const { return underlying_; }

private:
    IWALegacyError(std::optional<std::string> underlying, std::string description);
    std::optional<std::string> underlying_;
};

// Follows a parse of a legacy index.xml that someone else runs, collecting its
// tables, so that one parse can serve every reader of the index. It makes a
// table of the cells of each data source, with the counts of the last grid,
// when the data source ends.
class IWALegacyTableCollector final : public XMLEventHandler {
public:
    void startElement(std::string_view name, const XMLAttributes& attributes) override;
    void endElement(std::string_view name) override;
    // Values come from attributes only.
    void characters(std::string_view) override {}

    // The tables completed so far, in document order.
    std::vector<TSTTable> takeTables() { return std::move(tables_); }

private:
    // Only whether each open element is a data source matters, so that is all
    // the element stack keeps.
    bool innermostIsDatasource() const { return !openIsDatasource_.empty() && openIsDatasource_.back(); }
    std::optional<TSTTable> makeTable() const;

    std::vector<TSTTable> tables_;
    std::int64_t columns_ = 0;
    std::int64_t rows_ = 0;
    std::vector<std::string> cells_;
    std::vector<bool> openIsDatasource_;
    bool inDatasource_ = false;
    bool buildingCell_ = false;
    std::string currentCellValue_;
};

// Reads the tables of a legacy index.xml: each "sf:grid" with the cells listed
// in its "sf:datasource", in document order.
struct IWALegacyTableReader {
    // Throws IWALegacyError when the XML is malformed; tables read before the
    // error are not returned.
    static std::vector<TSTTable> tables(ByteView fromIndexXML);
};

}  // namespace lumaro
