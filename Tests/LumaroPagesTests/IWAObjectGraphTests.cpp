#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/Protobuf.hpp"
#include "LumaroPages/IWAObjectGraph.hpp"
#include "LumaroPages/ZipReader.hpp"
#include "Support/TestSupport.hpp"

namespace lumaro {
namespace {

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// An `.iwa` file of one-part records (identifier, type, payload).
Bytes iwaFile(const std::vector<IWAObject>& objects) { return IWAArchive::encode(objects); }

Bytes reference(std::int64_t field, std::uint64_t identifier) {
    ProtobufWriter inner;
    inner.varintField(1, identifier);
    ProtobufWriter outer;
    outer.messageField(field, inner.bytes());
    return outer.take();
}

IWAObjectGraph graphOf(const std::vector<IWAObject>& document, const std::vector<IWAObject>& metadata = {}) {
    std::vector<IWAPackage::SourceFile> files = {{"Index/Document.iwa", iwaFile(document)}};
    if (!metadata.empty()) files.push_back({"Index/Metadata.iwa", iwaFile(metadata)});
    files.push_back({"preview.jpg", bytesOf("jpeg")});
    return IWAObjectGraph::read(IWAPackage::read(std::move(files)));
}

TEST(IWAObjectGraphTest, ChosenIdentifiersClimbAboveTheGraphAndTheFloor) {
    IWAObjectGraph empty;
    EXPECT_EQ(empty.addObject(std::nullopt, 1, {}, "Index/Document.iwa"), 1u);

    IWAObjectGraph graph = graphOf({{41, 1, {}}, {7, 1, {}}});
    EXPECT_EQ(graph.reservedFloor, 0u);
    EXPECT_EQ(graph.addObject(std::nullopt, 1, {}, "Index/Document.iwa"), 42u);
    EXPECT_EQ(graph.reservedFloor, 43u);
    EXPECT_EQ(graph.addObject(std::nullopt, 1, {}, "Index/Document.iwa"), 43u);
    EXPECT_EQ(graph.addObject(6000000, 1, {}, "Index/Document.iwa"), 6000000u);
    EXPECT_EQ(graph.reservedFloor, 6000001u);
    EXPECT_EQ(graph.addObject(3, 1, {}, "Index/Document.iwa"), 3u);  // a given identifier never lowers the floor
    EXPECT_EQ(graph.reservedFloor, 6000001u);
    graph.reservedFloor = 7000000;
    EXPECT_EQ(graph.addObject(std::nullopt, 1, {}, "Index/Document.iwa"), 7000000u);
}

TEST(IWAObjectGraphTest, TheLargestIdentifierDoesNotWrapAround) {
    constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
    IWAObjectGraph graph = graphOf({{5, 1, {}}});
    EXPECT_EQ(graph.addObject(kLargest, 1, {}, "Index/Document.iwa"), kLargest);
    EXPECT_EQ(graph.reservedFloor, kLargest);
    EXPECT_THROW(graph.addObject(std::nullopt, 1, {}, "Index/Document.iwa"), IWAObjectGraphError);
    EXPECT_EQ(graph.components[0].records.size(), 2u);
}

TEST(IWAObjectGraphTest, AddedObjectsListTheirReferencesAndNewComponentsComeBeforeRawFiles) {
    IWAObjectGraph graph = graphOf({{10, 1, {}}, {11, 1, {}}});
    Bytes payload = reference(2, 11);
    for (const Bytes& more : {reference(3, 12), reference(4, 999), reference(5, 10)})
        payload.insert(payload.end(), more.begin(), more.end());
    EXPECT_EQ(graph.addObject(12, 2001, payload, "Index/Added.iwa"), 12u);

    ASSERT_EQ(graph.components.size(), 2u);
    const IWARecord& added = graph.components[1].records.at(0);
    EXPECT_EQ(graph.components[1].path, "Index/Added.iwa");
    EXPECT_FALSE(graph.components[1].originalBytes.has_value());
    EXPECT_EQ(added.type(), 2001u);
    ASSERT_EQ(added.parts.size(), 1u);
    EXPECT_EQ(added.parts[0].synthesizedReferences, (std::vector<std::uint64_t>{11, 12, 10}));
    graph.addObject(std::nullopt, 3, {}, "Index/Added.iwa");
    EXPECT_EQ(graph.components[1].records.back().parts[0].synthesizedReferences, std::vector<std::uint64_t>{});

    const IWAPackage package = graph.package();
    ASSERT_EQ(package.files.size(), 3u);
    EXPECT_EQ(package.files[0].path, "Index/Document.iwa");
    EXPECT_EQ(package.files[1].path, "Index/Added.iwa");
    EXPECT_EQ(package.files[2].path, "preview.jpg");
    EXPECT_TRUE(package.zipMeta.empty());
    const auto written = IWAArchive::objects(IWAPackage::serialized(package.files[1].content));
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].identifier, 12u);
    EXPECT_EQ(written[0].payload, payload);
    EXPECT_EQ(written[1].identifier, 13u);
}

