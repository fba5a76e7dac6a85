#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "LumaroIWA/IWAContainer.hpp"
#include "Support/TestSupport.hpp"

namespace fs = std::filesystem;
using lumaro::Bytes;
using lumaro::IWAContainer;
using lumaro::IWAContainerError;
using lumaro::ZipExtractionError;
using namespace lumaro::test;

namespace {

// Writes a ZIP with Python's zipfile; each entry is "name:s:text" (stored) or
// "name:d:text" (deflated), kept in the given order.
void writePythonZip(const fs::path& output, const std::vector<std::string>& entries) {
    static const std::string script =
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "    for item in sys.argv[2:]:\n"
        "        name, method, text = item.split(':', 2)\n"
        "        kind = zipfile.ZIP_DEFLATED if method == 'd' else zipfile.ZIP_STORED\n"
        "        z.writestr(zipfile.ZipInfo(name), text.encode(), compress_type=kind)\n";
    std::vector<std::string> command{"python3", "-c", script, output.string()};
    command.insert(command.end(), entries.begin(), entries.end());
    const auto result = runCommand(command);
    ASSERT_EQ(result.status, 0) << result.standardError;
}

void putUInt32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (int shift = 0; shift < 4; ++shift) bytes.at(offset + shift) = static_cast<std::uint8_t>(value >> (8 * shift));
}

// Offset of the first central directory header of a ZIP.
std::size_t centralHeader(const Bytes& zip) {
    for (std::size_t at = 0; at + 4 <= zip.size(); ++at)
        if (zip[at] == 'P' && zip[at + 1] == 'K' && zip[at + 2] == 1 && zip[at + 3] == 2) return at;
    ADD_FAILURE() << "no central directory";
    return 0;
}

// Offset of the data of the entry `name`, found by its local header.
std::size_t localDataOffset(const Bytes& zip, const std::string& name) {
    for (std::size_t at = 0; at + 30 <= zip.size(); ++at) {
        if (!(zip[at] == 'P' && zip[at + 1] == 'K' && zip[at + 2] == 3 && zip[at + 3] == 4)) continue;
        const std::size_t nameLength = zip[at + 26] | (zip[at + 27] << 8);
        const std::size_t extraLength = zip[at + 28] | (zip[at + 29] << 8);
        if (std::string(zip.begin() + at + 30, zip.begin() + at + 30 + nameLength) == name)
            return at + 30 + nameLength + extraLength;
    }
    ADD_FAILURE() << "no local header for " << name;
    return 0;
}

std::vector<std::string> paths(const std::vector<IWAContainer::Entry>& entries) {
    std::vector<std::string> result;
    for (const auto& entry : entries) result.push_back(entry.path);
    return result;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

template <typename Thrown, typename Action>
std::string messageOf(Action action) {
    try {
        action();
    } catch (const Thrown& error) {
        return error.what();
    }
    ADD_FAILURE() << "nothing was thrown";
    return "";
}

}  // namespace

TEST(IWAContainer, EveryFixtureListsItsIndexStreams) {
    // Counts of Index/*.iwa as the fixtures' manifest gives them; legacy
    // documents have none, and the iCloud document keeps its own under a top
    // folder.
    const std::map<std::string, std::size_t> expected{
        {"adtiming-faq.pages", 7}, {"dinosaurs-alphabet-design.pages", 7}, {"doofinder-manual-2018.pages", 247},
        {"envmon-userguide.pages", 97}, {"gomap-architecture-2023.pages", 7},
        {"graph-keyword-search-design.pages", 8}, {"imusify-terms.pages", 7}, {"kissofshame-userguide.pages", 7},
        {"lorem-ipsum-pages09.pages", 0}, {"mlrv-documentation.pages", 0}, {"pages5-extra-dir.pages", 0},
        {"pages5-file.pages", 8}, {"pinewood-derby.pages", 7}, {"projective-transform-readme.pages", 8},
        {"scenetransition-manual.pages", 7}, {"smsd-manual.pages", 0}, {"testPages.pages", 0},
        {"testPages2013.pages", 20}, {"testPagesHeadersFootersAlphaLower.pages", 0},
        {"testPagesHeadersFootersFootnotes.pages", 0}, {"testPagesLayout.pages", 0},
        {"testPagesPwdProtected.pages", 0}};
    std::size_t checked = 0;
    for (const auto& document : fixtureDocuments()) {
        const std::string name = document.filename().string();
        if (name == "pages4.xml.gz") continue;  // a bare gzip stream, not a container
        ASSERT_TRUE(expected.count(name)) << name;
        const auto entries = IWAContainer::entries(document, "Index/", ".iwa");
        EXPECT_EQ(entries.size(), expected.at(name)) << name;
        for (const auto& entry : entries) {
            EXPECT_TRUE(entry.path.starts_with("Index/") && entry.path.ends_with(".iwa")) << entry.path;
            EXPECT_FALSE(entry.data.empty()) << name << " " << entry.path;
        }
        if (!entries.empty()) EXPECT_THAT(paths(entries), testing::Contains("Index/Document.iwa")) << name;
        ++checked;
    }
    EXPECT_EQ(checked, expected.size());
}

