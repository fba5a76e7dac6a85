#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "LumaroIWA/IWAArchive.hpp"

namespace lumaro {

// A table as a row-major grid of cell texts, row 0 being the header row,
// with one alignment per column.
struct TSTTable {
    enum class Alignment { left, center, right };

    std::vector<std::vector<std::string>> cells;
    std::vector<Alignment> columnAlignments;

    TSTTable() = default;
    TSTTable(std::vector<std::vector<std::string>> cells, std::vector<Alignment> columnAlignments)
        : cells(std::move(cells)), columnAlignments(std::move(columnAlignments)) {}

    std::size_t rows() const { return cells.size(); }
    // The number of texts in row 0; 0 when there is no row.
    std::size_t columns() const { return cells.empty() ? 0 : cells.front().size(); }

    // The grid cut down to the last row and the last column that hold a
    // non-empty text (whitespace counts); absent when every cell is empty.
    std::optional<TSTTable> trimmedToUsedRange() const;

    bool operator==(const TSTTable&) const = default;

    // The alignment's text form, "left", "center" or "right", and back.
    static std::string_view rawValue(Alignment alignment);
    static std::optional<Alignment> alignmentFromRawValue(std::string_view rawValue);
};

// Reads the cells of a table model object (type 6001): its cell buffers,
// spread over row tiles, and the string, style and rich-text tables they key
// into. Numbers, dates, durations and booleans are formatted here; rich-text
// cells go to the caller's reader.
struct TSTTableReader {
    using RichTextReader = std::function<std::string(const IWAObject&)>;
    using RichAlignmentReader = std::function<std::optional<TSTTable::Alignment>(const IWAObject&)>;

    static constexpr std::uint64_t kTableModelType = 6001;
    static constexpr std::uint64_t kTextStorageType = 2001;
    // The grid is allocated whole; a model that declares more cells than this
    // is not read.
    static constexpr std::uint64_t kMaximumCellCount = 1ull << 22;

    // Absent when the object is missing, is not a table model, has no rows,
    // columns, data store or tile storage, or is too large. Never throws.
    static std::optional<TSTTable> table(std::uint64_t forModelID, const IWAObjectStore& store,
                                         const RichTextReader& richText, const RichAlignmentReader& richAlignment);

    // The text of a text storage object: every length-delimited field 3,
    // in order, as UTF-8 with invalid sequences replaced by U+FFFD.
    static std::string plainText(const IWAObject& of);
};

}  // namespace lumaro
