#include <sys/mman.h>
#include <zip.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "LumaroPages/CRC32.hpp"
#include "LumaroPages/StoredZipWriter.hpp"
#include "LumaroPages/ZipReader.hpp"
#include "Support/TestSupport.hpp"

namespace lumaro {
namespace {

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes randomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
    return bytes;
}

TEST(CRC32Test, MatchesTheStandardCheckValues) {
    EXPECT_EQ(CRC32::checksum(Bytes{}), 0u);
    EXPECT_EQ(CRC32::checksum(bytesOf("123456789")), 0xCBF43926u);
    EXPECT_EQ(CRC32::checksum(bytesOf("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
    EXPECT_EQ(CRC32::checksum(Bytes(32, 0xFF)), 0xFF6CAB0Bu);
}

TEST(StoredZipWriterTest, EmptyWriterGivesTheBareEndRecord) {
    const Bytes expected = {0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(StoredZipWriter().finish(), expected);
}

TEST(StoredZipWriterTest, TwoSmallEntriesGiveThe181ByteLayout) {
    StoredZipWriter writer;
    writer.add("a", bytesOf("x"));
    writer.add("b", bytesOf("yz"));
    const Bytes expected = {
        // local header of "a" at 0
        0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x00,
        0x83, 0x16, 0xDC, 0x8C, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
        'a', 'x',
        // local header of "b" at 32
        0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x00,
        0x62, 0x48, 0xF4, 0x0F, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
        'b', 'y', 'z',
        // central directory at 65
        0x50, 0x4B, 0x01, 0x02, 0x14, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x00,
        0x83, 0x16, 0xDC, 0x8C, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 'a',
        0x50, 0x4B, 0x01, 0x02, 0x14, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x00,
        0x62, 0x48, 0xF4, 0x0F, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 'b',
        // end record: 2 entries, directory of 94 bytes at 65
        0x50, 0x4B, 0x05, 0x06, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00,
        0x5E, 0x00, 0x00, 0x00, 0x41, 0x00, 0x00, 0x00, 0x00, 0x00,
    };
    ASSERT_EQ(expected.size(), 181u);
    EXPECT_EQ(writer.finish(), expected);
}

TEST(StoredZipWriterTest, HeaderValuesAndExtraFieldsAreWrittenWhereTheyBelong) {
    StoredZipWriter::Metadata meta;
    meta.dosTime = 0x7A3C;
    meta.dosDate = 0x5A21;
    meta.versionMadeBy = 0x031E;
    meta.versionNeeded = 10;
    meta.flags = 0x0800;
    meta.internalAttributes = 1;
    meta.externalAttributes = 0x81A40000u;
    meta.localExtra = {0x55, 0x54, 0x01, 0x00, 0x07};
    meta.centralExtra = {0x75, 0x78, 0x00, 0x00};
    StoredZipWriter writer;
    writer.add("", Bytes{});  // empty data: CRC 0, sizes 0, next header right after the name
    writer.add("é", bytesOf("data"), meta);
    const Bytes archive = writer.finish();

    EXPECT_EQ(Bytes(archive.begin() + 14, archive.begin() + 26), Bytes(12, 0));
    const std::size_t second = 30;
    ASSERT_EQ(archive[second], 0x50);
    EXPECT_EQ(archive[second + 4], 10);                                      // version needed
    EXPECT_EQ(archive[second + 7], 0x08);                                    // flags high byte
    EXPECT_EQ(archive[second + 10], 0x3C);                                   // time
    EXPECT_EQ(archive[second + 13], 0x5A);                                   // date
    EXPECT_EQ(archive[second + 26], 2);                                      // UTF-8 path length
    EXPECT_EQ(archive[second + 28], 5);                                      // local extra length
    EXPECT_EQ(Bytes(archive.begin() + second + 32, archive.begin() + second + 37), meta.localExtra);
    EXPECT_EQ(Bytes(archive.begin() + second + 37, archive.begin() + second + 41), bytesOf("data"));

    const std::size_t central = second + 41 + 46;  // after the empty entry's central header
    ASSERT_EQ(archive[central + 1], 0x4B);
    EXPECT_EQ(archive[central + 4], 0x1E);
    EXPECT_EQ(archive[central + 5], 0x03);
    EXPECT_EQ(archive[central + 30], 4);   // central extra length
    EXPECT_EQ(archive[central + 36], 1);   // internal attributes
    EXPECT_EQ(archive[central + 41], 0x81);
    EXPECT_EQ(archive[central + 42], second);
    EXPECT_EQ(Bytes(archive.begin() + central + 48, archive.begin() + central + 52), meta.centralExtra);
}

TEST(StoredZipWriterTest, ReaderGivesBackEveryPathByteAndHeaderValueInOrder) {
    StoredZipWriter::Metadata meta;
    meta.dosTime = 0x1234;
    meta.dosDate = 0x4321;
    meta.versionMadeBy = 0x0314;
    meta.flags = 0x0808;
    meta.internalAttributes = 7;
    meta.externalAttributes = 0xDEADBEEFu;
    meta.localExtra = {1, 2, 3};
    meta.centralExtra = {4, 5, 6, 7};
    const std::vector<ZipReader::Entry> written = {
        {"Index/Document.iwa", randomBytes(70000, 1), meta},
        {"Data/empty", {}, {}},
        {"Index/Document.iwa", bytesOf("again"), {}},
        {"Metadata/Eigenschaften-ü.plist", randomBytes(5, 2), meta},
    };
    StoredZipWriter writer;
    for (const auto& entry : written) writer.add(entry.path, entry.data, entry.meta);
    const auto read = ZipReader::read(writer.finish());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, written);
}

// A refused entry must leave the archive exactly as it was before.
void expectRefused(StoredZipWriter& writer, std::string_view path, ByteView data,
                   const StoredZipWriter::Metadata& meta, StoredZipWriterError::Case kind) {
    const Bytes before = writer.finish();
    try {
        writer.add(path, data, meta);
        ADD_FAILURE() << "entry accepted";
    } catch (const StoredZipWriterError& error) {
        EXPECT_EQ(error.kind(), kind);
        EXPECT_NE(std::string(error.what()), "");
    }
    EXPECT_EQ(writer.finish(), before);
}

TEST(StoredZipWriterTest, RefusesPathsAndExtraFieldsBeyondSixteenBits) {
    StoredZipWriter writer;
    writer.add("kept", bytesOf("1"));
    StoredZipWriter::Metadata meta;
    writer.add(std::string(0xFFFF, 'p'), Bytes{}, meta);  // the largest path that fits
    expectRefused(writer, std::string(0x10000, 'p'), Bytes{}, meta, StoredZipWriterError::Case::pathTooLong);
    meta.localExtra = Bytes(0x10000, 0);
    expectRefused(writer, "x", Bytes{}, meta, StoredZipWriterError::Case::extraFieldTooLong);
    meta.localExtra.clear();
    meta.centralExtra = Bytes(0x10000, 0);
    expectRefused(writer, "x", Bytes{}, meta, StoredZipWriterError::Case::extraFieldTooLong);
    const auto read = ZipReader::read(writer.finish());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->size(), 2u);
}

TEST(StoredZipWriterTest, RefusesTheEntryAfterTheSixteenBitCount) {
    StoredZipWriter writer;
    for (std::size_t i = 0; i < StoredZipWriter::kMaximumEntries; ++i) writer.add("f", Bytes{});
    expectRefused(writer, "f", Bytes{}, {}, StoredZipWriterError::Case::tooManyEntries);
    const auto read = ZipReader::read(writer.finish());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->size(), 0xFFFFu);
}

TEST(StoredZipWriterTest, RefusesDataBeyondThirtyTwoBitsWithoutReadingIt) {
    // Address space only: the size check comes before any byte is touched.
    const std::size_t size = 0x100000000ull;
    void* region = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(region, MAP_FAILED);
    StoredZipWriter writer;
    expectRefused(writer, "huge", ByteView(static_cast<const std::uint8_t*>(region), size), {},
                  StoredZipWriterError::Case::entryTooLarge);
    munmap(region, size);
}

// An archive with the kinds of entry a document has: nested paths, an empty
// file, a non-ASCII name flagged as UTF-8, well-formed extra fields, header
// values of another writer, and a body larger than one 64 KiB block.
struct SampleArchive {
    std::vector<ZipReader::Entry> entries;
    Bytes bytes;
};

SampleArchive sampleArchive() {
    StoredZipWriter::Metadata unixEntry;
    unixEntry.dosTime = 0x6B2A;
    unixEntry.dosDate = 0x5787;
    unixEntry.versionMadeBy = 0x031E;
    unixEntry.externalAttributes = 0x81A40000u;  // regular file, rw-r--r--
    unixEntry.localExtra = {0x55, 0x54, 0x05, 0x00, 0x03, 0x10, 0x20, 0x30, 0x40};
    unixEntry.centralExtra = {0x55, 0x54, 0x05, 0x00, 0x03, 0x10, 0x20, 0x30, 0x40};
    // unzip translates names of entries made on FAT from the DOS code page, so
    // the UTF-8 name comes from a Unix host.
    StoredZipWriter::Metadata utf8Name;
    utf8Name.flags = 0x0800;
    utf8Name.versionMadeBy = 0x031E;
    utf8Name.externalAttributes = 0x81A40000u;
    SampleArchive sample;
    sample.entries = {
        {"Index/Document.iwa", randomBytes(200000, 3), unixEntry},
        {"Data/empty.bin", {}, {}},
        {"Metadata/Properties.plist", bytesOf("<plist/>"), {}},
        {"Data/bild-größe.png", randomBytes(1000, 4), utf8Name},
        {"preview.jpg", randomBytes(3, 5), unixEntry},
    };
    StoredZipWriter writer;
    for (const auto& entry : sample.entries) writer.add(entry.path, entry.data, entry.meta);
    sample.bytes = writer.finish();
    return sample;
}

TEST(StoredZipWriterTest, UnzipAndZipinfoAcceptTheArchive) {
    if (!test::commandExists("unzip") || !test::commandExists("zipinfo")) GTEST_SKIP() << "unzip not installed";
    const SampleArchive sample = sampleArchive();
    test::TemporaryDirectory directory;
    const auto path = directory / "sample.zip";
    test::writeFileBytes(path, sample.bytes);

    const auto tested = test::runCommand({"unzip", "-t", path.string()});
    EXPECT_EQ(tested.status, 0) << tested.standardOutput << tested.standardError;
    EXPECT_NE(tested.standardOutput.find("No errors detected"), std::string::npos) << tested.standardOutput;

    const auto listed = test::runCommand({"zipinfo", path.string()});
    EXPECT_EQ(listed.status, 0) << listed.standardError;
    EXPECT_EQ(listed.standardError, "");
    for (const auto& entry : sample.entries)
        EXPECT_NE(listed.standardOutput.find(entry.path), std::string::npos) << entry.path;
    EXPECT_NE(listed.standardOutput.find("5 files"), std::string::npos) << listed.standardOutput;
}

TEST(StoredZipWriterTest, LibzipReadsEveryEntryWithCheckedConsistency) {
    const SampleArchive sample = sampleArchive();
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(sample.bytes.data(), sample.bytes.size(), 0, &error);
    ASSERT_NE(source, nullptr);
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    ASSERT_NE(archive, nullptr) << zip_error_strerror(&error);
    ASSERT_EQ(zip_get_num_entries(archive, 0), static_cast<zip_int64_t>(sample.entries.size()));
    for (zip_uint64_t index = 0; index < sample.entries.size(); ++index) {
        const auto& expected = sample.entries[index];
        zip_stat_t stat;
        ASSERT_EQ(zip_stat_index(archive, index, 0, &stat), 0);
        EXPECT_EQ(std::string(stat.name), expected.path);
        EXPECT_EQ(stat.comp_method, ZIP_CM_STORE);
        EXPECT_EQ(stat.size, expected.data.size());
        EXPECT_EQ(stat.crc, CRC32::checksum(expected.data));
        zip_file_t* file = zip_fopen_index(archive, index, 0);
        ASSERT_NE(file, nullptr) << zip_strerror(archive);
        Bytes content(expected.data.size() + 1);
        const zip_int64_t count = zip_fread(file, content.data(), content.size());
        content.resize(count < 0 ? 0 : static_cast<std::size_t>(count));
        EXPECT_EQ(zip_fclose(file), 0);  // also verifies the CRC
        EXPECT_EQ(content, expected.data) << expected.path;
    }
    zip_close(archive);
    zip_error_fini(&error);
}

TEST(StoredZipWriterTest, PythonZipfileReadsEveryEntry) {
    if (!test::commandExists("python3")) GTEST_SKIP() << "python3 not installed";
    const SampleArchive sample = sampleArchive();
    test::TemporaryDirectory directory;
    const auto path = directory / "sample.zip";
    test::writeFileBytes(path, sample.bytes);
    const std::string script =
        "import sys, zipfile, zlib\n"
        "with zipfile.ZipFile(sys.argv[1]) as z:\n"
        "    assert z.testzip() is None\n"
        "    for info in z.infolist():\n"
        "        data = z.read(info)\n"
        "        print(info.filename, info.compress_type, len(data), '%08x' % zlib.crc32(data))\n";
    const auto result = test::runCommand({"python3", "-c", script, path.string()});
    ASSERT_EQ(result.status, 0) << result.standardError;
    std::string expected;
    for (const auto& entry : sample.entries) {
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", CRC32::checksum(entry.data));
        expected += entry.path + " 0 " + std::to_string(entry.data.size()) + " " + crc + "\n";
    }
    EXPECT_EQ(result.standardOutput, expected);
}

}  // namespace
}  // namespace lumaro