TEST(IWAContainer, ZipEntriesMatchAnIndependentUnzip) {
    TemporaryDirectory scratch;
    const fs::path document = fixturesDirectory() / "pages5-file.pages";
    ASSERT_EQ(runCommand({"unzip", "-q", document.string(), "-d", scratch.path().string()}).status, 0);
    const auto entries = IWAContainer::entries(document, "Index/", ".iwa");
    ASSERT_EQ(paths(entries).front(), "Index/Document.iwa");  // archive order, not sorted
    EXPECT_EQ(paths(entries)[2], "Index/Tables/DataList.iwa");  // the stored path, subfolder kept
    for (const auto& entry : entries) EXPECT_EQ(entry.data, readFileBytes(scratch / entry.path)) << entry.path;
    EXPECT_EQ(IWAContainer::data(document, "Metadata/DocumentIdentifier"),
              readFileBytes(scratch / "Metadata/DocumentIdentifier"));
    EXPECT_EQ(IWAContainer::data(document, "index.xml"), std::nullopt);
    EXPECT_EQ(IWAContainer::data(document, "Index/document.iwa"), std::nullopt);  // exact path only
}

TEST(IWAContainer, PackageDirectoryListsNestedFilesUnderThePrefixSorted) {
    TemporaryDirectory package;
    fs::create_directories(package / "Index/Tables");
    writeFileText(package / "Index/Document.iwa", "document");
    writeFileText(package / "Index/Tables/DataList.iwa", "data list");
    writeFileText(package / "Index/notes.txt", "not a stream");
    writeFileText(package / "Index.zip", "never read: loose files come first");
    const auto entries = IWAContainer::entries(package.path(), "Index/", ".iwa");
    EXPECT_EQ(paths(entries), (std::vector<std::string>{"Index/DataList.iwa", "Index/Document.iwa"}));
    EXPECT_EQ(entries[0].data, bytesOf("data list"));

    // A symbolic link is not a regular file of the package.
    fs::create_symlink(package / "Index/Document.iwa", package / "Index/Linked.iwa");
    EXPECT_EQ(IWAContainer::entries(package.path(), "Index/", ".iwa").size(), 2u);
}

TEST(IWAContainer, PackageDirectoryFallsBackToIndexZipInArchiveOrder) {
    TemporaryDirectory package;
    writePythonZip(package / "Index.zip",
             {"Index/:s:", "Index/Zeta.iwa:d:zeta zeta zeta", "Index/Alpha.iwa:s:alpha", "Other/Beta.iwa:s:beta"});
    const auto entries = IWAContainer::entries(package.path(), "Index/", ".iwa");
    EXPECT_EQ(paths(entries), (std::vector<std::string>{"Index/Zeta.iwa", "Index/Alpha.iwa"}));
    EXPECT_EQ(entries[0].data, bytesOf("zeta zeta zeta"));
    // The directory entry "Index/" is never listed, even with an empty suffix.
    EXPECT_THAT(paths(IWAContainer::entries(package.path(), "Index/", "")), testing::Not(testing::Contains("Index/")));
    EXPECT_THAT(paths(IWAContainer::entries(package / "Index.zip", "", "")), testing::Not(testing::Contains("Index/")));

    TemporaryDirectory empty;
    writeFileText(empty / "preview.jpg", "jpeg");
    EXPECT_TRUE(IWAContainer::entries(empty.path(), "Index/", ".iwa").empty());
}

TEST(IWAContainer, DataOfADirectoryReadsOnlyExistingFiles) {
    TemporaryDirectory package;
    fs::create_directories(package / "Folder");
    writeFileText(package / "index.xml", "<sl:document/>");
    EXPECT_EQ(IWAContainer::data(package.path(), "index.xml"), bytesOf("<sl:document/>"));
    EXPECT_EQ(IWAContainer::data(package.path(), "index.xml.gz"), std::nullopt);
    EXPECT_EQ(IWAContainer::data(package.path(), "Folder"), std::nullopt);
    EXPECT_EQ(IWAContainer::data(package / "missing.pages", "index.xml"), std::nullopt);
}

