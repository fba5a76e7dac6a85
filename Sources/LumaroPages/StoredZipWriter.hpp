#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "LumaroIWA/Bytes.hpp"
#include "LumaroIWA/Error.hpp"

namespace lumaro {

// Input that a ZIP archive without ZIP64 records cannot hold. The writer
// refuses it rather than write fields that would be truncated.
class StoredZipWriterError : public Error {
public:
    enum class Case { tooManyEntries, pathTooLong, extraFieldTooLong, entryTooLarge, archiveTooLarge };
    StoredZipWriterError(Case kind, std::string_view path);
    Case kind() const { return kind_; }

private:
    Case kind_;
};

// An append-only writer of a ZIP archive whose entries are all stored
// (method 0): no data descriptors, no comments, no ZIP64 records. Every header
// value the format leaves open comes from the caller, so that an archive read
// back can be written again with the same headers.
class StoredZipWriter {
public:
    // The header values of one entry. The defaults are what every writer of the
    // system uses for an entry it has read no headers for.
    struct Metadata {
        std::uint16_t dosTime = 0;        // 00:00:00
        std::uint16_t dosDate = 0x0021;   // 1 January 1980
        std::uint16_t versionMadeBy = 20;
        std::uint16_t versionNeeded = 20;
        std::uint16_t flags = 0;          // written unchanged; no bit is ever set here
        std::uint16_t internalAttributes = 0;
        std::uint32_t externalAttributes = 0;
        Bytes localExtra;
        Bytes centralExtra;

        bool operator==(const Metadata&) const = default;
    };

    // Limits of the format as written.
    static constexpr std::size_t kMaximumEntries = 0xFFFF;
    static constexpr std::size_t kMaximumFieldLength = 0xFFFF;     // path, each extra field
    static constexpr std::uint64_t kMaximumSize = 0xFFFFFFFFull;  // data, offsets, directory size

    // Appends one entry. Throws StoredZipWriterError, leaving the writer as it
    // was, when the entry or the archive would exceed a limit of the format.
    // Duplicate paths are not checked: they give duplicate entries.
    void add(std::string_view path, ByteView data, const Metadata& meta);
    void add(std::string_view path, ByteView data);  // with the default metadata

    // The complete archive: local section, central directory, end record.
    Bytes finish() const;

private:
    struct Entry {
        Bytes path;  // UTF-8
        std::uint32_t crc = 0;
        std::int64_t size = 0;
        std::int64_t offset = 0;  // of the local header within localSection_
        Metadata meta;
    };

    static void appendUInt16(Bytes& bytes, std::uint16_t value);
    static void appendUInt32(Bytes& bytes, std::uint32_t value);
    static std::uint64_t centralHeaderSize(std::size_t pathLength, const Metadata& meta);
    void checkLimits(std::string_view path, ByteView data, const Metadata& meta) const;
    void appendCentralHeader(Bytes& archive, const Entry& entry) const;

    Bytes localSection_;
    std::vector<Entry> entries_;
    std::uint64_t centralDirectorySize_ = 0;
};

}  // namespace lumaro
