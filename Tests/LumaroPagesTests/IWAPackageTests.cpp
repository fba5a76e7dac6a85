#include <snappy.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "LumaroIWA/IWAContainer.hpp"
#include "LumaroIWA/Protobuf.hpp"
#include "LumaroPages/IWAPackage.hpp"
#include "LumaroPages/ZipReader.hpp"
#include "Support/TestSupport.hpp"

namespace lumaro {
namespace {

namespace fs = std::filesystem;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes concat(std::initializer_list<Bytes> pieces) {
    Bytes all;
    for (const Bytes& piece : pieces) all.insert(all.end(), piece.begin(), piece.end());
    return all;
}

// A record built by hand: identifier, then (MessageInfo, payload) pairs.
Bytes record(std::uint64_t identifier, const std::vector<std::pair<Bytes, Bytes>>& parts) {
    ProtobufWriter header;
    header.varintField(1, identifier);
    for (const auto& [info, payload] : parts) header.messageField(2, info);
    Bytes bytes = concat({ProtobufWriter::varint(header.bytes().size()), header.bytes()});
    for (const auto& [info, payload] : parts) bytes = concat({bytes, payload});
    return bytes;
}

Bytes info(std::uint64_t type, std::uint64_t length) {
    ProtobufWriter writer;
    writer.varintField(1, type);
    writer.varintField(3, length);
    return writer.take();
}

// One chunk compressed by libsnappy, independently of the code under test.
Bytes chunked(const Bytes& stream) {
    std::string block;
    snappy::Compress(reinterpret_cast<const char*>(stream.data()), stream.size(), &block);
    const auto n = static_cast<std::uint32_t>(block.size());
    return concat({Bytes{0, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                         static_cast<std::uint8_t>(n >> 16)},
                   bytesOf(block)});
}

Bytes unchunked(const Bytes& file) {
    Bytes stream;
    for (std::size_t p = 0; p + 4 <= file.size();) {
        const std::size_t n = file[p + 1] | (file[p + 2] << 8) | (file[p + 3] << 16);
        std::string block;
        EXPECT_TRUE(snappy::Uncompress(reinterpret_cast<const char*>(file.data() + p + 4), n, &block));
        stream = concat({stream, bytesOf(block)});
        p += 4 + n;
    }
    return stream;
}

const std::vector<IWARecord>& recordsOf(const IWAPackage& package, std::size_t index) {
    const auto* iwa = package.files.at(index).content.asIwa();
    EXPECT_NE(iwa, nullptr) << package.files.at(index).path;
    static const std::vector<IWARecord> none;
    return iwa ? iwa->records : none;
}

TEST(IWAPackageTest, RecordsKeepEveryMessageInfoFieldAndEndWhereTheStreamIsDamaged) {
    ProtobufWriter rich;  // duplicates, packed references and an unknown field, as read
    rich.varintField(1, 2001);
    rich.varintField(2, 7);
    rich.varintField(3, 2);
    rich.packedVarintField(5, {10, 11});
    rich.stringField(99, "kept");
    const Bytes stream = concat({
        record(5, {{rich.bytes(), bytesOf("AB")}, {info(3, 1), bytesOf("C")}}),
        record(6, {}),                               // no MessageInfo: a record without parts
        record(7, {{info(4, 1000), bytesOf("xy")}}),  // overruns: dropped, and the list ends
        record(8, {{info(4, 1), bytesOf("z")}}),
    });
    const IWAPackage package = IWAPackage::read({{"Index/Document.iwa", chunked(stream)}});
    const auto& records = recordsOf(package, 0);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].identifier, 5u);
    EXPECT_EQ(records[0].type(), 2001u);
    ASSERT_EQ(records[0].parts.size(), 2u);
    EXPECT_EQ(records[0].parts[0].payload, bytesOf("AB"));
    EXPECT_EQ(records[0].parts[1].payload, bytesOf("C"));
    ProtobufWriter reEmitted;
    for (const auto& field : records[0].parts[0].messageInfo) reEmitted.append(field);
    EXPECT_EQ(reEmitted.bytes(), rich.bytes());
    EXPECT_FALSE(records[0].parts[0].synthesizedReferences.has_value());
    EXPECT_EQ(records[1].identifier, 6u);
    EXPECT_TRUE(records[1].parts.empty());
    EXPECT_EQ(records[1].type(), 0u);
    EXPECT_EQ(records[1].framed(), (Bytes{0x02, 0x08, 0x06}));

