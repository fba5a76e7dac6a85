#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/Protobuf.hpp"
#include "LumaroPages/Base64.hpp"
#include "LumaroPages/PagesTableTemplate.hpp"
#include "LumaroPages/PagesTemplate.hpp"
#include "LumaroPages/StoredZipWriter.hpp"
#include "Support/TestSupport.hpp"

namespace lumaro {
namespace {

using Record = PagesTableTemplate::Record;

const Record* find(std::uint64_t id) {
    for (const auto& record : PagesTableTemplate::records())
        if (record.id == id) return &record;
    return nullptr;
}

Bytes recordBytes(std::uint64_t id) { return *Base64::decode(find(id)->base64); }
ProtobufMessage payloadOf(std::uint64_t id) { return ProtobufMessage(PagesTableTemplate::payload(recordBytes(id))); }

Bytes content(std::string_view path) { return *PagesTemplate::blank().content(path); }

// The identifiers, types and files the table copier is written against.
std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>> expectedRecords() {
    std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>> expected;
    const std::string ce = "Index/CalculationEngine-1732610.iwa";
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> engine = {
        {1734377, 4008}, {1734378, 4008}, {1734397, 4009}, {1734379, 4008}, {1734398, 4009}, {1734380, 4008},
        {1734381, 4008}, {1734382, 4008}, {1734383, 4008}, {1734384, 4008}, {1734385, 4008}, {1734386, 4008},
        {1734387, 4008}, {1732664, 4004}, {1734399, 6365}, {1733236, 6000}, {1734246, 633},  {1734247, 2001},
        {1734400, 634},  {1733247, 3097}, {1733271, 6001}, {1733250, 4004}, {1733217, 6267}, {1733259, 6305},
        {1733214, 6372}, {1733234, 6373}, {1733254, 6383}, {1733255, 6220}, {1733270, 6220}, {1733231, 6204},
        {1733227, 6204}, {1733222, 6316}, {1733230, 6267}, {1733246, 6317}, {1733224, 6318}, {1733233, 6267}};
    for (const auto& [id, type] : engine) expected.emplace_back(ce, id, type);
    expected.emplace_back("Index/Document.iwa", 1734389, 2003);
    expected.emplace_back("Index/DocumentStylesheet.iwa", 1734364, 2022);
    expected.emplace_back("Index/Metadata.iwa", 1734988, 11015);
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> view = {
        {1734980, 10147}, {1734981, 10131}, {1734982, 10133}, {1734983, 219},
        {1734984, 10132}, {1734985, 219},   {1734986, 10132}, {1734987, 3061}};
    for (const auto& [id, type] : view) expected.emplace_back("Index/ViewState.iwa", id, type);
    for (std::uint64_t id : {1733192, 1733193, 1733194, 1733196, 1733197, 1733198, 1733200, 1733203, 1733211, 1733212,
                             1733219, 1733766, 1733767, 1733768, 1733769, 1733770, 1733771, 1733772, 1733773, 1733774,
                             1733775, 1733776, 1734161})
        expected.emplace_back("Index/Tables/DataList-" + std::to_string(id) + "-2.iwa", id, 6005);
    expected.emplace_back("Index/Tables/DataList.iwa", 1733190, 6005);
    for (std::uint64_t id : {1733232, 1733252, 1733266})
        expected.emplace_back("Index/Tables/HeaderStorageBucket-" + std::to_string(id) + "-2.iwa", id, 6006);
    expected.emplace_back("Index/Tables/HeaderStorageBucket.iwa", 1733229, 6006);
    expected.emplace_back("Index/Tables/Tile-1733765-2.iwa", 1733765, 6002);
    expected.emplace_back("Index/Tables/Tile.iwa", 1733209, 6002);
    return expected;
}

TEST(PagesTableTemplate, RecordsHaveTheFixedIdentifiersTypesFilesAndOrder) {
    const auto expected = expectedRecords();
    const auto& records = PagesTableTemplate::records();
    ASSERT_EQ(records.size(), 77u);
    ASSERT_EQ(expected.size(), 77u);
    std::set<std::uint64_t> ids;
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(std::tie(records[i].file, records[i].id, records[i].type), expected[i]) << i;
        EXPECT_EQ(records[i].base64.find('\n'), std::string::npos);
        const auto bytes = Base64::decode(records[i].base64);
        ASSERT_TRUE(bytes) << records[i].id;
        const auto parsed = IWAArchive::parse(*bytes);  // header and payload agree on the length
        ASSERT_EQ(parsed.size(), 1u) << records[i].id;
        EXPECT_EQ(parsed[0].identifier, records[i].id);
        EXPECT_EQ(parsed[0].type, records[i].type);
        EXPECT_EQ(parsed[0].payload, PagesTableTemplate::payload(*bytes));
        ids.insert(records[i].id);
    }
    EXPECT_EQ(ids.size(), 77u);
    EXPECT_TRUE(ids.count(1734988));
    EXPECT_EQ(*ids.begin(), 1732664u);
    EXPECT_EQ(*ids.rbegin(), 1734988u);
    EXPECT_LT(*ids.rbegin() - *ids.begin(), 4096u);  // copies k and k + 1 never meet
    EXPECT_EQ(find(1733271)->file, "Index/CalculationEngine-1732610.iwa");
    EXPECT_EQ(find(1), nullptr);
}

TEST(PagesTableTemplate, ObjectsReferOnlyToTheSetOrToTheBlankDocument) {
    std::set<std::uint64_t> known;
    for (const auto& record : PagesTableTemplate::records()) known.insert(record.id);
    for (const auto& entry : PagesTemplate::blank().entries)
        if (entry.path.ends_with(".iwa"))
            for (const auto& object : IWAArchive::objects(content(entry.path))) known.insert(object.identifier);
    for (const auto& record : PagesTableTemplate::records()) {
        const Bytes bytes = recordBytes(record.id);
        std::uint64_t headerLength = bytes[0];  // headers here are shorter than 128 bytes
        ASSERT_LT(headerLength, 128u);
        const ProtobufMessage header(ByteView(bytes).subspan(1, headerLength));
        const auto info = header.message(2);
        ASSERT_TRUE(info);
        const auto packed = info->bytes(5);
        if (!packed) continue;
        std::size_t position = 0;
        while (position < packed->size()) {
            std::uint64_t value = 0;
            for (int shift = 0; position < packed->size(); shift += 7) {
                const auto byte = (*packed)[position++];
                value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
                if ((byte & 0x80) == 0) break;
            }
            EXPECT_TRUE(known.count(value)) << record.id << " refers to " << value;
        }
    }
}

TEST(PagesTableTemplate, RecordsTheBuilderEditsHaveTheirShape) {
    EXPECT_EQ(payloadOf(1734389).message(1)->varint(1), 1733236u);  // attachment -> table drawable
    EXPECT_EQ(payloadOf(1733236).message(2)->varint(1), 1733271u);  // drawable -> model
    const auto style = payloadOf(1733212);
    EXPECT_EQ(style.varint(1), 4u);
    EXPECT_EQ(style.messages(3).at(0).varint(1), 1u);
    EXPECT_EQ(style.messages(3).at(0).message(4)->varint(1), 1734364u);
    const auto sidecar = payloadOf(1733259);
    ASSERT_EQ(sidecar.fields().size(), 3u);  // no layers
    EXPECT_EQ(sidecar.varint(1), 2u);
    EXPECT_EQ(sidecar.varint(2), 4u);
    EXPECT_EQ(sidecar.varint(3), 5u);
    const auto model = payloadOf(1733271);
    EXPECT_EQ(model.varint(6), 5u);
    EXPECT_EQ(model.varint(7), 4u);
    EXPECT_EQ(model.varint(9), 1u);
    EXPECT_EQ(model.varint(10), 1u);
    EXPECT_FALSE(model.varint(11));
    EXPECT_EQ(model.varint(22), 0u);
    const Bytes name = model.bytes(8).value_or(Bytes{});
    EXPECT_EQ(std::string(name.begin(), name.end()), "Table 1");
    const auto header = payloadOf(1734364);
    EXPECT_EQ(header.message(1)->message(3)->varint(1), 1731526u);
    EXPECT_EQ(header.message(1)->message(5)->varint(1), 1732613u);
    EXPECT_EQ(header.message(12)->varint(1), 2u);  // centred
    EXPECT_EQ(payloadOf(1733229).messages(2).size(), 5u);
    EXPECT_EQ(payloadOf(1733266).messages(2).size(), 4u);
    EXPECT_EQ(PagesTableTemplate::payload(Bytes{0x05, 1, 2}), (Bytes{0x05, 1, 2}));  // not a framed record
    EXPECT_EQ(PagesTableTemplate::payload(Bytes{0x02, 8, 1}), Bytes{});              // framed, empty payload
    EXPECT_EQ(PagesTableTemplate::payload(Bytes{0x02, 8, 1, 0x18, 3}), (Bytes{0x18, 3}));
}

TEST(PagesTableTemplate, PackageMetadataListsEveryComponentOfTheOneTableDocument) {
    const auto file = Base64::decode(PagesTableTemplate::packageMetadata());
    ASSERT_TRUE(file);
    const auto objects = IWAArchive::objects(*file);
    ASSERT_FALSE(objects.empty());
    EXPECT_EQ(objects[0].identifier, 2u);
    EXPECT_EQ(objects[0].type, 11006u);
    const ProtobufMessage metadata(objects[0].payload);
    EXPECT_EQ(metadata.varint(1), 1734988u);
    std::map<std::string, ProtobufMessage> byLocator;
    int tableComponents = 0;
    for (const auto& component : metadata.messages(3)) {
        const auto preferred = component.bytes(2);
        ASSERT_TRUE(preferred);
        const auto locator = component.bytes(3) ? *component.bytes(3) : *preferred;
        byLocator.emplace(std::string(locator.begin(), locator.end()), component);
        if (std::string(preferred->begin(), preferred->end()).starts_with("Tables/")) ++tableComponents;
    }
    EXPECT_EQ(metadata.messages(3).size(), 36u);
    EXPECT_EQ(tableComponents, 30);
    for (const auto& record : PagesTableTemplate::records()) {
        if (!record.file.starts_with("Index/Tables/")) continue;
        const std::string locator = record.file.substr(6, record.file.size() - 10);
        ASSERT_TRUE(byLocator.count(locator)) << locator;
        EXPECT_EQ(byLocator.at(locator).varint(1), record.id) << locator;
    }
    for (const char* first : {"Tables/DataList", "Tables/Tile", "Tables/HeaderStorageBucket"})
        EXPECT_FALSE(byLocator.at(first).bytes(3)) << first;
    // The style list's paragraph style lives in another file: an external reference finds it.
    bool styleReferenced = false;
    for (const auto& reference : byLocator.at("Tables/DataList-1733212-2").messages(6))
        styleReferenced |= reference.varint(2) == 1734364u && reference.varint(1) == 1732613u;
    EXPECT_TRUE(styleReferenced);
}

// The blank template with the template table copied in unchanged, and a body
// "Before" followed by the table's attachment character.
Bytes tableDocument() {
    std::map<std::string, Bytes> files;
    for (const auto& entry : PagesTemplate::blank().entries) files[entry.path] = content(entry.path);
    std::map<std::string, Bytes> streams;
    for (const auto& record : PagesTableTemplate::records()) {
        if (record.file == "Index/Metadata.iwa") continue;
        const Bytes bytes = *Base64::decode(record.base64);
        if (record.file.starts_with("Index/Tables/")) {
            files[record.file] = IWAArchive::encode(bytes);
        } else {
            streams[record.file].insert(streams[record.file].end(), bytes.begin(), bytes.end());
        }
    }
    for (const auto& [path, stream] : streams) files[path] = IWAArchive::appendingRecordStream(stream, files[path]);
    files["Index/Metadata.iwa"] = *Base64::decode(PagesTableTemplate::packageMetadata());
    files["Index/Document.iwa"] = IWAArchive::replacingPayload(files["Index/Document.iwa"], 1732539, [](const Bytes& old) {
        ProtobufWriter body;
        const ProtobufMessage oldStorage(old);
        for (const auto& field : oldStorage.fields()) {
            if (field.number == 5) body.stringField(3, "Before\n\xEF\xBF\xBC");
            body.append(field);
            if (field.number == 8 || field.number == 7) {
                ProtobufWriter entry, reference, table;
                entry.varintField(1, 7);
                reference.varintField(1, 1734389);
                entry.messageField(2, reference.bytes());
                table.messageField(1, entry.bytes());
                if (field.number == 7) body.messageField(9, table.bytes());
            }
        }
        return body.take();
    });
    StoredZipWriter zip;
    for (const auto& [path, bytes] : files) zip.add(path, bytes);
    return zip.finish();
}

TEST(PagesTableTemplate, LibetonyekReadsAnUnmodifiedCopyAsAFiveByFourTable) {
    if (!test::commandExists("pages2html")) GTEST_SKIP() << "no libetonyek tools";
    test::TemporaryDirectory directory;
    const auto path = directory / "table.pages";
    test::writeFileBytes(path, tableDocument());
    const auto html = test::runCommand({"pages2html", path.string()});
    ASSERT_EQ(html.status, 0) << html.standardError;
    const std::string& out = html.standardOutput;
    ASSERT_NE(out.find("<table"), std::string::npos) << out;
    const std::string table = out.substr(out.find("<table"), out.find("</table>") - out.find("<table"));
    const auto count = [&](const std::regex& pattern) {
        return std::distance(std::sregex_iterator(table.begin(), table.end(), pattern), std::sregex_iterator());
    };
    EXPECT_EQ(count(std::regex("<tr[ >]")), 5) << table;
    EXPECT_EQ(count(std::regex("<td[ >]")), 20) << table;
    EXPECT_NE(out.find("Before"), std::string::npos);
    const auto text = test::runCommand({"pages2text", path.string()});
    EXPECT_EQ(text.status, 0) << text.standardError;
}

}  // namespace
}  // namespace lumaro
