#include "LumaroIWA/IWAArchive.hpp"

#include <algorithm>

#include "LumaroIWA/Protobuf.hpp"
#include "LumaroIWA/Snappy.hpp"
#include "LumaroIWA/VarintCoding.hpp"

namespace lumaro {

namespace {

const char* describe(IWAArchiveError::Case kind) {
    switch (kind) {
        case IWAArchiveError::Case::truncatedChunkHeader: return "The IWA chunk header is truncated.";
        case IWAArchiveError::Case::truncatedChunkBody: return "The IWA chunk body is truncated.";
        case IWAArchiveError::Case::objectNotFound: return "The IWA object was not found in the archive.";
    }
    return "The IWA archive is damaged.";
}

// Chunk header: one type byte, then the body length as 24 bits little-endian.
constexpr std::size_t kChunkHeaderSize = 4;
constexpr std::uint8_t kChunkType = 0x00;

// ArchiveInfo: field 1 the object identifier, field 2 one MessageInfo per payload.
constexpr std::int64_t kArchiveInfoIdentifier = 1;
constexpr std::int64_t kArchiveInfoMessageInfo = 2;
// MessageInfo: field 1 the message type, field 3 the payload length.
constexpr std::int64_t kMessageInfoType = 1;
constexpr std::int64_t kMessageInfoLength = 3;

ByteView slice(ByteView bytes, std::size_t start, std::size_t count) { return bytes.subspan(start, count); }

// The header of one record: where it ends, and what it says.
struct RecordHeader {
    std::size_t end = 0;  // position just past the header bytes
    ProtobufMessage archiveInfo;
};

// Reads the header-length varint and the header at `position`; absent when
// the varint is damaged or the header runs past the stream.
std::optional<RecordHeader> readHeader(ByteView stream, std::size_t position) {
    const auto length = VarintCoding::read(stream, position);
    if (!length || *length > stream.size() - position) return std::nullopt;
    const auto count = static_cast<std::size_t>(*length);
    return RecordHeader{position + count, ProtobufMessage(slice(stream, position, count))};
}

void appendRecord(Bytes& stream, const IWAObject& object) {
    const Bytes record = IWAArchive::record(object);
    stream.insert(stream.end(), record.begin(), record.end());
}

// The record with one payload replaced: MessageInfo and ArchiveInfo are
// rebuilt field by field, so every field this code does not own survives.
void appendReplacedRecord(Bytes& output, const ProtobufMessage& header, const ProtobufMessage& oldInfo,
                          const Bytes& payload) {
    ProtobufWriter info;
    bool lengthWritten = false;
    for (const auto& field : oldInfo.fields()) {
        if (field.number == kMessageInfoLength) {
            info.varintField(kMessageInfoLength, payload.size());
            lengthWritten = true;
        } else {
            info.append(field);
        }
    }
    // Without a length field the payload would read as empty and its bytes as
    // the next record.
    if (!lengthWritten && !payload.empty()) info.varintField(kMessageInfoLength, payload.size());

    ProtobufWriter archiveInfo;
    for (const auto& field : header.fields()) {
        // Only the length-delimited field 2 is the MessageInfo; a field 2 of
        // another kind is not one and stays as it is.
        if (field.number == kArchiveInfoMessageInfo && field.lengthDelimited()) {
            archiveInfo.messageField(kArchiveInfoMessageInfo, info.bytes());
        } else {
            archiveInfo.append(field);
        }
    }
    VarintCoding::append(output, archiveInfo.bytes().size());
    output.insert(output.end(), archiveInfo.bytes().begin(), archiveInfo.bytes().end());
    output.insert(output.end(), payload.begin(), payload.end());
}

}  // namespace

IWAArchiveError::IWAArchiveError(Case kind) : Error(describe(kind)), kind_(kind) {}

Bytes IWAArchive::decompress(ByteView file) {
    Bytes stream;
    std::size_t position = 0;
    while (position < file.size()) {
        if (file.size() - position < kChunkHeaderSize) throw IWAArchiveError(IWAArchiveError::Case::truncatedChunkHeader);
        const std::size_t length = std::size_t{file[position + 1]} | std::size_t{file[position + 2]} << 8 |
                                   std::size_t{file[position + 3]} << 16;
        position += kChunkHeaderSize;
        if (length > file.size() - position) throw IWAArchiveError(IWAArchiveError::Case::truncatedChunkBody);
        const Bytes body = Snappy::decompress(slice(file, position, length));
        stream.insert(stream.end(), body.begin(), body.end());
        position += length;
    }
    return stream;
}

std::vector<IWAObject> IWAArchive::parse(ByteView stream) {
    std::vector<IWAObject> objects;
    std::size_t position = 0;
    while (position < stream.size()) {
        const auto header = readHeader(stream, position);
        if (!header) break;
        position = header->end;
        const std::uint64_t identifier = header->archiveInfo.varint(kArchiveInfoIdentifier).value_or(0);
        for (const auto& info : header->archiveInfo.messages(kArchiveInfoMessageInfo)) {
            const std::uint64_t type = info.varint(kMessageInfoType).value_or(0);
            const std::uint64_t length = info.varint(kMessageInfoLength).value_or(0);
            if (length > stream.size() - position) return objects;
            const auto count = static_cast<std::size_t>(length);
            const ByteView payload = slice(stream, position, count);
            objects.push_back(IWAObject{identifier, type, Bytes(payload.begin(), payload.end())});
            position += count;
        }
    }
    return objects;
}

std::vector<IWAObject> IWAArchive::objects(ByteView file) { return parse(decompress(file)); }

Bytes IWAArchive::encode(ByteView stream) {
    Bytes file;
    for (std::size_t start = 0; start < stream.size(); start += kChunkSize) {
        const std::size_t count = std::min(kChunkSize, stream.size() - start);
        const Bytes block = Snappy::compress(slice(stream, start, count));
        file.push_back(kChunkType);
        for (unsigned index = 0; index < 3; ++index) file.push_back(static_cast<std::uint8_t>(block.size() >> (8 * index)));
        file.insert(file.end(), block.begin(), block.end());
    }
    return file;
}

Bytes IWAArchive::record(const IWAObject& object) {
    ProtobufWriter info;
    info.varintField(kMessageInfoType, object.type);
    info.varintField(kMessageInfoLength, object.payload.size());
    ProtobufWriter header;
    header.varintField(kArchiveInfoIdentifier, object.identifier);
    header.messageField(kArchiveInfoMessageInfo, info.bytes());
    Bytes record = ProtobufWriter::varint(header.bytes().size());
    record.insert(record.end(), header.bytes().begin(), header.bytes().end());
    record.insert(record.end(), object.payload.begin(), object.payload.end());
    return record;
}

Bytes IWAArchive::encode(const std::vector<IWAObject>& objects) {
    Bytes stream;
    for (const auto& object : objects) appendRecord(stream, object);
    return encode(ByteView(stream));
}

Bytes IWAArchive::appending(const std::vector<IWAObject>& objects, ByteView file) {
    Bytes stream = decompress(file);
    for (const auto& object : objects) appendRecord(stream, object);
    return encode(ByteView(stream));
}

Bytes IWAArchive::appendingRecordStream(ByteView records, ByteView file) {
    Bytes stream = decompress(file);
    stream.insert(stream.end(), records.begin(), records.end());
    return encode(ByteView(stream));
}

Bytes IWAArchive::replacingPayload(ByteView file, std::uint64_t objectID,
                                   const std::function<Bytes(const Bytes&)>& transform) {
    const Bytes stream = decompress(file);
    const ByteView view(stream);
    Bytes output;
    output.reserve(stream.size());
    bool replaced = false;
    std::size_t position = 0;
    while (position < view.size()) {
        const std::size_t recordStart = position;
        const auto header = readHeader(view, position);
        if (!header) throw IWAArchiveError(IWAArchiveError::Case::truncatedChunkBody);
        position = header->end;
        const auto infos = header->archiveInfo.messages(kArchiveInfoMessageInfo);
        const std::size_t payloadStart = position;
        for (const auto& info : infos) {
            const std::uint64_t length = info.varint(kMessageInfoLength).value_or(0);
            if (length > view.size() - position) throw IWAArchiveError(IWAArchiveError::Case::truncatedChunkBody);
            position += static_cast<std::size_t>(length);
        }
        const bool matches =
            header->archiveInfo.varint(kArchiveInfoIdentifier).value_or(0) == objectID && infos.size() == 1;
        if (!replaced && matches) {
            const Bytes payload(view.begin() + static_cast<std::ptrdiff_t>(payloadStart),
                                view.begin() + static_cast<std::ptrdiff_t>(position));
            appendReplacedRecord(output, header->archiveInfo, infos.front(), transform(payload));
            replaced = true;
        } else {
            output.insert(output.end(), view.begin() + static_cast<std::ptrdiff_t>(recordStart),
                          view.begin() + static_cast<std::ptrdiff_t>(position));
        }
    }
    if (!replaced) throw IWAArchiveError(IWAArchiveError::Case::objectNotFound);
    return encode(ByteView(output));
}

void IWAObjectStore::add(IWAObject object) {
    byIdentifier_.try_emplace(object.identifier, objects_.size());
    objects_.push_back(std::move(object));
}

const IWAObject* IWAObjectStore::object(std::uint64_t identifier) const {
    const auto found = byIdentifier_.find(identifier);
    return found == byIdentifier_.end() ? nullptr : &objects_[found->second];
}

std::vector<const IWAObject*> IWAObjectStore::objects(std::uint64_t ofType) const {
    std::vector<const IWAObject*> result;
    for (const auto& object : objects_) {
        if (object.type == ofType) result.push_back(&object);
    }
    return result;
}

}  // namespace lumaro
