#include <gtest/gtest.h>
#include <snappy.h>

#include <random>
#include <string>

#include "LumaroIWA/Snappy.hpp"
#include "LumaroIWATests/FixtureStreams.hpp"

namespace lumaro {
namespace {

using Case = SnappyError::Case;

Case decompressError(const Bytes& block) {
    try {
        Snappy::decompress(block);
    } catch (const SnappyError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no error";
    return Case::truncated;
}

Bytes randomBytes(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random() >> 24);
    return bytes;
}

// Words from a small vocabulary: compressible, with matches at varied offsets.
Bytes textBytes(std::size_t count, std::uint32_t seed) {
    static const char* const words[] = {"the ", "archive ", "of ", "objects ", "paragraph ", "style ", "a ",
                                        "table\n", "Pages ", "document, ", "snappy ", "record ", "identifier. "};
    std::mt19937 random(seed);
    Bytes bytes;
    bytes.reserve(count + 16);
    while (bytes.size() < count) {
        const std::string word = words[random() % std::size(words)];
        bytes.insert(bytes.end(), word.begin(), word.end());
    }
    bytes.resize(count);
    return bytes;
}

// Pieces of text, noise, zero runs and short repeated patterns, so every
// element kind and copy length is exercised.
Bytes variedBytes(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes;
    while (bytes.size() < count) {
        const std::size_t piece = 1 + random() % 5000;
        Bytes part;
        switch (random() % 4) {
            case 0: part = textBytes(piece, random()); break;
            case 1: part = randomBytes(piece, random()); break;
            case 2: part.assign(piece, static_cast<std::uint8_t>(random())); break;
            default: {
                // Separate statements: the order of evaluating arguments is unspecified.
                const std::size_t patternLength = 1 + random() % 9;
                const Bytes pattern = randomBytes(patternLength, random());
                for (std::size_t index = 0; index < piece; ++index) part.push_back(pattern[index % pattern.size()]);
            }
        }
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    bytes.resize(count);
    return bytes;
}

std::uint64_t fnv1a(const Bytes& bytes) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const auto byte : bytes) hash = (hash ^ byte) * 0x100000001B3ull;
    return hash;
}

Bytes libsnappyUncompress(ByteView block) {
    std::string output;
    EXPECT_TRUE(snappy::Uncompress(reinterpret_cast<const char*>(block.data()), block.size(), &output));
    return Bytes(output.begin(), output.end());
}

Bytes libsnappyCompress(const Bytes& input) {
    std::string output;
    snappy::Compress(reinterpret_cast<const char*>(input.data()), input.size(), &output);
    return Bytes(output.begin(), output.end());
}

TEST(Snappy, CompressesSmallInputsAsOneLiteral) {
    EXPECT_EQ(Snappy::compress(Bytes{}), Bytes{0x00});
    EXPECT_EQ(Snappy::compress(Bytes{'a', 'b', 'c'}), (Bytes{0x03, 0x08, 'a', 'b', 'c'}));
    // Below 15 bytes there is no match search, even for a repetitive input.
    const Bytes fourteen(14, 'z');
    Bytes expected{14, 13 << 2};
    expected.insert(expected.end(), fourteen.begin(), fourteen.end());
    EXPECT_EQ(Snappy::compress(fourteen), expected);
}

TEST(Snappy, CompressesZerosToALiteralAndSplitCopies) {
    EXPECT_EQ(Snappy::compress(Bytes(100, 0x00)), (Bytes{0x64, 0x00, 0x00, 0xFE, 0x01, 0x00, 0x8A, 0x01, 0x00}));
    // Up to 15 bytes are too short to search; 20 give one copy of 19 bytes,
    // too long for the one-byte-offset form.
    EXPECT_EQ(Snappy::compress(Bytes(16, 0x00)).size(), 18u);
    EXPECT_EQ(Snappy::compress(Bytes(20, 0x00)), (Bytes{0x14, 0x00, 0x00, 0x4A, 0x01, 0x00}));
    // A short near copy takes the one-byte-offset form.
    const std::string text = "abcdefghabcdefgh01234567";
    const Bytes expected = {0x18, 0x1C, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0x11, 0x08,
                            0x1C, '0', '1', '2', '3', '4', '5', '6', '7'};
    EXPECT_EQ(Snappy::compress(Bytes(text.begin(), text.end())), expected);
}

TEST(Snappy, WritesLongLiteralLengthsAfterTheTag) {
    for (std::size_t length : {60u, 61u, 256u, 257u}) {
        Bytes input(length);
        for (std::size_t index = 0; index < length; ++index) input[index] = static_cast<std::uint8_t>(index);
        const Bytes block = Snappy::compress(input);
        Bytes header = length < 128 ? Bytes{static_cast<std::uint8_t>(length)}
                                    : Bytes{static_cast<std::uint8_t>(length | 0x80), static_cast<std::uint8_t>(length >> 7)};
        if (length == 60) header.push_back(0xEC);
        if (length == 61) header.insert(header.end(), {0xF0, 0x3C});
        if (length == 256) header.insert(header.end(), {0xF0, 0xFF});
        if (length == 257) header.insert(header.end(), {0xF4, 0x00, 0x01});
        ASSERT_EQ(block.size(), header.size() + length) << length;
        EXPECT_EQ(Bytes(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(header.size())), header) << length;
    }
}

// Walks the elements of a block and checks that no copy reaches outside the
// 65536-byte fragment that it belongs to.
void expectCopiesStayInFragments(const Bytes& block) {
    std::size_t position = 0;
    while (block[position++] & 0x80) {}
    std::size_t produced = 0;
    while (position < block.size()) {
        const std::uint8_t tag = block[position++];
        std::size_t length = 0;
        std::size_t offset = 0;
        switch (tag & 3) {
            case 0: {
                length = (tag >> 2) + 1;
                if (length > 60) {
                    const std::size_t extra = length - 60;
                    length = 1;
                    for (std::size_t index = 0; index < extra; ++index) length += std::size_t{block[position + index]} << (8 * index);
                    position += extra;
                }
                position += length;
                produced += length;
                continue;
            }
            case 1:
                length = ((tag >> 2) & 7) + 4;
                offset = (tag >> 5) << 8 | block[position++];
                break;
            case 2:
                length = (tag >> 2) + 1;
                offset = block[position] | block[position + 1] << 8;
                position += 2;
                break;
            default:
                FAIL() << "the encoder never writes 4-byte offsets";
        }
        const std::size_t inFragment = produced % 65536;
        ASSERT_LE(offset, inFragment) << "copy at " << produced << " reaches an earlier fragment";
        ASSERT_LE(inFragment + length, 65536u) << "copy at " << produced << " runs into the next fragment";
        produced += length;
    }
}

TEST(Snappy, FragmentsAreCompressedIndependently) {
    // A short pattern repeated over three fragments offers matches across
    // every fragment boundary.
    const Bytes pattern = randomBytes(1000, 7);
    Bytes input;
    while (input.size() < 3 * 65536 + 100) input.insert(input.end(), pattern.begin(), pattern.end());
    const Bytes block = Snappy::compress(input);
    expectCopiesStayInFragments(block);
    EXPECT_EQ(Snappy::decompress(block), input);
    expectCopiesStayInFragments(Snappy::compress(variedBytes(300000, 3)));
}

TEST(Snappy, CompressedBytesArePinned) {
    // Written documents must be byte-identical from one version to the next:
    // this pins the encoder's output for a large input of every kind.
    const Bytes input = variedBytes(3 << 20, 20261208);
    const Bytes block = Snappy::compress(input);
    EXPECT_EQ(block.size(), 1058135u);
    EXPECT_EQ(fnv1a(block), 10317396502206241505ull);
}

TEST(Snappy, DecodesElementsOfEveryKind) {
    EXPECT_TRUE(Snappy::decompress(Bytes{0x00}).empty());
    EXPECT_TRUE(Snappy::decompress(Bytes{0x05}).empty());  // the preamble is not checked
    // One 0x41, then a 1-byte-offset copy of offset 1, length 10 (overlapping).
    EXPECT_EQ(Snappy::decompress(Bytes{0x0B, 0x00, 0x41, 0x19, 0x01}), Bytes(11, 0x41));
    // "ab", then a 4-byte-offset copy of offset 2, length 5.
    EXPECT_EQ(Snappy::decompress(Bytes{0x07, 0x04, 'a', 'b', 0x13, 0x02, 0x00, 0x00, 0x00}),
              (Bytes{'a', 'b', 'a', 'b', 'a', 'b', 'a'}));
    // A 2-byte-offset copy of length 64.
    Bytes expected(3, 'x');
    expected.resize(67, 'x');
    EXPECT_EQ(Snappy::decompress(Bytes{0x43, 0x08, 'x', 'x', 'x', 0xFE, 0x03, 0x00}), expected);
    // Literal lengths held in 1 to 4 extra bytes.
    for (std::uint8_t extra = 1; extra <= 4; ++extra) {
        Bytes block{0x05, static_cast<std::uint8_t>((59 + extra) << 2), 0x04};
        block.insert(block.end(), extra - 1, 0x00);
        block.insert(block.end(), {1, 2, 3, 4, 5});
        EXPECT_EQ(Snappy::decompress(block), (Bytes{1, 2, 3, 4, 5})) << int(extra);
    }
    // The output may outgrow the preamble, and an absurd preamble reserves
    // only a bounded amount of room. A preamble longer than ten bytes is read on.
    EXPECT_EQ(Snappy::decompress(Bytes{0x01, 0x04, 'a', 'b'}), (Bytes{'a', 'b'}));
    EXPECT_EQ(Snappy::decompress(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 'q'}), Bytes{'q'});
    Bytes longPreamble(12, 0x80);
    longPreamble.insert(longPreamble.end(), {0x00, 0x00, 'q'});
    EXPECT_EQ(Snappy::decompress(longPreamble), Bytes{'q'});
}

