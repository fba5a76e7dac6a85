#pragma once

#include <optional>
#include <string>
#include <vector>

#include "LumaroIWA/Bytes.hpp"
#include "LumaroIWA/Error.hpp"
#include "LumaroIWA/TSTTableReader.hpp"

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

// Reads the tables of a legacy index.xml: each "sf:grid" with the cells listed
// in its "sf:datasource", in document order.
struct IWALegacyTableReader {
    // Throws IWALegacyError when the XML is malformed; tables read before the
    // error are not returned.
    static std::vector<TSTTable> tables(ByteView fromIndexXML);
};

}  // namespace lumaro