    ProtobufWriter anonymous;  // a header without identifier ends the list
    anonymous.messageField(2, info(1, 0));
    const Bytes noIdentifier = concat({record(1, {}), ProtobufWriter::varint(anonymous.bytes().size()),
                                       anonymous.bytes(), record(2, {})});
    const Bytes truncatedVarint = concat({record(1, {}), Bytes{0x80}});
    const Bytes headerPastEnd = concat({record(1, {}), Bytes{0x05, 0x08}});
    for (const Bytes& damaged : {noIdentifier, truncatedVarint, headerPastEnd})
        EXPECT_EQ(recordsOf(IWAPackage::read({{"Index/A.iwa", chunked(damaged)}}), 0).size(), 1u);
}

TEST(IWAPackageTest, OnlyIndexArchivesThatDecompressAreHeldAsRecords) {
    const Bytes damaged = {0x00, 0x10, 0x00, 0x00, 0x01};  // chunk body cut short
    const Bytes good = chunked(record(1, {{info(1, 0), {}}}));
    const IWAPackage package = IWAPackage::read(
        {{"Index/Document.iwa", damaged}, {"Index/Tables/T.iwa", good}, {"Data/x.iwa", good},
         {"Index/notes.txt", bytesOf("n")}, {"Index/Empty.iwa", {}}});
    ASSERT_EQ(package.files.size(), 5u);
    EXPECT_NE(package.files[0].content.asRaw(), nullptr);
    EXPECT_NE(package.files[1].content.asIwa(), nullptr);
    EXPECT_NE(package.files[2].content.asRaw(), nullptr);
    EXPECT_NE(package.files[3].content.asRaw(), nullptr);
    EXPECT_TRUE(recordsOf(package, 4).empty());
    EXPECT_TRUE(package.zipMeta.empty());
    for (std::size_t i = 0; i < package.files.size(); ++i)
        EXPECT_EQ(IWAPackage::serialized(package.files[i].content),
                  (std::vector<Bytes>{damaged, good, good, bytesOf("n"), {}})[i]);
}

TEST(IWAPackageTest, FramingRewritesTheLengthInPlaceOrBuildsTheMessageInfoAfresh) {
    ProtobufWriter asRead;  // fields 1, 2, 3 in that order
    asRead.varintField(1, 2001);
    asRead.varintField(2, 9);
    asRead.varintField(3, 1);
    IWARecord grown;
    grown.identifier = 3;
    grown.parts.push_back({ProtobufMessage(asRead.bytes()).fields(), bytesOf("longer"), std::nullopt});
    // length prefix, {1: 3, 2: {1: 2001, 2: 9, 3: 6}}, payload
    EXPECT_EQ(grown.framed(), concat({Bytes{0x0B, 0x08, 0x03, 0x12, 0x07, 0x08, 0xD1, 0x0F, 0x10, 0x09, 0x18, 0x06},
                                      bytesOf("longer")}));

    ProtobufWriter odd;  // no varint field 3, but a length-delimited one and no length at all
    odd.varintField(1, 7);
    odd.stringField(3, "x");
    odd.varintField(4, 1);
    grown.parts = {{ProtobufMessage(odd.bytes()).fields(), bytesOf("ab"), std::nullopt},
                   {ProtobufMessage(Bytes{0x08, 0x07}).fields(), bytesOf("c"), std::nullopt}};
    EXPECT_EQ(grown.framed(), concat({Bytes{0x10, 0x08, 0x03, 0x12, 0x06, 0x08, 0x07, 0x18, 0x02, 0x20, 0x01,
                                            0x12, 0x04, 0x08, 0x07, 0x18, 0x01},
                                      bytesOf("abc")}));

    IWARecord made;
    made.identifier = 4;
    made.parts.push_back({ProtobufMessage(asRead.bytes()).fields(), bytesOf("p"), std::vector<std::uint64_t>{}});
    EXPECT_EQ(made.framed(), concat({Bytes{0x09, 0x08, 0x04, 0x12, 0x05, 0x08, 0xD1, 0x0F, 0x18, 0x01}, bytesOf("p")}));
    made.parts[0].synthesizedReferences = std::vector<std::uint64_t>{5, 300};
    EXPECT_EQ(made.framed(), concat({Bytes{0x0E, 0x08, 0x04, 0x12, 0x0A, 0x08, 0xD1, 0x0F, 0x18, 0x01,
                                           0x2A, 0x03, 0x05, 0xAC, 0x02},
                                     bytesOf("p")}));
}

