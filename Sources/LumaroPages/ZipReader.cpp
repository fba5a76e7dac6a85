#include "LumaroPages/ZipReader.hpp"

#include <algorithm>

#include "LumaroPages/ZipRecordLayout.hpp"

namespace lumaro {
namespace {

using namespace zip_record;

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kMaximumCommentLength = 0xFFFF;

// Byte offsets inside the fixed part of a central directory header.
namespace central {
constexpr std::size_t versionMadeBy = 4, versionNeeded = 6, flags = 8, method = 10, time = 12, date = 14,
                      compressedSize = 20, nameLength = 28, extraLength = 30, commentLength = 32,
                      internalAttributes = 36, externalAttributes = 38, localHeaderOffset = 42;
}
namespace local {
constexpr std::size_t nameLength = 26, extraLength = 28;
}
namespace endRecord {
constexpr std::size_t totalEntries = 10, directoryOffset = 16;
}

constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";  // U+FFFD

bool isContinuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

// The bounds of the second byte of a sequence for a lead byte, or an empty
// range when the byte cannot begin a sequence; later bytes are 0x80...0xBF.
struct LeadByte {
    int length = 0;
    std::uint8_t secondLow = 0x80, secondHigh = 0xBF;
};

LeadByte classify(std::uint8_t lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return {2};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};
    if (lead == 0xED) return {3, 0x80, 0x9F};  // excludes the surrogates
    if (lead >= 0xE1 && lead <= 0xEF) return {3};
    if (lead == 0xF0) return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3) return {4};
    if (lead == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
    return {};
}

// Decodes UTF-8, replacing each maximal invalid subpart by one U+FFFD, the
// way string decoding of the platform does.
std::string repairedUTF8(ByteView bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t lead = bytes[i];
        if (lead < 0x80) {
            text.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        const LeadByte shape = classify(lead);
        std::size_t valid = 1;
        if (shape.length > 0) {
            while (valid < static_cast<std::size_t>(shape.length) && i + valid < bytes.size()) {
                const std::uint8_t next = bytes[i + valid];
                const bool fits = valid == 1 ? (next >= shape.secondLow && next <= shape.secondHigh)
                                             : isContinuation(next);
                if (!fits) break;
                ++valid;
            }
        }
        if (shape.length > 0 && valid == static_cast<std::size_t>(shape.length))
            text.append(reinterpret_cast<const char*>(bytes.data() + i), valid);
        else
            text.append(kReplacementCharacter);
        i += valid;
    }
    return text;
}

bool fits(ByteView bytes, std::size_t offset, std::size_t length) {
    return offset <= bytes.size() && length <= bytes.size() - offset;
}

}  // namespace

std::uint16_t ZipReader::u16(ByteView bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t ZipReader::u32(ByteView bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) | (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

// The last end record that leaves room for a comment of at most 65,535 bytes
// after it; the stored comment length is not compared with what follows.
std::optional<std::size_t> ZipReader::findEOCD(ByteView archive) {
    if (archive.size() < kEndRecordSize) return std::nullopt;
    const std::size_t last = archive.size() - kEndRecordSize;
    const std::size_t first = last > kMaximumCommentLength ? last - kMaximumCommentLength : 0;
    for (std::size_t position = last + 1; position-- > first;) {
        if (u32(archive, position) == kEndRecordSignature) return position;
    }
    return std::nullopt;
}

// One entry from the central header at `centralOffset`; `next` is set to the
// header that follows it.
std::optional<ZipReader::Entry> ZipReader::readEntry(ByteView archive, std::size_t centralOffset,
                                                     std::size_t& next) {
    const std::size_t c = centralOffset;
    if (!fits(archive, c, kCentralHeaderFixedSize) || u32(archive, c) != kCentralHeaderSignature)
        return std::nullopt;
    if (u16(archive, c + central::method) != 0) return std::nullopt;

    Entry entry;
    StoredZipWriter::Metadata& meta = entry.meta;
    meta.versionMadeBy = u16(archive, c + central::versionMadeBy);
    meta.versionNeeded = u16(archive, c + central::versionNeeded);
    meta.flags = u16(archive, c + central::flags);
    meta.dosTime = u16(archive, c + central::time);
    meta.dosDate = u16(archive, c + central::date);
    meta.internalAttributes = u16(archive, c + central::internalAttributes);
    meta.externalAttributes = u32(archive, c + central::externalAttributes);
    const std::size_t dataSize = u32(archive, c + central::compressedSize);
    const std::size_t nameLength = u16(archive, c + central::nameLength);
    const std::size_t extraLength = u16(archive, c + central::extraLength);
    const std::size_t commentLength = u16(archive, c + central::commentLength);
    const std::size_t localOffset = u32(archive, c + central::localHeaderOffset);

    const std::size_t nameStart = c + kCentralHeaderFixedSize;
    if (!fits(archive, nameStart, nameLength + extraLength)) return std::nullopt;
    entry.path = repairedUTF8(archive.subspan(nameStart, nameLength));
    const ByteView centralExtra = archive.subspan(nameStart + nameLength, extraLength);
    meta.centralExtra.assign(centralExtra.begin(), centralExtra.end());

    if (!fits(archive, localOffset, kLocalHeaderFixedSize) || u32(archive, localOffset) != kLocalHeaderSignature)
        return std::nullopt;
    const std::size_t localNameLength = u16(archive, localOffset + local::nameLength);
    const std::size_t localExtraLength = u16(archive, localOffset + local::extraLength);
    const std::size_t localExtraStart = localOffset + kLocalHeaderFixedSize + localNameLength;
    if (!fits(archive, localExtraStart, localExtraLength + dataSize)) return std::nullopt;
    const ByteView localExtra = archive.subspan(localExtraStart, localExtraLength);
    meta.localExtra.assign(localExtra.begin(), localExtra.end());
    const ByteView data = archive.subspan(localExtraStart + localExtraLength, dataSize);
    entry.data.assign(data.begin(), data.end());

    next = nameStart + nameLength + extraLength + commentLength;
    return entry;
}

std::optional<std::vector<ZipReader::Entry>> ZipReader::read(ByteView archive) {
    const std::optional<std::size_t> end = findEOCD(archive);
    if (!end) return std::nullopt;
    const std::size_t count = u16(archive, *end + endRecord::totalEntries);
    std::vector<Entry> entries;
    if (count == 0) return entries;

    // Stored entries of a sound archive occupy disjoint parts of it, so their
    // data and local extra fields together never outgrow the archive. A crafted
    // directory whose headers all point at one large entry would otherwise
    // make a small input expand without bound.
    std::size_t copiedBytes = 0;
    std::size_t offset = u32(archive, *end + endRecord::directoryOffset);
    for (std::size_t index = 0; index < count; ++index) {
        std::size_t next = 0;
        std::optional<Entry> entry = readEntry(archive, offset, next);
        if (!entry) return std::nullopt;
        copiedBytes += entry->data.size() + entry->meta.localExtra.size();
        if (copiedBytes > archive.size()) return std::nullopt;
        entries.push_back(std::move(*entry));
        offset = next;
    }
    return entries;
}

}  // namespace lumaro