TEST(Snappy, RejectsDamagedBlocks) {
    EXPECT_EQ(decompressError({}), Case::truncated);
    EXPECT_EQ(decompressError({0x80}), Case::truncated);                    // preamble cut short
    EXPECT_EQ(decompressError({0x05, 0x10, 'a', 'b'}), Case::truncated);    // literal of 5, 2 present
    EXPECT_EQ(decompressError({0x05, 0xF0}), Case::truncated);              // length byte missing
    EXPECT_EQ(decompressError({0x05, 0xFC, 0x01, 0x00, 0x00}), Case::truncated);
    EXPECT_EQ(decompressError({0x05, 0xFC, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}), Case::truncated);
    EXPECT_EQ(decompressError({0x05, 0x00, 'a', 0x01}), Case::truncated);     // 1-byte offset missing
    EXPECT_EQ(decompressError({0x05, 0x00, 'a', 0x02, 0x01}), Case::truncated);
    EXPECT_EQ(decompressError({0x05, 0x00, 'a', 0x03, 0x01, 0x00, 0x00}), Case::truncated);
    EXPECT_EQ(decompressError({0x05, 0x00, 'a', 0x01, 0x00}), Case::invalidOffset);  // offset 0
    EXPECT_EQ(decompressError({0x05, 0x04, 'a', 'b', 0x01, 0x03}), Case::invalidOffset);
    EXPECT_EQ(decompressError({0x05, 0x02, 0x01, 0x00}), Case::invalidOffset);       // nothing to copy yet
    EXPECT_EQ(decompressError({0x05, 0x00, 'a', 0x03, 0x00, 0x00, 0x00, 0x80}), Case::invalidOffset);
    EXPECT_STREQ(SnappyError(Case::truncated).what(), "The Snappy block is truncated.");
}

