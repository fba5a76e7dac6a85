// Exporting a document's images into a directory: real documents, and
// hand-built packages for the naming and no-overwrite rules.
#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/IWAContainer.hpp"
#include "LumaroIWA/Protobuf.hpp"
#include "LumaroPages/PagesFile.hpp"
#include "LumaroPages/PagesImageCatalog.hpp"
#include "Support/TestSupport.hpp"

using namespace lumaro;
using lumaro::test::fixturesDirectory;
using lumaro::test::readFileBytes;
using lumaro::test::TemporaryDirectory;
using lumaro::test::writeFileBytes;
using lumaro::test::writeZip;
namespace fs = std::filesystem;

namespace {

struct NamedBytes {
    std::string name;
    Bytes bytes;
    bool operator==(const NamedBytes&) const = default;
};

std::string lastComponent(const std::string& path) { return path.substr(path.rfind('/') + 1); }

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::vector<NamedBytes> writtenFiles(const std::vector<fs::path>& urls) {
    std::vector<NamedBytes> files;
    for (const fs::path& url : urls) files.push_back({url.filename().string(), readFileBytes(url)});
    return files;
}

// Everything in the directory, to see that no temporary file is left behind.
std::set<fs::path> directoryListing(const fs::path& directory) {
    return {fs::directory_iterator(directory), fs::directory_iterator()};
}

// A package directory whose one stream holds a body storage and, as objects
// of their own, data records (identifier, stored file name); `data` is put
// under Data/.
fs::path writePackage(const fs::path& package, const std::vector<std::pair<std::uint64_t, std::string>>& records,
                      const std::vector<std::pair<std::string, Bytes>>& data) {
    std::vector<IWAObject> objects;
    ProtobufWriter storage;
    storage.stringField(3, "Body");
    objects.push_back(IWAObject{1, 2001, storage.take()});
    std::uint64_t identifier = 100;
    for (const auto& [dataID, fileName] : records) {
        ProtobufWriter record;
        record.varintField(1, dataID);
        record.stringField(4, fileName);
        objects.push_back(IWAObject{identifier++, 11006, record.take()});
    }
    fs::create_directories(package / "Index");
    fs::create_directories(package / "Data");
    writeFileBytes(package / "Index" / "Document.iwa", IWAArchive::encode(objects));
    for (const auto& [name, bytes] : data) writeFileBytes(package / "Data" / name, bytes);
    return package;
}

// What an export should write, computed from the container listing: the
// catalogued images under their reference names, or every image file.
std::vector<NamedBytes> expectedCatalogued(const PagesFile& file, const std::vector<IWAContainer::Entry>& data) {
    std::vector<NamedBytes> expected;
    for (const auto& asset : file.document().imageAssets) {
        const auto found = std::find_if(data.rbegin(), data.rend(), [&](const IWAContainer::Entry& entry) {
            return lastComponent(entry.path) == asset.dataFileName;
        });
        if (found != data.rend()) expected.push_back({asset.referenceName, found->data});
    }
    return expected;
}

std::vector<NamedBytes> expectedEverything(const std::vector<IWAContainer::Entry>& data) {
    std::vector<NamedBytes> expected;
    for (const auto& entry : data)
        if (PagesImageCatalog::isImageName(lastComponent(entry.path)))
            expected.push_back({lastComponent(entry.path), entry.data});
    return expected;
}

class FixtureImageExport : public testing::TestWithParam<std::string> {};

// The Data/ files, from the root or from the one top folder of an iCloud ZIP.
std::vector<IWAContainer::Entry> dataEntries(const fs::path& document) {
    if (const auto folder = IWAContainer::topFolder(document))
        return IWAContainer::entriesInFolder(document, *folder, "Data/", "");
    return IWAContainer::entries(document, "Data/", "");
}

TEST_P(FixtureImageExport, WritesTheDocumentsDataBytes) {
    const fs::path document = fixturesDirectory() / GetParam();
    const PagesFile file(document);
    const auto data = dataEntries(document);
    ASSERT_FALSE(data.empty());

    TemporaryDirectory catalogued;
    const auto defaultExport = file.extractImages(catalogued.path());
    const auto expected = expectedCatalogued(file, data);
    EXPECT_EQ(writtenFiles(defaultExport), expected);
    EXPECT_EQ(directoryListing(catalogued.path()), std::set<fs::path>(defaultExport.begin(), defaultExport.end()));
    for (const auto& written : expected) EXPECT_EQ(written.name.find("-small"), std::string::npos) << written.name;

    TemporaryDirectory everything;
    const auto fullExport = file.extractImages(everything.path(), true);
    EXPECT_EQ(writtenFiles(fullExport), expectedEverything(data));
    EXPECT_GT(fullExport.size(), defaultExport.size());  // thumbnails come along
    EXPECT_EQ(directoryListing(everything.path()), std::set<fs::path>(fullExport.begin(), fullExport.end()));
}

INSTANTIATE_TEST_SUITE_P(Documents, FixtureImageExport,
                         testing::Values("envmon-userguide.pages", "dinosaurs-alphabet-design.pages",
                                         "projective-transform-readme.pages", "graph-keyword-search-design.pages",
                                         "pages5-extra-dir.pages"),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.substr(0, info.param.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(ImageExport, ThumbnailsBulletsAndPresetFillsNeedTheAllFlag) {
    // No data records in the objects, so the Data/ listing itself is filtered.
    TemporaryDirectory folder;
    const fs::path package = writePackage(folder / "doc.pages", {},
                                          {{"photo-3.png", bytesOf("photo")},
                                           {"image-small.png", bytesOf("thumb")},
                                           {"PresetImageFill-2.png", bytesOf("fill")},
                                           {"bullet_1.png", bytesOf("bullet")},
                                           {"notes.txt", bytesOf("text")},
                                           {"noextension", bytesOf("raw")}});
    const PagesFile file(package);
    ASSERT_TRUE(file.document().imageAssets.empty());

    const auto logical = file.extractImages(folder / "default");
    EXPECT_EQ(writtenFiles(logical), (std::vector<NamedBytes>{{"photo.png", bytesOf("photo")}}));

    const auto all = file.extractImages(folder / "all", true);
    EXPECT_EQ(writtenFiles(all), (std::vector<NamedBytes>{{"PresetImageFill-2.png", bytesOf("fill")},
                                                           {"bullet_1.png", bytesOf("bullet")},
                                                           {"image-small.png", bytesOf("thumb")},
                                                           {"photo-3.png", bytesOf("photo")}}));
}

TEST(ImageExport, RepeatedExportNumbersNamesAndOverwritesNothing) {
    TemporaryDirectory folder;
    const fs::path package = writePackage(folder / "doc.pages", {{1, "photo-3.png"}, {2, "photo-7.png"}, {3, "gone.png"}},
                                          {{"photo-3.png", bytesOf("first")}, {"photo-7.png", bytesOf("second")}});
    const PagesFile file(package);
    const fs::path out = folder / "nested" / "out";  // intermediate directories are made

    // gone.png is catalogued but has no data file: skipped without an error.
    EXPECT_EQ(writtenFiles(file.extractImages(out)),
              (std::vector<NamedBytes>{{"photo.png", bytesOf("first")}, {"photo-1.png", bytesOf("second")}}));
    EXPECT_EQ(writtenFiles(file.extractImages(out)),
              (std::vector<NamedBytes>{{"photo-2.png", bytesOf("first")}, {"photo-1-1.png", bytesOf("second")}}));
    EXPECT_EQ(writtenFiles(file.extractImages(out)),
              (std::vector<NamedBytes>{{"photo-3.png", bytesOf("first")}, {"photo-1-2.png", bytesOf("second")}}));

    EXPECT_EQ(readFileBytes(out / "photo.png"), bytesOf("first"));
    EXPECT_EQ(readFileBytes(out / "photo-1.png"), bytesOf("second"));
    EXPECT_EQ(directoryListing(out).size(), 6u);
}

TEST(ImageExport, ExistingFilesDirectoriesAndLinksKeepTheirNames) {
    TemporaryDirectory folder;
    const fs::path package = writePackage(folder / "doc.pages", {{1, "photo.png"}}, {{"photo.png", bytesOf("new")}});
    const PagesFile file(package);
    const fs::path out = folder / "out";
    fs::create_directories(out / "photo.png");                         // a directory holds the name
    fs::create_symlink(folder / "missing-target", out / "photo-1.png");  // a dangling link
    writeFileBytes(folder / "victim.png", bytesOf("keep"));
    fs::create_symlink(folder / "victim.png", out / "photo-2.png");  // a link to a file elsewhere

    const auto written = file.extractImages(out);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], out / "photo-3.png");
    EXPECT_EQ(readFileBytes(written[0]), bytesOf("new"));
    EXPECT_TRUE(fs::is_symlink(out / "photo-1.png"));
    EXPECT_FALSE(fs::exists(folder / "missing-target"));
    EXPECT_EQ(readFileBytes(folder / "victim.png"), bytesOf("keep"));
}

TEST(ImageExport, EntryNamesNeverLeaveTheTargetDirectory) {
    TemporaryDirectory folder;
    const fs::path document = folder / "doc.pages";
    ProtobufWriter storage;
    storage.stringField(3, "Body");
    writeZip(document, {{"Index/Document.iwa", IWAArchive::encode(std::vector<IWAObject>{{1, 2001, storage.take()}})},
                        {"Data/../../escape.png", bytesOf("a")},
                        {"Data/sub/inner.png", bytesOf("b")}});
    const PagesFile file(document);
    const fs::path out = folder / "one" / "two";
    const auto written = file.extractImages(out, true);
    EXPECT_EQ(writtenFiles(written),
              (std::vector<NamedBytes>{{"escape.png", bytesOf("a")}, {"inner.png", bytesOf("b")}}));
    for (const fs::path& url : written) EXPECT_EQ(url.parent_path(), out);
    EXPECT_FALSE(fs::exists(folder / "escape.png"));
    EXPECT_FALSE(fs::exists(folder / "one" / "escape.png"));
}

TEST(ImageExport, DefaultDirectoryAndFailures) {
    TemporaryDirectory folder;
    const fs::path package = writePackage(folder / "doc.pages", {{1, "photo.png"}}, {{"photo.png", bytesOf("x")}});
    const PagesFile file(package);

    const fs::path work = folder / "work";
    fs::create_directory(work);
    const fs::path previous = fs::current_path();
    fs::current_path(work);
    std::vector<fs::path> written;
    EXPECT_NO_THROW(written = file.extractImages());
    fs::current_path(previous);
    EXPECT_EQ(written.size(), 1u);
    EXPECT_EQ(readFileBytes(work / "photo.png"), bytesOf("x"));

    writeFileBytes(folder / "plain-file", bytesOf("in the way"));
    EXPECT_THROW(file.extractImages(folder / "plain-file"), fs::filesystem_error);
    EXPECT_EQ(readFileBytes(folder / "plain-file"), bytesOf("in the way"));

    fs::remove_all(package);
    try {
        file.extractImages(folder / "out");
        ADD_FAILURE() << "exported from a removed document";
    } catch (const PagesFileError& error) {
        EXPECT_EQ(error.kind(), PagesFileError::Case::fileNotFound);
    }
    EXPECT_FALSE(fs::exists(folder / "out"));
}

}  // namespace
