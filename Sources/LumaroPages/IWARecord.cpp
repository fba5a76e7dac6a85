#include "LumaroPages/IWARecord.hpp"

namespace lumaro {
namespace {

// ArchiveInfo (record header) and MessageInfo field numbers.
constexpr std::int64_t kArchiveInfoIdentifier = 1;
constexpr std::int64_t kArchiveInfoMessageInfo = 2;
constexpr std::int64_t kMessageInfoType = 1;
constexpr std::int64_t kMessageInfoLength = 3;
constexpr std::int64_t kMessageInfoObjectReferences = 5;

std::uint64_t typeOf(const std::vector<ProtobufField>& messageInfo) {
    for (const ProtobufField& field : messageInfo) {
        if (field.number != kMessageInfoType) continue;
        if (const std::uint64_t* value = field.varint()) return *value;
    }
    return 0;
}

// A part made here lists exactly its type, length and references.
Bytes synthesizedMessageInfo(const IWARecord::Part& part) {
    ProtobufWriter info;
    info.varintField(kMessageInfoType, typeOf(part.messageInfo));
    info.varintField(kMessageInfoLength, part.payload.size());
    if (!part.synthesizedReferences->empty())
        info.packedVarintField(kMessageInfoObjectReferences, *part.synthesizedReferences);
    return info.take();
}

// A part as read keeps every field; only the length follows the payload, which
// may have been changed in place.
Bytes preservedMessageInfo(const IWARecord::Part& part) {
    ProtobufWriter info;
    bool wroteLength = false;
    for (const ProtobufField& field : part.messageInfo) {
        if (field.number == kMessageInfoLength) {
            info.varintField(kMessageInfoLength, part.payload.size());
            wroteLength = true;
        } else {
            info.append(field);
        }
    }
    if (!wroteLength) info.varintField(kMessageInfoLength, part.payload.size());
    return info.take();
}

}  // namespace

std::uint64_t IWARecord::type() const { return parts.empty() ? 0 : typeOf(parts.front().messageInfo); }

Bytes IWARecord::framed() const {
    ProtobufWriter header;
    header.varintField(kArchiveInfoIdentifier, identifier);
    for (const Part& part : parts) {
        const Bytes info = part.synthesizedReferences ? synthesizedMessageInfo(part) : preservedMessageInfo(part);
        header.messageField(kArchiveInfoMessageInfo, info);
    }
    Bytes record = ProtobufWriter::varint(header.bytes().size());
    record.insert(record.end(), header.bytes().begin(), header.bytes().end());
    for (const Part& part : parts) record.insert(record.end(), part.payload.begin(), part.payload.end());
    return record;
}

}  // namespace lumaro