struct Sample {
    std::string kind;
    Bytes bytes;
};

std::vector<Sample> samples() {
    std::vector<Sample> result;
    for (std::size_t size : {0u, 1u, 2u, 3u, 4u, 14u, 15u, 16u, 17u, 59u, 60u, 61u, 62u, 65535u, 65536u, 65537u,
                             131073u, 5u << 20}) {
        result.push_back({"random " + std::to_string(size), randomBytes(size, static_cast<std::uint32_t>(size))});
        result.push_back({"text " + std::to_string(size), textBytes(size, static_cast<std::uint32_t>(size))});
        result.push_back({"zeros " + std::to_string(size), Bytes(size, 0)});
        result.push_back({"varied " + std::to_string(size), variedBytes(size, static_cast<std::uint32_t>(size))});
    }
    return result;
}

TEST(Snappy, AgreesWithLibsnappyBothWays) {
    for (const auto& sample : samples()) {
        const Bytes ours = Snappy::compress(sample.bytes);
        EXPECT_TRUE(snappy::IsValidCompressedBuffer(reinterpret_cast<const char*>(ours.data()), ours.size()))
            << sample.kind;
        EXPECT_EQ(libsnappyUncompress(ours), sample.bytes) << sample.kind;
        EXPECT_EQ(Snappy::decompress(ours), sample.bytes) << sample.kind;
        EXPECT_EQ(Snappy::decompress(libsnappyCompress(sample.bytes)), sample.bytes) << sample.kind;
    }
}

TEST(Snappy, DecodesTheFixtureChunksAsLibsnappyDoes) {
    const auto& streams = test::fixtureStreams();
    ASSERT_GT(streams.size(), 100u);
    std::size_t chunks = 0;
    for (const auto& stream : streams) {
        for (const ByteView body : test::chunkBodies(stream.data)) {
            ASSERT_EQ(Snappy::decompress(body), libsnappyUncompress(body)) << stream.name;
            ++chunks;
        }
    }
    EXPECT_GT(chunks, streams.size() / 2);
}

}  // namespace
}  // namespace lumaro