TEST(IWAObjectGraphTest, ReplacingAPayloadKeepsTheTypeAndPlaceOfTheFirstRecord) {
    IWAObjectGraph graph = graphOf({{10, 2001, bytesOf("old")}, {20, 7, {}}, {10, 3, bytesOf("second")}});
    const Bytes before = IWAPackage::serialized(graph.package().files[0].content);
    graph.replacePayload(99, 5, bytesOf("nothing"));
    EXPECT_EQ(IWAPackage::serialized(graph.package().files[0].content), before);

    graph.replacePayload(10, std::nullopt, reference(1, 20));
    const auto& records = graph.components[0].records;
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].identifier, 10u);
    EXPECT_EQ(records[0].type(), 2001u);
    EXPECT_EQ(records[0].parts[0].synthesizedReferences, std::vector<std::uint64_t>{20});
    EXPECT_EQ(records[2].parts[0].payload, bytesOf("second"));
    graph.replacePayload(20, 9, {});
    EXPECT_EQ(records[1].type(), 9u);

    const auto written = IWAArchive::objects(IWAPackage::serialized(graph.package().files[0].content));
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[0].payload, reference(1, 20));
    EXPECT_EQ(written[1].type, 9u);
}

Bytes metadataPayload(std::uint64_t highest) {
    ProtobufWriter payload;
    payload.stringField(2, "before");
    payload.varintField(1, highest);
    payload.fixed32Field(3, 77);
    return payload.take();
}

TEST(IWAObjectGraphTest, PackageMetadataIsRaisedInPlaceOnlyWhenBehind) {
    IWAObjectGraph graph = graphOf({{1, 1, {}}}, {{2, 11006, metadataPayload(1732661)}, {3, 5, bytesOf("x")}});
    graph.addObject(6000123, 1, {}, "Index/Document.iwa");
    graph.syncPackageMetadata();
    const IWAObjectGraph::Component& metadata = graph.components[1];
    EXPECT_FALSE(metadata.originalBytes.has_value());
    EXPECT_EQ(metadata.records[0].parts[0].payload, metadataPayload(6000123));
    EXPECT_FALSE(metadata.records[0].parts[0].synthesizedReferences.has_value());
    const auto written = IWAArchive::objects(IWAPackage::serialized(graph.package().files[1].content));
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].payload, metadataPayload(6000123));
    EXPECT_EQ(written[1].payload, bytesOf("x"));

    // A chunk type byte other than 0 tells the bytes as read from a re-encoding.
    Bytes original = iwaFile({{2, 11006, metadataPayload(6000123)}});
    original[0] = 0x01;
    IWAObjectGraph current = IWAObjectGraph::read(IWAPackage::read(
        {{"Index/Document.iwa", iwaFile({{6000123, 1, {}}})}, {"Index/Metadata.iwa", original}}));
    current.syncPackageMetadata();
    EXPECT_EQ(IWAPackage::serialized(current.package().files[1].content), original);

    IWAObjectGraph withoutField = graphOf({{9, 1, {}}}, {{2, 11006, bytesOf("\x12\x01z")}});
    withoutField.syncPackageMetadata();
    EXPECT_EQ(withoutField.components[1].records[0].parts[0].payload, bytesOf("\x12\x01z\x08\x09"));
}

TEST(IWAObjectGraphTest, AGraphPackagedWithoutEditsGivesBackTheSameFiles) {
    const auto document = test::fixturesDirectory() / "pages5-file.pages";
    const auto stored = IWAPackage::readZip(test::readFileBytes(document));
    ASSERT_TRUE(stored.has_value());
    const IWAPackage again = IWAObjectGraph::read(*stored).package();
    // The graph lists the record files first, then the raw ones, each in package order.
    std::vector<std::pair<std::string, Bytes>> before, after;
    for (bool records : {true, false})
        for (const auto& file : stored->files)
            if ((file.content.asIwa() != nullptr) == records)
                before.push_back({file.path, IWAPackage::serialized(file.content)});
    for (const auto& file : again.files) after.push_back({file.path, IWAPackage::serialized(file.content)});
    EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace lumaro