TEST(IWAPackageTest, OnlyASynthesizedPartOrAMissingOriginalReframesTheFile) {
    const Bytes stream = concat({record(1, {{info(1, 1), bytesOf("a")}}), record(2, {{info(2, 1), bytesOf("b")}})});
    const Bytes original = concat({chunked(stream), Bytes{}});
    IWAPackage package = IWAPackage::read({{"Index/Document.iwa", original}});
    auto& iwa = std::get<IWAPackage::Content::Iwa>(package.files[0].content.value);
    EXPECT_EQ(IWAPackage::serialized(package.files[0].content), original);

    iwa.records[1].parts[0].synthesizedReferences = std::vector<std::uint64_t>{1};
    const Bytes reframed = IWAPackage::serialized(package.files[0].content);
    EXPECT_EQ(unchunked(reframed), concat({iwa.records[0].framed(), iwa.records[1].framed()}));

    EXPECT_TRUE(IWAPackage::serialized(IWAPackage::Content::iwa({}, std::nullopt)).empty());
}

TEST(IWAPackageTest, ReadingAZipKeepsTheHeadersOfTheLastEntryOfEachPath) {
    StoredZipWriter::Metadata first, second;
    first.dosTime = 1;
    second.dosTime = 2;
    second.centralExtra = {0xAA, 0xBB};
    StoredZipWriter writer;
    writer.add("Index/Document.iwa", chunked(record(1, {})), first);
    writer.add("Data/a.png", bytesOf("png"), first);
    writer.add("Data/a.png", bytesOf("png2"), second);
    const auto package = IWAPackage::readZip(writer.finish());
    ASSERT_TRUE(package.has_value());
    ASSERT_EQ(package->files.size(), 3u);
    EXPECT_EQ(package->zipMeta.size(), 2u);
    EXPECT_EQ(package->zipMeta.at("Data/a.png"), second);
    EXPECT_EQ(package->zipMeta.at("Index/Document.iwa"), first);
    EXPECT_FALSE(IWAPackage::readZip(bytesOf("not a zip")).has_value());
}

TEST(IWAPackageTest, DirectoryPackageZipsTheIndexAndWritesTheRestBesideIt) {
    StoredZipWriter::Metadata meta;
    meta.dosDate = 0x5A5A;
    meta.localExtra = {1, 2, 3, 4};
    IWAPackage package = IWAPackage::read({{"Index/Document.iwa", chunked(record(1, {}))},
                                           {"Data/deep/image.png", bytesOf("image")},
                                           {"Index/Metadata.txt", bytesOf("raw under Index")},
                                           {"preview.jpg", bytesOf("jpeg")}});
    package.zipMeta["Index/Document.iwa"] = meta;
    test::TemporaryDirectory directory;
    const fs::path target = directory / "out/Doc.pages";
    test::writeFileBytes(directory / "keep.txt", bytesOf("kept"));
    package.writeDirectoryPackage(target);

    const auto index = ZipReader::read(test::readFileBytes(target / "Index.zip"));
    ASSERT_TRUE(index.has_value());
    ASSERT_EQ(index->size(), 2u);
    EXPECT_EQ((*index)[0].path, "Index/Document.iwa");
    EXPECT_EQ((*index)[0].data, chunked(record(1, {})));
    EXPECT_EQ((*index)[0].meta, meta);
    EXPECT_EQ((*index)[1].meta, StoredZipWriter::Metadata());
    EXPECT_EQ(test::readFileBytes(target / "Data/deep/image.png"), bytesOf("image"));
    EXPECT_EQ(test::readFileBytes(target / "preview.jpg"), bytesOf("jpeg"));
    EXPECT_FALSE(fs::exists(target / "Index"));

    const IWAPackage loose = IWAPackage::read({{"a.txt", bytesOf("new")}});
    loose.writeDirectoryPackage(directory.path());  // overwrites, removes nothing
    EXPECT_EQ(test::readFileBytes(directory / "Index.zip"), StoredZipWriter().finish());
    EXPECT_EQ(test::readFileBytes(directory / "keep.txt"), bytesOf("kept"));
}

TEST(IWAPackageTest, PathsLeavingThePackageAreRefusedBeforeAnythingIsWritten) {
    test::TemporaryDirectory directory;
    for (const std::string& path : std::vector<std::string>{"/etc/x", "../x", "Data/../../x", "Index/../../x", "Data//x", "Data/", "",
                                   std::string("Data/a\0b", 8), "Data/.."}) {
        const IWAPackage package = IWAPackage::read({{"first.txt", bytesOf("1")}, {path, bytesOf("2")}});
        EXPECT_THROW(package.writeDirectoryPackage(directory / "inner/p"), IWAPackageError) << path;
        EXPECT_FALSE(fs::exists(directory / "inner")) << path;
    }
    EXPECT_TRUE(fs::is_empty(directory.path()));
}

