#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "LumaroIWA/Protobuf.hpp"
#include "LumaroPages/PagesWireView.hpp"

namespace lumaro {

// An attribute table of a text storage: repeated field 1 entries, each with
// the UTF-16 position where the attribute starts (varint field 1) and, in
// field 2, either an object reference (message with the identifier in varint
// field 1) or, in the paragraph data table, a varint list level.
struct PagesAttributeEntry {
    std::int64_t position = 0;
    std::optional<std::uint64_t> objectID;
    std::optional<std::uint64_t> value;  // varint field 2
};

namespace PagesAttributeTable {

inline constexpr std::int64_t kEntryField = 1;
inline constexpr std::int64_t kPositionField = 1;
inline constexpr std::int64_t kAttributeField = 2;
inline constexpr std::int64_t kReferenceIdentifierField = 1;

// The referenced identifier of a reference message (its varint field 1).
inline std::optional<std::uint64_t> referencedIdentifier(const ProtobufMessage& reference) {
    return reference.varint(kReferenceIdentifierField);
}

// The entries that carry a position, in wire order. Positions beyond the
// signed 64-bit range cannot name a place in any text and are passed over
// like entries without a position.
inline std::vector<PagesAttributeEntry> entries(const ProtobufMessage& table) {
    std::vector<PagesAttributeEntry> result;
    for (const ProtobufField& field : table.fields()) {
        if (field.number != kEntryField) continue;
        const Bytes* bytes = field.lengthDelimited();
        if (!bytes) continue;
        const ProtobufMessage entry(*bytes);
        const auto position = entry.varint(kPositionField);
        if (!position || *position > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) continue;
        PagesAttributeEntry kept;
        kept.position = static_cast<std::int64_t>(*position);
        if (const auto reference = entry.message(kAttributeField)) kept.objectID = referencedIdentifier(*reference);
        kept.value = entry.varint(kAttributeField);
        result.push_back(std::move(kept));
    }
    return result;
}

// The entries of the table in field `tableField` of a storage's payload.
inline std::vector<PagesAttributeEntry> entries(ByteView storage, std::int64_t tableField) {
    const auto table = PagesWireView(storage).bytes(tableField);
    return table ? entries(ProtobufMessage(*table)) : std::vector<PagesAttributeEntry>();
}

template <typename Run>
void sortByPosition(std::vector<Run>& runs) {
    std::stable_sort(runs.begin(), runs.end(),
                     [](const Run& a, const Run& b) { return a.position < b.position; });
}

}  // namespace PagesAttributeTable

}  // namespace lumaro
