#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "LumaroIWA/Bytes.hpp"
#include "LumaroIWA/Error.hpp"

namespace lumaro {

// One object of an IWA stream.
struct IWAObject {
    std::uint64_t identifier = 0;
    std::uint64_t type = 0;  // message type number
    Bytes payload;           // one protobuf message
};

// `IWAArchive.Error`: damaged chunk framing, or an object that is not there.
class IWAArchiveError : public Error {
public:
    enum class Case { truncatedChunkHeader, truncatedChunkBody, objectNotFound };
    explicit IWAArchiveError(Case kind);
    Case kind() const { return kind_; }

private:
    Case kind_;
};

// Stateless operations on whole `.iwa` files: Snappy-compressed chunks whose
// bodies form a record stream of (ArchiveInfo header, payloads).
struct IWAArchive {
    static constexpr std::size_t kChunkSize = 65536;

    // Decompresses and parses; only decompression errors are thrown, damage
    // inside the record stream ends the list quietly.
    static std::vector<IWAObject> objects(ByteView file);
    static Bytes decompress(ByteView file);
    static Bytes encode(ByteView stream);  // the Part's `encode(stream:)`
    static Bytes encode(const std::vector<IWAObject>& objects);
    static Bytes appending(const std::vector<IWAObject>& objects, ByteView file);
    static Bytes appendingRecordStream(ByteView records, ByteView file);
    static Bytes replacingPayload(ByteView file, std::uint64_t objectID,
                                  const std::function<Bytes(const Bytes&)>& transform);

    // The record bytes of one object (header length, ArchiveInfo, payload).
    static Bytes record(const IWAObject& object);
    // Parses a record stream that is already decompressed.
    static std::vector<IWAObject> parse(ByteView stream);
};

// A document's objects in load order with an index by identifier; for an
// identifier that occurs twice, lookups return the first object added.
class IWAObjectStore {
public:
    IWAObjectStore() = default;

    void add(IWAObject object);
    const IWAObject* object(std::uint64_t identifier) const;  // null when absent
    std::vector<const IWAObject*> objects(std::uint64_t ofType) const;
    const std::vector<IWAObject>& objects() const { return objects_; }

private:
    std::vector<IWAObject> objects_;
    std::unordered_map<std::uint64_t, std::size_t> byIdentifier_;
};

}  // namespace lumaro
