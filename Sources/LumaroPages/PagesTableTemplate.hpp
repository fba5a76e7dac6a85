#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// The objects of one 5 x 4 table that every written table is copied from, as
// complete archive records, with the package metadata of the document that
// holds that one table. The data are generated from Tools/template/.
struct PagesTableTemplate {
    struct Record {
        std::string file;    // package path of the record's archive file
        std::uint64_t id = 0;
        std::uint64_t type = 0;
        std::string base64;  // the whole record: header length, header, payload
    };

    // The 77 records in their fixed order, built once on first use.
    static const std::vector<Record>& records();
    // A complete Index/Metadata.iwa of the one-table document, in Base64.
    static const std::string& packageMetadata();

    // The payload of a record: the bytes after the leading varint header
    // length and the header (empty when the header ends the buffer). A buffer
    // whose header would run past its end is not a record and is taken whole.
    static Bytes payload(ByteView record);
};

}  // namespace lumaro
