#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "LumaroIWA/Bytes.hpp"
#include "LumaroIWA/Protobuf.hpp"

namespace lumaro {

// One record of an `.iwa` record stream: the object identifier of its
// ArchiveInfo header and one part per MessageInfo. MessageInfo fields are kept
// exactly as read (duplicates and unknown fields too), so that a record can be
// framed again without losing what this code does not understand.
struct IWARecord {
    struct Part {
        std::vector<ProtobufField> messageInfo;  // wire order
        Bytes payload;
        // Absent for a part as read. Present (possibly empty) for a part made or
        // replaced here: the objects its payload refers to; its MessageInfo is
        // then built afresh when the record is framed.
        std::optional<std::vector<std::uint64_t>> synthesizedReferences;
    };

    std::uint64_t identifier = 0;
    std::vector<Part> parts;

    // The first varint field 1 of the first part's MessageInfo; 0 without one.
    std::uint64_t type() const;
    // Header length varint, ArchiveInfo, then the payloads in order.
    Bytes framed() const;
};

}  // namespace lumaro
