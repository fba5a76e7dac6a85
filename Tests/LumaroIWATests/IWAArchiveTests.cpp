#include <gtest/gtest.h>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/Protobuf.hpp"
#include "LumaroIWA/Snappy.hpp"
#include "LumaroIWATests/FixtureStreams.hpp"

namespace lumaro {
namespace {

using Case = IWAArchiveError::Case;

// A record built field by field: ArchiveInfo from `header`, then the payloads.
Bytes record(const ProtobufWriter& header, const std::vector<Bytes>& payloads) {
    Bytes bytes = ProtobufWriter::varint(header.bytes().size());
    bytes.insert(bytes.end(), header.bytes().begin(), header.bytes().end());
    for (const auto& payload : payloads) bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

Bytes messageInfo(std::uint64_t type, std::uint64_t length) {
    ProtobufWriter info;
    info.varintField(1, type);
    info.varintField(3, length);
    return info.bytes();
}

Bytes concatenated(const std::vector<Bytes>& parts) {
    Bytes result;
    for (const auto& part : parts) result.insert(result.end(), part.begin(), part.end());
    return result;
}

// One record per payload, each with one MessageInfo.
Bytes simpleRecord(std::uint64_t identifier, std::uint64_t type, const Bytes& payload) {
    ProtobufWriter header;
    header.varintField(1, identifier);
    header.messageField(2, messageInfo(type, payload.size()));
    return record(header, {payload});
}

Case archiveError(const std::function<void()>& action) {
    try {
        action();
    } catch (const IWAArchiveError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no error";
    return Case::objectNotFound;
}

bool sameObjects(const std::vector<IWAObject>& left, const std::vector<IWAObject>& right) {
    if (left.size() != right.size()) return false;
    for (std::size_t index = 0; index < left.size(); ++index) {
        if (left[index].identifier != right[index].identifier || left[index].type != right[index].type ||
            left[index].payload != right[index].payload)
            return false;
    }
    return true;
}

TEST(IWAArchive, EncodesAndDecodesOneObject) {
    const IWAObject object{1, 2, {0x08, 0x01}};
    const Bytes expectedRecord{0x08, 0x08, 0x01, 0x12, 0x04, 0x08, 0x02, 0x18, 0x02, 0x08, 0x01};
    EXPECT_EQ(IWAArchive::record(object), expectedRecord);
    Bytes expectedFile{0x00, 0x0D, 0x00, 0x00, 0x0B, 0x28};
    expectedFile.insert(expectedFile.end(), expectedRecord.begin(), expectedRecord.end());
    const Bytes file = IWAArchive::encode(std::vector<IWAObject>{object});
    EXPECT_EQ(file, expectedFile);
    EXPECT_TRUE(sameObjects(IWAArchive::objects(file), {object}));
    EXPECT_EQ(IWAArchive::decompress(file), expectedRecord);

    EXPECT_TRUE(IWAArchive::objects(Bytes{}).empty());
    EXPECT_TRUE(IWAArchive::encode(ByteView{}).empty());
    EXPECT_TRUE(IWAArchive::encode(std::vector<IWAObject>{}).empty());
}

TEST(IWAArchive, ChunkFraming) {
    for (const Bytes& file : {Bytes{0x00}, Bytes{0x00, 0x01}, Bytes{0x00, 0x01, 0x00}}) {
        EXPECT_EQ(archiveError([&] { IWAArchive::decompress(file); }), Case::truncatedChunkHeader);
    }
    EXPECT_EQ(archiveError([] { IWAArchive::decompress(Bytes{0x00, 0x03, 0x00, 0x00, 0x01, 0x00}); }),
              Case::truncatedChunkBody);
    // The second chunk's header is cut short.
    EXPECT_EQ(archiveError([] { IWAArchive::decompress(Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x05}); }),
              Case::truncatedChunkHeader);
    EXPECT_THROW(IWAArchive::decompress(Bytes{0x00, 0x00, 0x00, 0x00}), SnappyError);
    EXPECT_THROW(IWAArchive::objects(Bytes{0x00, 0x02, 0x00, 0x00, 0x05, 0x01}), SnappyError);

    // Any chunk type is accepted; chunks concatenate.
    const Bytes a = Snappy::compress(Bytes{'a', 'b'});
    const Bytes b = Snappy::compress(Bytes{'c'});
    Bytes file{0x07, static_cast<std::uint8_t>(a.size()), 0, 0};
    file.insert(file.end(), a.begin(), a.end());
    file.insert(file.end(), {0xFF, static_cast<std::uint8_t>(b.size()), 0, 0});
    file.insert(file.end(), b.begin(), b.end());
    EXPECT_EQ(IWAArchive::decompress(file), (Bytes{'a', 'b', 'c'}));

    // Streams are cut into chunks of 65536 bytes, the chunk length in 3 bytes.
    Bytes stream(65537);
    for (std::size_t index = 0; index < stream.size(); ++index) stream[index] = static_cast<std::uint8_t>(index * 7 / 3);
    const Bytes encoded = IWAArchive::encode(stream);
    const auto bodies = test::chunkBodies(encoded);
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(Snappy::decompress(bodies[0]).size(), 65536u);
    EXPECT_EQ(Snappy::decompress(bodies[1]), Bytes{stream.back()});
    EXPECT_EQ(IWAArchive::decompress(encoded), stream);
    Bytes random(200000);
    std::uint32_t state = 1;
    for (auto& byte : random) byte = static_cast<std::uint8_t>((state = state * 1103515245 + 12345) >> 23);
    const Bytes bigChunks = IWAArchive::encode(random);
    EXPECT_GT(test::chunkBodies(bigChunks)[0].size(), 65536u);  // needs the third length byte
    EXPECT_EQ(IWAArchive::decompress(bigChunks), random);
}

TEST(IWAArchive, ParsesRecordsLeniently) {
    // No identifier field: identifier 0. Two MessageInfos: two objects.
    ProtobufWriter anonymous;
    anonymous.messageField(2, messageInfo(5, 1));
    ProtobufWriter twoInfos;
    twoInfos.varintField(1, 9);
    twoInfos.messageField(2, messageInfo(10, 2));
    twoInfos.messageField(2, messageInfo(11, 0));
    twoInfos.messageField(2, messageInfo(12, 1));
    ProtobufWriter noInfo;
    noInfo.varintField(1, 3);
    const Bytes stream = concatenated({record(anonymous, {{0xAA}}), record(noInfo, {}),
                                       record(twoInfos, {{0x01, 0x02}, {}, {0x03}})});
    const auto objects = IWAArchive::parse(stream);
    EXPECT_TRUE(sameObjects(objects, {{0, 5, {0xAA}}, {9, 10, {0x01, 0x02}}, {9, 11, {}}, {9, 12, {0x03}}}));

    // A payload running past the end keeps everything before it, also of its own record.
    ProtobufWriter overrun;
    overrun.varintField(1, 4);
    overrun.messageField(2, messageInfo(1, 1));
    overrun.messageField(2, messageInfo(1, 50));
    const Bytes damaged = concatenated({simpleRecord(1, 1, {0x01}), record(overrun, {{0x02}, {0x03, 0x04}})});
    EXPECT_TRUE(sameObjects(IWAArchive::parse(damaged), {{1, 1, {0x01}}, {4, 1, {0x02}}}));

    // A header length that is cut short, too long, or larger than the rest.
    const Bytes good = simpleRecord(1, 1, {0x01});
    for (const Bytes& tail : {Bytes{0x80}, Bytes(11, 0x80), Bytes{0x20, 0x08}}) {
        EXPECT_TRUE(sameObjects(IWAArchive::parse(concatenated({good, tail})), {{1, 1, {0x01}}}));
    }
    // A record whose header lacks field 3 has an empty payload.
    ProtobufWriter lengthless;
    lengthless.varintField(1, 6);
    ProtobufWriter info;
    info.varintField(1, 2);
    lengthless.messageField(2, info.bytes());
    EXPECT_TRUE(sameObjects(IWAArchive::parse(record(lengthless, {})), {{6, 2, {}}}));
}

TEST(IWAArchive, AppendsObjectsAndRecords) {
    const IWAObject first{1, 100, {0x08, 0x01}};
    const IWAObject second{2, 200, {0x10, 0x02}};
    const IWAObject third{3, 300, Bytes(70000, 0x41)};
    const Bytes file = IWAArchive::encode(std::vector<IWAObject>{first});
    const Bytes appended = IWAArchive::appending({second, third}, file);
    EXPECT_TRUE(sameObjects(IWAArchive::objects(appended), {first, second, third}));
    EXPECT_EQ(test::chunkBodies(appended).size(), 2u);  // re-encoded in 65536-byte pieces

    const Bytes extra = simpleRecord(4, 400, {0x01});
    const Bytes withRecords = IWAArchive::appendingRecordStream(extra, appended);
    EXPECT_EQ(IWAArchive::decompress(withRecords), concatenated({IWAArchive::decompress(appended), extra}));
    EXPECT_EQ(IWAArchive::appending({first}, Bytes{}), file);
    EXPECT_EQ(archiveError([] { IWAArchive::appending({}, Bytes{0x00, 0x09}); }), Case::truncatedChunkHeader);
    EXPECT_EQ(archiveError([] { IWAArchive::appendingRecordStream({}, Bytes{0x00, 0x09, 0x00, 0x00}); }),
              Case::truncatedChunkBody);
}

Bytes replaced(const Bytes& stream, std::uint64_t identifier, const Bytes& payload) {
    return IWAArchive::decompress(
        IWAArchive::replacingPayload(IWAArchive::encode(stream), identifier, [&](const Bytes&) { return payload; }));
}

TEST(IWAArchive, ReplacesOnePayload) {
    ProtobufWriter twoInfos;
    twoInfos.varintField(1, 7);
    twoInfos.messageField(2, messageInfo(1, 1));
    twoInfos.messageField(2, messageInfo(1, 1));
    // MessageInfo with field 5 after the length, and an unknown header field.
    ProtobufWriter info;
    info.varintField(1, 20);
    info.varintField(3, 2);
    info.packedVarintField(5, {7, 9});
    ProtobufWriter header;
    header.varintField(1, 7);
    header.messageField(2, info.bytes());
    header.varintField(4, 99);
    const Bytes later = simpleRecord(7, 21, {0x0C});
    const Bytes stream = concatenated({simpleRecord(1, 1, {0x01}), record(twoInfos, {{0x0A}, {0x0B}}),
                                       record(header, {{0x08, 0x02}}), later});

    Bytes seen;
    const Bytes file = IWAArchive::replacingPayload(IWAArchive::encode(stream), 7, [&](const Bytes& payload) {
        seen = payload;
        return Bytes{0x08, 0x03, 0x10, 0x04};
    });
    EXPECT_EQ(seen, (Bytes{0x08, 0x02}));
    ProtobufWriter newInfo;
    newInfo.varintField(1, 20);
    newInfo.varintField(3, 4);
    newInfo.packedVarintField(5, {7, 9});
    ProtobufWriter newHeader;
    newHeader.varintField(1, 7);
    newHeader.messageField(2, newInfo.bytes());
    newHeader.varintField(4, 99);
    EXPECT_EQ(IWAArchive::decompress(file),
              concatenated({simpleRecord(1, 1, {0x01}), record(twoInfos, {{0x0A}, {0x0B}}),
                            record(newHeader, {{0x08, 0x03, 0x10, 0x04}}), later}));

    EXPECT_EQ(archiveError([&] { replaced(stream, 8, {}); }), Case::objectNotFound);
    EXPECT_EQ(archiveError([&] { IWAArchive::replacingPayload(Bytes{}, 1, [](const Bytes& b) { return b; }); }),
              Case::objectNotFound);
    // An identifier only in a record of two MessageInfos is not replaced.
    EXPECT_EQ(archiveError([&] { replaced(record(twoInfos, {{0x0A}, {0x0B}}), 7, {}); }), Case::objectNotFound);
    // Damage anywhere in the stream throws, also after the object.
    const Bytes truncatedPayload = concatenated({simpleRecord(1, 1, {0x01}), simpleRecord(2, 1, Bytes(9, 0))});
    Bytes cut(truncatedPayload.begin(), truncatedPayload.end() - 1);
    EXPECT_EQ(archiveError([&] { replaced(cut, 1, {}); }), Case::truncatedChunkBody);
    EXPECT_EQ(archiveError([&] { replaced(concatenated({simpleRecord(1, 1, {0x01}), Bytes{0x80}}), 1, {}); }),
              Case::truncatedChunkBody);
    EXPECT_EQ(archiveError([] {
                  IWAArchive::replacingPayload(Bytes{0x00, 0x05, 0x00}, 1, [](const Bytes& b) { return b; });
              }),
              Case::truncatedChunkHeader);
}

TEST(IWAArchive, ReplacementKeepsTheStreamReadable) {
    // Without a length field the old payload is empty; the new one must still
    // be announced, or it would be read as the next record.
    ProtobufWriter info;
    info.varintField(1, 30);
    ProtobufWriter header;
    header.varintField(1, 5);
    header.messageField(2, info.bytes());
    const Bytes next = simpleRecord(6, 31, {0x01});
    const Bytes result = replaced(concatenated({record(header, {}), next}), 5, {0x08, 0x09});
    EXPECT_TRUE(sameObjects(IWAArchive::parse(result), {{5, 30, {0x08, 0x09}}, {6, 31, {0x01}}}));

    // A varint field 2 beside the MessageInfo is not a MessageInfo and stays a varint.
    ProtobufWriter odd;
    odd.varintField(1, 5);
    odd.varintField(2, 1);
    odd.messageField(2, messageInfo(30, 1));
    const Bytes oddResult = replaced(concatenated({record(odd, {{0x00}}), next}), 5, {0x08, 0x09});
    EXPECT_TRUE(sameObjects(IWAArchive::parse(oddResult), {{5, 30, {0x08, 0x09}}, {6, 31, {0x01}}}));
    const auto oddHeader = ProtobufMessage(Bytes(oddResult.begin() + 1, oddResult.begin() + 1 + oddResult[0]));
    EXPECT_EQ(oddHeader.varint(2), 1u);
}

TEST(IWAObjectStore, FirstObjectOfAnIdentifierWins) {
    IWAObjectStore store;
    store.add({7, 1, {0x01}});
    store.add({8, 2, {}});
    store.add({7, 1, {0x02}});
    ASSERT_EQ(store.objects().size(), 3u);
    ASSERT_NE(store.object(7), nullptr);
    EXPECT_EQ(store.object(7)->payload, Bytes{0x01});
    EXPECT_EQ(store.object(9), nullptr);
    const auto ofType = store.objects(1);
    ASSERT_EQ(ofType.size(), 2u);
    EXPECT_EQ(ofType[1]->payload, Bytes{0x02});
    EXPECT_TRUE(store.objects(3).empty());
}

TEST(IWAArchive, FixtureStreamsDecodeAndReencode) {
    const auto& streams = test::fixtureStreams();
    ASSERT_GT(streams.size(), 100u);
    std::size_t objectCount = 0;
    for (const auto& stream : streams) {
        const Bytes records = IWAArchive::decompress(stream.data);
        const auto objects = IWAArchive::parse(records);
        EXPECT_TRUE(records.empty() || !objects.empty()) << stream.name;
        objectCount += objects.size();
        // Re-encoding the untouched record stream loses nothing.
        EXPECT_EQ(IWAArchive::decompress(IWAArchive::encode(records)), records) << stream.name;
        EXPECT_TRUE(sameObjects(IWAArchive::objects(IWAArchive::encode(objects)), objects)) << stream.name;
    }
    EXPECT_GT(objectCount, 1000u);
}

}  // namespace
}  // namespace lumaro
