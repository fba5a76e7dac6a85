#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "LumaroPages/StoredZipWriter.hpp"
#include "LumaroPages/ZipReader.hpp"

namespace lumaro {
namespace {

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

void put16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// "a" = "x" at 0, "b" = "yz" at 32, "c" = "" at 65; directory at 96.
struct ThreeEntries {
    static constexpr std::size_t kDirectory = 96;
    static constexpr std::size_t kCentralSize = 47;
    Bytes bytes;
    ThreeEntries() {
        StoredZipWriter writer;
        writer.add("a", bytesOf("x"));
        writer.add("b", bytesOf("yz"));
        writer.add("c", Bytes{});
        bytes = writer.finish();
    }
    std::size_t central(std::size_t index) const { return kDirectory + index * kCentralSize; }
    std::size_t endRecord() const { return bytes.size() - 22; }
};

TEST(ZipReaderTest, EndRecordIsFoundWithinTheLongestCommentOnly) {
    ThreeEntries archive;
    Bytes commented = archive.bytes;
    put16(commented, archive.endRecord() + 20, 0xFFFF);
    commented.insert(commented.end(), 0xFFFF, 'c');
    const auto read = ZipReader::read(commented);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->size(), 3u);

    Bytes tooFar = archive.bytes;
    tooFar.insert(tooFar.end(), 0x10000, 'c');
    EXPECT_FALSE(ZipReader::read(tooFar).has_value());

    // Of two end records in the window, the later one counts.
    Bytes twoRecords = archive.bytes;
    const Bytes emptyArchive = StoredZipWriter().finish();
    twoRecords.insert(twoRecords.end(), emptyArchive.begin(), emptyArchive.end());
    const auto later = ZipReader::read(twoRecords);
    ASSERT_TRUE(later.has_value());
    EXPECT_TRUE(later->empty());
}

TEST(ZipReaderTest, ZeroEntriesGiveAnEmptyListWhateverTheOffset) {
    Bytes archive = StoredZipWriter().finish();
    put32(archive, 16, 0xFFFFFFF0u);
    const auto read = ZipReader::read(archive);
    ASSERT_TRUE(read.has_value());
    EXPECT_TRUE(read->empty());
    EXPECT_FALSE(ZipReader::read(Bytes(archive.begin() + 1, archive.end())).has_value());
}

TEST(ZipReaderTest, ChecksumsAreNotVerified) {
    ThreeEntries archive;
    archive.bytes[31] = 'Q';  // the data of "a"
    const auto read = ZipReader::read(archive.bytes);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ((*read)[0].data, bytesOf("Q"));
}

TEST(ZipReaderTest, DamageAnywhereFailsTheWholeRead) {
    const ThreeEntries archive;
    struct Damage {
        const char* what;
        std::function<void(Bytes&)> apply;
    };
    const std::vector<Damage> damages = {
        {"deflated middle entry", [&](Bytes& b) { put16(b, archive.central(1) + 10, 8); }},
        {"central signature", [&](Bytes& b) { b[archive.central(2)] = 0; }},
        {"local signature", [&](Bytes& b) { b[32] = 0; }},
        {"local header past the end", [&](Bytes& b) { put32(b, archive.central(2) + 42, b.size() - 29); }},
        {"data past the end", [&](Bytes& b) { put32(b, archive.central(1) + 20, 0x10000); }},
        {"central name past the end", [&](Bytes& b) { put16(b, archive.central(2) + 28, 0x100); }},
        {"local extra past the end", [&](Bytes& b) { put16(b, 65 + 28, 0xFFFF); }},
        {"more entries than headers", [&](Bytes& b) { put16(b, archive.endRecord() + 10, 4); }},
        {"directory offset past the end", [&](Bytes& b) { put32(b, archive.endRecord() + 16, 0xFFFFFFFFu); }},
    };
    ASSERT_TRUE(ZipReader::read(archive.bytes).has_value());
    for (const Damage& damage : damages) {
        Bytes damaged = archive.bytes;
        damage.apply(damaged);
        EXPECT_FALSE(ZipReader::read(damaged).has_value()) << damage.what;
    }
    EXPECT_FALSE(ZipReader::read(Bytes(21, 0)).has_value());
}

TEST(ZipReaderTest, LocalNameIsSkippedAndCommentsAreSteppedOver) {
    StoredZipWriter writer;
    writer.add("first", bytesOf("1"));
    writer.add("second", bytesOf("22"));
    Bytes archive = writer.finish();
    archive[30] = 'F';  // local name differs from the central one
    // Give the first central header a 3-byte comment: shift the rest.
    const std::size_t firstCentral = 30 + 5 + 1 + 30 + 6 + 2;
    const std::size_t afterFirst = firstCentral + 46 + 5;
    put16(archive, firstCentral + 32, 3);
    archive.insert(archive.begin() + afterFirst, {'r', 'e', 'm'});
    const auto read = ZipReader::read(archive);
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->size(), 2u);
    EXPECT_EQ((*read)[0].path, "first");
    EXPECT_EQ((*read)[1].path, "second");
    EXPECT_EQ((*read)[1].data, bytesOf("22"));
}

TEST(ZipReaderTest, InvalidUTF8InNamesBecomesReplacementCharacters) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ok-\xC3\xA9-\xF0\x9F\x98\x80", "ok-\xC3\xA9-\xF0\x9F\x98\x80"},
        {"a\xFF" "b", "a\xEF\xBF\xBD" "b"},
        {"\xE2\x82x", "\xEF\xBF\xBDx"},                                     // truncated sequence: one U+FFFD
        {"\xC0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},                           // overlong form
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},           // surrogate
        {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // above U+10FFFF
        {"end\xF0\x9F\x98", "end\xEF\xBF\xBD"},
    };
    for (const auto& [stored, expected] : cases) {
        StoredZipWriter writer;
        writer.add(stored, Bytes{});
        const auto read = ZipReader::read(writer.finish());
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ((*read)[0].path, expected);
    }
}

// Stored entries never overlap, so entries that all point at one large body
// are refused instead of copying it once per entry; small shared bodies still
// read, one entry per header.
TEST(ZipReaderTest, HeadersSharingOneBodyCannotOutgrowTheArchive) {
    auto sharedBody = [](std::size_t bodySize, int copies) {
        StoredZipWriter writer;
        writer.add("d", Bytes(bodySize, 7));
        Bytes archive = writer.finish();
        const std::size_t central = 31 + bodySize;
        const Bytes header(archive.begin() + central, archive.begin() + central + 47);
        for (int i = 1; i < copies; ++i) archive.insert(archive.begin() + central, header.begin(), header.end());
        const std::size_t end = archive.size() - 22;
        put16(archive, end + 8, copies);
        put16(archive, end + 10, copies);
        return ZipReader::read(archive);
    };
    const auto small = sharedBody(4, 3);
    ASSERT_TRUE(small.has_value());
    EXPECT_EQ(small->size(), 3u);
    EXPECT_FALSE(sharedBody(1000, 3).has_value());
}

}  // namespace
}  // namespace lumaro
