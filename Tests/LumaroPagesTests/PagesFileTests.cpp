// The format decision of PagesFile, on documents made in a temporary folder.
#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/IWAContainer.hpp"
#include "LumaroIWA/Protobuf.hpp"
#include "LumaroPages/PagesFile.hpp"
#include "LumaroPages/PagesParser.hpp"
#include "Support/TestSupport.hpp"

using namespace lumaro;
using lumaro::test::TemporaryDirectory;
using lumaro::test::writeFileBytes;
using lumaro::test::writeFileText;
using lumaro::test::writeZip;
namespace fs = std::filesystem;

namespace {

// An .iwa stream with one body text storage holding `text`.
Bytes bodyStream(const std::string& text) {
    ProtobufWriter storage;
    storage.stringField(3, text);
    return IWAArchive::encode(std::vector<IWAObject>{IWAObject{1, 2001, storage.take()}});
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

PagesFileError::Case failureOf(const fs::path& path) {
    try {
        PagesFile file(path);
    } catch (const PagesFileError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no PagesFileError for " << path;
    return PagesFileError::Case::unreadableArchive;
}

TEST(PagesFile, MissingPathIsFileNotFound) {
    TemporaryDirectory folder;
    const fs::path missing = folder / "absent.pages";
    try {
        PagesFile file(missing);
        FAIL() << "opened a missing document";
    } catch (const PagesFileError& error) {
        EXPECT_EQ(error.kind(), PagesFileError::Case::fileNotFound);
        EXPECT_EQ(std::string(error.what()), "Pages file not found at " + missing.string());
    }
}

TEST(PagesFile, IWAEntriesWinOverIndexXML) {
    TemporaryDirectory folder;
    const fs::path package = folder / "doc.pages";
    fs::create_directories(package / "Index");
    writeFileBytes(package / "Index" / "Document.iwa", bodyStream("Hello"));
    writeFileText(package / "index.xml", "<not-read/>");
    const PagesFile file(package);
    ASSERT_EQ(file.document().paragraphs.size(), 1u);
    EXPECT_EQ(file.document().paragraphs[0].text, "Hello");
    EXPECT_EQ(file.url(), package);
}

TEST(PagesFile, GzippedLegacyIndexAndUnrecognisedContainers) {
    TemporaryDirectory folder;
    const fs::path gzipPackage = folder / "gz.pages";
    fs::create_directories(gzipPackage);
    writeFileText(gzipPackage / "index.xml.gz", "gz");
    EXPECT_EQ(failureOf(gzipPackage), PagesFileError::Case::legacyGzipUnsupported);

    const fs::path gzipZip = folder / "gz-zip.pages";
    writeZip(gzipZip, {{"index.xml.gz", bytesOf("gz")}, {"buildVersionHistory.plist", bytesOf("x")}});
    EXPECT_EQ(failureOf(gzipZip), PagesFileError::Case::legacyGzipUnsupported);

    const fs::path empty = folder / "empty.pages";
    fs::create_directories(empty / "Data");
    EXPECT_EQ(failureOf(empty), PagesFileError::Case::notAnIWorkDocument);

    const fs::path other = folder / "other.pages";
    writeZip(other, {{"Data/picture.png", bytesOf("png")}, {"readme.txt", bytesOf("text")}});
    try {
        PagesFile file(other);
        FAIL();
    } catch (const PagesFileError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Not a Pages document (no Index/*.iwa objects and no index.xml) at " + other.string());
    }
}

TEST(PagesFile, PackageWrappedInOneTopFolderOfAZip) {
    TemporaryDirectory folder;
    const fs::path loose = folder / "loose.pages";
    writeZip(loose, {{"Name.pages/Index/Document.iwa", bodyStream("Loose index")},
                     {"Name.pages/Metadata/DocumentIdentifier", bytesOf("id")}});
    EXPECT_EQ(PagesFile(loose).document().paragraphs.at(0).text, "Loose index");

    const fs::path innerZip = folder / "Index.zip";
    writeZip(innerZip, {{"Index/Document.iwa", bodyStream("Inner zip")}});
    const fs::path wrapped = folder / "wrapped.pages";
    writeZip(wrapped, {{"Name.pages/Index.zip", lumaro::test::readFileBytes(innerZip)},
                       {"Name.pages/Data/x.png", bytesOf("png")}});
    EXPECT_EQ(PagesFile(wrapped).document().paragraphs.at(0).text, "Inner zip");

    const fs::path gzipInside = folder / "gz-inside.pages";
    writeZip(gzipInside, {{"Name.pages/index.xml.gz", bytesOf("gz")}});
    EXPECT_EQ(failureOf(gzipInside), PagesFileError::Case::legacyGzipUnsupported);

    // Two top folders: not one wrapped package.
    const fs::path twoFolders = folder / "two.pages";
    writeZip(twoFolders, {{"A.pages/Index/Document.iwa", bodyStream("a")}, {"B/readme.txt", bytesOf("b")}});
    EXPECT_EQ(failureOf(twoFolders), PagesFileError::Case::notAnIWorkDocument);
}

TEST(PagesFile, DamagedStreamsAreSkipped) {
    TemporaryDirectory folder;
    const fs::path package = folder / "damaged.pages";
    fs::create_directories(package / "Index");
    writeFileBytes(package / "Index" / "Document.iwa", Bytes{0x00, 0x05});  // truncated chunk header
    const PagesFile onlyDamaged(package);
    EXPECT_TRUE(onlyDamaged.document().paragraphs.empty());
    EXPECT_EQ(onlyDamaged.document().markdown(), "");

    // A damaged stream beside a good one: the good one still counts.
    writeFileBytes(package / "Index" / "Other.iwa", bodyStream("kept"));
    const PagesFile mixed(package);
    ASSERT_EQ(mixed.document().paragraphs.size(), 1u);
    EXPECT_EQ(mixed.document().paragraphs[0].text, "kept");
}

TEST(PagesFile, EarlierStreamWinsForADuplicateIdentifier) {
    std::vector<IWAContainer::Entry> entries;
    ProtobufWriter first, second;
    first.stringField(3, "first");
    second.stringField(3, "second");
    entries.push_back({"Index/A.iwa", IWAArchive::encode(std::vector<IWAObject>{{1, 2001, first.take()}})});
    entries.push_back({"Index/B.iwa", Bytes{0xFF}});
    entries.push_back({"Index/C.iwa", IWAArchive::encode(std::vector<IWAObject>{{1, 2001, second.take()}})});
    const IWAObjectStore store = PagesParser::loadObjectStore(std::move(entries));
    EXPECT_EQ(store.objects().size(), 2u);
    EXPECT_EQ(PagesParser::storageText(store.object(1)->payload), "first");
}

}  // namespace