TEST(IWAContainer, ArchivesThatCannotBeOpenedNameTheirLastPathComponent) {
    TemporaryDirectory scratch;
    EXPECT_EQ(messageOf<IWAContainerError>([&] { IWAContainer::entries(scratch / "missing.pages", "Index/", ".iwa"); }),
              "Could not read the document archive at missing.pages: No such file");

    writeFileText(scratch / "plain.pages", "This is a text file, not a ZIP archive at all.\n");
    EXPECT_EQ(messageOf<IWAContainerError>([&] { IWAContainer::entries(scratch / "plain.pages", "Index/", ".iwa"); }),
              "Could not read the document archive at plain.pages: Not a zip archive");

    Bytes truncated = readFileBytes(fixturesDirectory() / "pages5-file.pages");
    truncated.resize(truncated.size() / 2);
    writeFileBytes(scratch / "truncated.pages", truncated);
    EXPECT_EQ(
        messageOf<IWAContainerError>([&] { IWAContainer::entries(scratch / "truncated.pages", "Index/", ".iwa"); }),
        "Could not read the document archive at truncated.pages: Not a zip archive");
    EXPECT_EQ(IWAContainer::data(scratch / "truncated.pages", "index.xml"), std::nullopt);

    const IWAContainerError bare(scratch / "bare.pages", std::nullopt);
    EXPECT_STREQ(bare.what(), "Could not read the document archive at bare.pages");
}

TEST(IWAContainer, DamagedEntriesThrowTheReadersErrorNamingTheEntry) {
    TemporaryDirectory scratch;
    writePythonZip(scratch / "crc.pages", {"Index/Document.iwa:s:the payload of the document stream"});
    Bytes zip = readFileBytes(scratch / "crc.pages");
    putUInt32(zip, 14, 0xDEADBEEF);                   // local header CRC-32
    putUInt32(zip, centralHeader(zip) + 16, 0xDEADBEEF);  // central directory CRC-32
    writeFileBytes(scratch / "crc.pages", zip);
    EXPECT_EQ(messageOf<ZipExtractionError>([&] { IWAContainer::entries(scratch / "crc.pages", "Index/", ".iwa"); }),
              "Could not extract the entry Index/Document.iwa from the document archive: CRC error");
    EXPECT_EQ(IWAContainer::data(scratch / "crc.pages", "Index/Document.iwa"), std::nullopt);
    EXPECT_TRUE(IWAContainer::entries(scratch / "crc.pages", "Data/", "").empty());  // not extracted, not checked

    // Damaged deflate data in a real document.
    Bytes document = readFileBytes(fixturesDirectory() / "pages5-file.pages");
    const std::size_t data = localDataOffset(document, "Index/Document.iwa");
    for (std::size_t at = data + 40; at < data + 200; ++at) document[at] ^= 0x5A;
    writeFileBytes(scratch / "damaged.pages", document);
    EXPECT_THAT(
        messageOf<ZipExtractionError>([&] { IWAContainer::entries(scratch / "damaged.pages", "Index/", ".iwa"); }),
        testing::StartsWith("Could not extract the entry Index/Document.iwa from the document archive: "));
}

TEST(IWAContainer, EntriesAreBoundedByTheirDeclaredSize) {
    TemporaryDirectory scratch;
    const std::string payload(4096, 'x');
    writePythonZip(scratch / "huge.pages", {"Index/Document.iwa:d:" + payload});
    Bytes zip = readFileBytes(scratch / "huge.pages");
    putUInt32(zip, 22, 0x80000000u);                    // local uncompressed size: 2 GiB
    putUInt32(zip, centralHeader(zip) + 24, 0x80000000u);  // central uncompressed size
    writeFileBytes(scratch / "huge.pages", zip);
    EXPECT_EQ(messageOf<IWAContainerError>([&] { IWAContainer::entries(scratch / "huge.pages", "Index/", ".iwa"); }),
              "Could not read the document archive at huge.pages: the entry Index/Document.iwa declares 2147483648 "
              "bytes, more than the 1073741824 bytes that can be read into memory");
    EXPECT_EQ(IWAContainer::data(scratch / "huge.pages", "Index/Document.iwa"), std::nullopt);

    // An entry that inflates to more than it declares is damaged.
    zip = readFileBytes(scratch / "huge.pages");
    putUInt32(zip, 22, 100);
    putUInt32(zip, centralHeader(zip) + 24, 100);
    writeFileBytes(scratch / "short.pages", zip);
    EXPECT_EQ(messageOf<ZipExtractionError>([&] { IWAContainer::entries(scratch / "short.pages", "Index/", ".iwa"); }),
              "Could not extract the entry Index/Document.iwa from the document archive: the entry holds more data "
              "than its header declares");
}