std::vector<IWAPackage::SourceFile> sourcesOf(std::vector<IWAContainer::Entry> entries) {
    std::vector<IWAPackage::SourceFile> files;
    for (auto& entry : entries) files.push_back({std::move(entry.path), std::move(entry.data)});
    return files;
}

// Writes the package and compares what lands on disk with the files it was
// read from: "Index/" files inside Index.zip, in order, the rest beside it.
void expectWrittenAgain(const std::vector<IWAPackage::SourceFile>& files, const IWAPackage& package,
                        const std::string& document) {
    test::TemporaryDirectory out;
    package.writeDirectoryPackage(out.path());
    std::vector<IWAPackage::SourceFile> indexed;
    for (const auto& file : files) {
        if (file.path.rfind("Index/", 0) == 0)
            indexed.push_back(file);
        else
            EXPECT_EQ(test::readFileBytes(out / file.path), file.bytes) << document << " " << file.path;
    }
    const bool looseIndexZip = std::any_of(files.begin(), files.end(), [](auto& f) { return f.path == "Index.zip"; });
    if (looseIndexZip) return;
    const auto index = ZipReader::read(test::readFileBytes(out / "Index.zip"));
    ASSERT_TRUE(index.has_value()) << document;
    ASSERT_EQ(index->size(), indexed.size()) << document;
    for (std::size_t i = 0; i < indexed.size(); ++i) {
        EXPECT_EQ((*index)[i].path, indexed[i].path) << document;
        EXPECT_EQ((*index)[i].data, indexed[i].bytes) << document << " " << indexed[i].path;
    }
}

TEST(IWAPackageTest, FixtureDocumentsAreWrittenAgainByteForByte) {
    int documents = 0, storedDocuments = 0;
    for (const fs::path& document : test::fixtureDocuments()) {
        std::vector<IWAPackage::SourceFile> files;
        try {
            files = sourcesOf(IWAContainer::entries(document, "", ""));
        } catch (const Error&) {
            continue;  // the encrypted document, and the bare gzip stream
        }
        ++documents;
        expectWrittenAgain(files, IWAPackage::read(files), document.filename().string());

        if (!fs::is_regular_file(document)) continue;
        const Bytes bytes = test::readFileBytes(document);
        const auto stored = IWAPackage::readZip(bytes);
        if (!stored) continue;  // deflated entries
        const auto documentIWA = std::find_if(stored->files.begin(), stored->files.end(),
                                              [](const auto& f) { return f.path == "Index/Document.iwa"; });
        if (documentIWA == stored->files.end()) continue;
        ++storedDocuments;
        ASSERT_NE(documentIWA->content.asIwa(), nullptr) << document;
        EXPECT_GT(documentIWA->content.asIwa()->records.size(), 10u) << document;
        // Local headers may lie in another order than the directory lists them,
        // so the archives compare by entries, headers included, not by bytes.
        StoredZipWriter rezipped;
        for (const auto& file : stored->files)
            rezipped.add(file.path, IWAPackage::serialized(file.content), stored->zipMeta.at(file.path));
        EXPECT_EQ(ZipReader::read(rezipped.finish()), ZipReader::read(bytes)) << document;
    }
    EXPECT_GE(documents, 20);
    EXPECT_GE(storedDocuments, 12);
}

TEST(IWAPackageTest, AnIndexZipPackageIsWrittenAgainByteForByte) {
    const fs::path document = test::fixturesDirectory() / "projective-transform-readme.pages";
    if (!fs::is_directory(document)) GTEST_SKIP() << "fixture missing";
    const Bytes indexZip = test::readFileBytes(document / "Index.zip");
    auto package = IWAPackage::readZip(indexZip);
    ASSERT_TRUE(package.has_value());
    std::vector<IWAPackage::SourceFile> loose = sourcesOf(IWAContainer::entries(document, "", ""));
    std::erase_if(loose, [](const auto& f) { return f.path == "Index.zip"; });
    ASSERT_FALSE(loose.empty());
    for (auto& file : IWAPackage::read(loose).files) package->files.push_back(std::move(file));

    test::TemporaryDirectory out;
    package->writeDirectoryPackage(out.path());
    EXPECT_EQ(test::readFileBytes(out / "Index.zip"), indexZip);
    for (const auto& file : loose) EXPECT_EQ(test::readFileBytes(out / file.path), file.bytes) << file.path;
    EXPECT_EQ(IWAContainer::entries(out.path(), "", "").size(), loose.size() + 1);
}

}  // namespace
}  // namespace lumaro
