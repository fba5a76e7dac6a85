#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LumaroIWA/Bytes.hpp"
#include "LumaroPages/StoredZipWriter.hpp"

namespace lumaro {

// Reads back a ZIP archive held in memory whose entries are all stored, such as
// the ones StoredZipWriter makes. Documents given by the user go through the
// ZIP library instead.
struct ZipReader {
    struct Entry {
        std::string path;  // the name as UTF-8, invalid sequences replaced by U+FFFD
        Bytes data;
        StoredZipWriter::Metadata meta;  // localExtra from the local header, the rest from the central one

        bool operator==(const Entry&) const = default;
    };

    // The entries in central directory order, or nothing when the bytes are not
    // a readable stored archive (never a partial list). CRCs are not checked.
    static std::optional<std::vector<Entry>> read(ByteView archive);

private:
    static std::optional<std::size_t> findEOCD(ByteView archive);
    static std::uint16_t u16(ByteView bytes, std::size_t offset);
    static std::uint32_t u32(ByteView bytes, std::size_t offset);
    static std::optional<Entry> readEntry(ByteView archive, std::size_t centralOffset, std::size_t& next);
};

}  // namespace lumaro