TEST(IWAContainer, TopFolderPackageReadsItsInnerIndexZip) {
    const fs::path document = fixturesDirectory() / "pages5-extra-dir.pages";
    const auto folder = IWAContainer::topFolder(document);
    ASSERT_EQ(folder, "Project Proposal.pages");

    // The same package unpacked to a directory is read through the file
    // system and libzip on a file; both roads must agree.
    TemporaryDirectory scratch;
    ASSERT_EQ(runCommand({"unzip", "-q", document.string(), "-d", scratch.path().string()}).status, 0);
    const auto unpacked = IWAContainer::entries(scratch / *folder, "Index/", ".iwa");
    const auto wrapped = IWAContainer::entriesInFolder(document, *folder, "Index/", ".iwa");
    EXPECT_EQ(wrapped.size(), 36u);
    EXPECT_THAT(paths(wrapped), testing::Contains("Index/Document.iwa"));
    EXPECT_EQ(wrapped, unpacked);

    EXPECT_EQ(paths(IWAContainer::entriesInFolder(document, *folder, "Data/", "")),
              (std::vector<std::string>{"Data/aa043252_750x683-small-12.jpeg"}));
    EXPECT_EQ(IWAContainer::dataInFolder(document, *folder, "Metadata/DocumentIdentifier"),
              readFileBytes(scratch / *folder / "Metadata/DocumentIdentifier"));
    EXPECT_EQ(IWAContainer::dataInFolder(document, *folder, "index.xml"), std::nullopt);
    EXPECT_TRUE(IWAContainer::entriesInFolder(document, *folder, "Preview/", ".jpg").empty());
}

TEST(IWAContainer, TopFolderIsAbsentUnlessEveryEntrySharesOne) {
    TemporaryDirectory scratch;
    EXPECT_EQ(IWAContainer::topFolder(fixturesDirectory() / "pages5-file.pages"), std::nullopt);
    EXPECT_EQ(IWAContainer::topFolder(fixturesDirectory() / "projective-transform-readme.pages"), std::nullopt);
    EXPECT_EQ(IWAContainer::topFolder(scratch / "missing.pages"), std::nullopt);

    writePythonZip(scratch / "two.zip", {"A.pages/Index/Document.iwa:s:a", "B.pages/Index/Document.iwa:s:b"});
    EXPECT_EQ(IWAContainer::topFolder(scratch / "two.zip"), std::nullopt);
    writePythonZip(scratch / "root.zip", {"A.pages/Index/Document.iwa:s:a", "preview.jpg:s:p"});
    EXPECT_EQ(IWAContainer::topFolder(scratch / "root.zip"), std::nullopt);

    // Loose Index/ files inside the folder come before an Index.zip beside them.
    writePythonZip(scratch / "loose.zip", {"Doc.pages/:s:", "Doc.pages/Index/Document.iwa:s:loose", "Doc.pages/Index.zip:s:x"});
    ASSERT_EQ(IWAContainer::topFolder(scratch / "loose.zip"), "Doc.pages");
    const auto entries = IWAContainer::entriesInFolder(scratch / "loose.zip", "Doc.pages", "Index/", ".iwa");
    ASSERT_EQ(paths(entries), std::vector<std::string>{"Index/Document.iwa"});
    EXPECT_EQ(entries[0].data, bytesOf("loose"));

    // An inner Index.zip that is no ZIP is an archive that cannot be read.
    writePythonZip(scratch / "bad.zip", {"Doc.pages/Index.zip:s:not a zip"});
    EXPECT_THAT(messageOf<IWAContainerError>(
                    [&] { IWAContainer::entriesInFolder(scratch / "bad.zip", "Doc.pages", "Index/", ".iwa"); }),
                testing::StartsWith("Could not read the document archive at bad.zip: "));
}

TEST(IWAContainer, EntriesOfAnUnknownMethodCannotBeRead) {
    // The password-protected document stores both its entries with a private
    // compression method: listing them fails, reading one gives absent.
    const fs::path document = fixturesDirectory() / "testPagesPwdProtected.pages";
    EXPECT_TRUE(IWAContainer::entries(document, "Index/", ".iwa").empty());
    EXPECT_EQ(IWAContainer::data(document, "index.xml"), std::nullopt);
    EXPECT_EQ(IWAContainer::data(document, "buildVersionHistory.plist"), std::nullopt);
    EXPECT_EQ(messageOf<ZipExtractionError>([&] { IWAContainer::entries(document, "", ".xml"); }),
              "Could not extract the entry index.xml from the document archive: Compression method not supported");
}
