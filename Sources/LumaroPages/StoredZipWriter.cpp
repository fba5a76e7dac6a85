#include "LumaroPages/StoredZipWriter.hpp"

#include "LumaroPages/CRC32.hpp"
#include "LumaroPages/ZipRecordLayout.hpp"

namespace lumaro {
namespace {

using namespace zip_record;

constexpr std::uint16_t kMethodStored = 0;

std::string describe(StoredZipWriterError::Case kind, std::string_view path) {
    using Case = StoredZipWriterError::Case;
    const std::string name(path);
    switch (kind) {
        case Case::tooManyEntries: return "ZIP archive would hold more than 65535 entries at " + name;
        case Case::pathTooLong: return "ZIP entry path is longer than 65535 bytes";
        case Case::extraFieldTooLong: return "ZIP extra field of " + name + " is longer than 65535 bytes";
        case Case::entryTooLarge: return "ZIP entry " + name + " is larger than 4294967295 bytes";
        case Case::archiveTooLarge: return "ZIP archive would exceed 4294967295 bytes at " + name;
    }
    return "ZIP archive limit exceeded";
}

}  // namespace

StoredZipWriterError::StoredZipWriterError(Case kind, std::string_view path)
    : Error(describe(kind, path)), kind_(kind) {}

void StoredZipWriter::appendUInt16(Bytes& bytes, std::uint16_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void StoredZipWriter::appendUInt32(Bytes& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint64_t StoredZipWriter::centralHeaderSize(std::size_t pathLength, const Metadata& meta) {
    return kCentralHeaderFixedSize + pathLength + meta.centralExtra.size();
}

// Every field that a header stores in 16 or 32 bits is checked before anything
// is appended, so that a refused entry leaves the writer unchanged and
// finish() always fits.
void StoredZipWriter::checkLimits(std::string_view path, ByteView data, const Metadata& meta) const {
    using Case = StoredZipWriterError::Case;
    if (entries_.size() >= kMaximumEntries) throw StoredZipWriterError(Case::tooManyEntries, path);
    if (path.size() > kMaximumFieldLength) throw StoredZipWriterError(Case::pathTooLong, path);
    if (meta.localExtra.size() > kMaximumFieldLength || meta.centralExtra.size() > kMaximumFieldLength)
        throw StoredZipWriterError(Case::extraFieldTooLong, path);
    if (data.size() > kMaximumSize) throw StoredZipWriterError(Case::entryTooLarge, path);
    const std::uint64_t localEnd = std::uint64_t{localSection_.size()} + kLocalHeaderFixedSize + path.size() +
                                   meta.localExtra.size() + data.size();
    const std::uint64_t directoryEnd = centralDirectorySize_ + centralHeaderSize(path.size(), meta);
    if (localEnd > kMaximumSize || directoryEnd > kMaximumSize)
        throw StoredZipWriterError(Case::archiveTooLarge, path);
}

void StoredZipWriter::add(std::string_view path, ByteView data, const Metadata& meta) {
    checkLimits(path, data, meta);
    Entry entry;
    entry.crc = CRC32::checksum(data);
    entry.path.assign(path.begin(), path.end());
    entry.size = static_cast<std::int64_t>(data.size());
    entry.offset = static_cast<std::int64_t>(localSection_.size());
    entry.meta = meta;

    Bytes header;
    header.reserve(kLocalHeaderFixedSize + entry.path.size() + meta.localExtra.size());
    appendUInt32(header, kLocalHeaderSignature);
    appendUInt16(header, meta.versionNeeded);
    appendUInt16(header, meta.flags);
    appendUInt16(header, kMethodStored);
    appendUInt16(header, meta.dosTime);
    appendUInt16(header, meta.dosDate);
    appendUInt32(header, entry.crc);
    appendUInt32(header, static_cast<std::uint32_t>(data.size()));  // compressed size
    appendUInt32(header, static_cast<std::uint32_t>(data.size()));  // uncompressed size
    appendUInt16(header, static_cast<std::uint16_t>(entry.path.size()));
    appendUInt16(header, static_cast<std::uint16_t>(meta.localExtra.size()));
    header.insert(header.end(), entry.path.begin(), entry.path.end());
    header.insert(header.end(), meta.localExtra.begin(), meta.localExtra.end());

    localSection_.insert(localSection_.end(), header.begin(), header.end());
    localSection_.insert(localSection_.end(), data.begin(), data.end());
    centralDirectorySize_ += centralHeaderSize(entry.path.size(), meta);
    entries_.push_back(std::move(entry));
}

void StoredZipWriter::add(std::string_view path, ByteView data) { add(path, data, Metadata()); }

void StoredZipWriter::appendCentralHeader(Bytes& archive, const Entry& entry) const {
    const Metadata& meta = entry.meta;
    appendUInt32(archive, kCentralHeaderSignature);
    appendUInt16(archive, meta.versionMadeBy);
    appendUInt16(archive, meta.versionNeeded);
    appendUInt16(archive, meta.flags);
    appendUInt16(archive, kMethodStored);
    appendUInt16(archive, meta.dosTime);
    appendUInt16(archive, meta.dosDate);
    appendUInt32(archive, entry.crc);
    appendUInt32(archive, static_cast<std::uint32_t>(entry.size));  // compressed size
    appendUInt32(archive, static_cast<std::uint32_t>(entry.size));  // uncompressed size
    appendUInt16(archive, static_cast<std::uint16_t>(entry.path.size()));
    appendUInt16(archive, static_cast<std::uint16_t>(meta.centralExtra.size()));
    appendUInt16(archive, 0);  // file comment length
    appendUInt16(archive, 0);  // disk number start
    appendUInt16(archive, meta.internalAttributes);
    appendUInt32(archive, meta.externalAttributes);
    appendUInt32(archive, static_cast<std::uint32_t>(entry.offset));
    archive.insert(archive.end(), entry.path.begin(), entry.path.end());
    archive.insert(archive.end(), meta.centralExtra.begin(), meta.centralExtra.end());
}

Bytes StoredZipWriter::finish() const {
    constexpr std::size_t kEndRecordSize = 22;
    Bytes archive;
    archive.reserve(localSection_.size() + centralDirectorySize_ + kEndRecordSize);
    archive.insert(archive.end(), localSection_.begin(), localSection_.end());
    for (const Entry& entry : entries_) appendCentralHeader(archive, entry);

    const auto count = static_cast<std::uint16_t>(entries_.size());
    appendUInt32(archive, kEndRecordSignature);
    appendUInt16(archive, 0);  // number of this disk
    appendUInt16(archive, 0);  // disk where the central directory starts
    appendUInt16(archive, count);
    appendUInt16(archive, count);
    appendUInt32(archive, static_cast<std::uint32_t>(centralDirectorySize_));
    appendUInt32(archive, static_cast<std::uint32_t>(localSection_.size()));
    appendUInt16(archive, 0);  // comment length
    return archive;
}

}  // namespace lumaro
