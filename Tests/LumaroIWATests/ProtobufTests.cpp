#include <gtest/gtest.h>

#include <cstring>

#include "LumaroIWA/Protobuf.hpp"

namespace lumaro {
namespace {

std::vector<std::int64_t> numbers(const ProtobufMessage& message) {
    std::vector<std::int64_t> result;
    for (const auto& field : message.fields()) result.push_back(field.number);
    return result;
}

TEST(ProtobufMessage, DecodesTheWireTypes) {
    EXPECT_TRUE(ProtobufMessage(Bytes{}).fields().empty());

    const ProtobufMessage single(Bytes{0x08, 0x96, 0x01});
    ASSERT_EQ(single.fields().size(), 1u);
    EXPECT_EQ(single.fields()[0].number, 1);
    EXPECT_EQ(single.varint(1), 150u);

    // 1: varint 1, 2: fixed64, 3: bytes "hi", 4: fixed32, 5: empty bytes at the very end.
    const Bytes mixed{0x08, 0x01, 0x11, 1, 2, 3, 4, 5, 6, 7, 8, 0x1A, 0x02, 'h', 'i', 0x25, 9, 8, 7, 6, 0x2A, 0x00};
    const ProtobufMessage message(mixed);
    ASSERT_EQ(numbers(message), (std::vector<std::int64_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(*message.fields()[1].fixed64(), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(message.bytes(3), (Bytes{'h', 'i'}));
    EXPECT_EQ(*message.fields()[3].fixed32(), (Bytes{9, 8, 7, 6}));
    EXPECT_EQ(message.bytes(5), Bytes{});

    // Field number 0 is kept.
    const ProtobufMessage zero(Bytes{0x00, 0x05});
    ASSERT_EQ(zero.fields().size(), 1u);
    EXPECT_EQ(zero.varint(0), 5u);

    // The largest varint takes ten bytes; bits past bit 63 are dropped.
    const ProtobufMessage largest(Bytes{0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
    EXPECT_EQ(largest.varint(1), UINT64_MAX);
}

TEST(ProtobufMessage, StopsAtTheFirstMalformedField) {
    EXPECT_TRUE(ProtobufMessage(Bytes{0x08, 0x96}).fields().empty());
    EXPECT_EQ(numbers(ProtobufMessage(Bytes{0x08, 0x01, 0x10})), std::vector<std::int64_t>{1});
    EXPECT_EQ(numbers(ProtobufMessage(Bytes{0x08, 0x01, 0x10, 0x02, 0x1B, 0x08, 0x03})),
              (std::vector<std::int64_t>{1, 2}));  // wire type 3 (group)
    for (std::uint8_t wireType : {4, 6, 7}) {
        EXPECT_EQ(numbers(ProtobufMessage(Bytes{0x08, 0x01, static_cast<std::uint8_t>(0x10 | wireType), 0x00})),
                  std::vector<std::int64_t>{1});
    }
    // A payload longer than the rest of the input drops it and all after it.
    EXPECT_EQ(numbers(ProtobufMessage(Bytes{0x08, 0x01, 0x12, 0x05, 'a', 'b', 0x18, 0x01})),
              std::vector<std::int64_t>{1});
    // Fixed-width values cut short, and a tag with nothing after it.
    EXPECT_EQ(numbers(ProtobufMessage(Bytes{0x08, 0x01, 0x11, 1, 2, 3, 4, 5, 6, 7})), std::vector<std::int64_t>{1});
    EXPECT_EQ(numbers(ProtobufMessage(Bytes{0x08, 0x01, 0x15, 1, 2, 3})), std::vector<std::int64_t>{1});
    EXPECT_EQ(numbers(ProtobufMessage(Bytes{0x08, 0x01, 0x10})), std::vector<std::int64_t>{1});
    EXPECT_EQ(numbers(ProtobufMessage(Bytes{0x08, 0x01, 0x12})), std::vector<std::int64_t>{1});
    // A length varint cut short.
    EXPECT_EQ(numbers(ProtobufMessage(Bytes{0x08, 0x01, 0x12, 0x80})), std::vector<std::int64_t>{1});
    // A varint whose tenth byte still continues is over-long, in a value and in a tag.
    Bytes overlong{0x08, 0x01, 0x10};
    overlong.insert(overlong.end(), 10, 0x80);
    overlong.push_back(0x01);
    EXPECT_EQ(numbers(ProtobufMessage(overlong)), std::vector<std::int64_t>{1});
    Bytes overlongTag{0x08, 0x01};
    overlongTag.insert(overlongTag.end(), 10, 0x88);
    overlongTag.push_back(0x00);
    EXPECT_EQ(numbers(ProtobufMessage(overlongTag)), std::vector<std::int64_t>{1});
    // A huge announced length does not fit and stops quietly.
    EXPECT_EQ(numbers(ProtobufMessage(Bytes{0x08, 0x01, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                            0x01, 'x'})),
              std::vector<std::int64_t>{1});
}

TEST(ProtobufMessage, LookupsMatchNumberAndKind) {
    // 5: varint 7, then 5: bytes "ab"; and the same in reverse order.
    const ProtobufMessage forward(Bytes{0x28, 0x07, 0x2A, 0x02, 'a', 'b'});
    const ProtobufMessage reverse(Bytes{0x2A, 0x02, 'a', 'b', 0x28, 0x07});
    for (const auto* message : {&forward, &reverse}) {
        EXPECT_EQ(message->varint(5), 7u);
        EXPECT_EQ(message->bytes(5), (Bytes{'a', 'b'}));
        EXPECT_FALSE(message->float32(5).has_value());
        EXPECT_FALSE(message->varint(6).has_value());
        EXPECT_EQ(message->bytesPointer(6), nullptr);
    }

    // Repeated fields come back in wire order; a packed field adds no varints.
    const ProtobufMessage repeated(Bytes{0x08, 0x01, 0x12, 0x02, 0x08, 0x05, 0x08, 0x02, 0x0A, 0x02, 0x03, 0x04,
                                         0x12, 0x02, 0x08, 0x06, 0x12, 0x00});
    EXPECT_EQ(repeated.allVarints(1), (std::vector<std::uint64_t>{1, 2}));
    EXPECT_EQ(repeated.allBytes(1), std::vector<Bytes>{(Bytes{0x03, 0x04})});
    const auto children = repeated.messages(2);
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(children[0].varint(1), 5u);
    EXPECT_EQ(children[1].varint(1), 6u);
    EXPECT_TRUE(children[2].fields().empty());
    EXPECT_EQ(repeated.message(2)->varint(1), 5u);
    EXPECT_FALSE(repeated.message(3).has_value());
    EXPECT_TRUE(repeated.allBytes(9).empty());
    EXPECT_TRUE(repeated.messages(9).empty());
    EXPECT_TRUE(repeated.allVarints(9).empty());

    // 1.5f little-endian, after a varint of the same number.
    const ProtobufMessage withFloat(Bytes{0x08, 0x01, 0x0D, 0x00, 0x00, 0xC0, 0x3F});
    EXPECT_EQ(withFloat.float32(1), 1.5f);
}

TEST(ProtobufWriter, EmitsEachKindOfField) {
    const auto written = [](auto write) {
        ProtobufWriter writer;
        write(writer);
        return writer.bytes();
    };
    EXPECT_EQ(written([](auto& w) { w.packedVarintField(4, {}); }), (Bytes{0x22, 0x00}));
    EXPECT_EQ(written([](auto& w) { w.packedVarintField(4, {1, 300}); }), (Bytes{0x22, 0x03, 0x01, 0xAC, 0x02}));
    EXPECT_EQ(written([](auto& w) { w.varintField(1, 0); }), (Bytes{0x08, 0x00}));
    EXPECT_EQ(written([](auto& w) { w.varintField(1, UINT64_MAX); }),
              (Bytes{0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}));
    EXPECT_EQ(written([](auto& w) { w.fixed32Field(2, 1); }), (Bytes{0x15, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(written([](auto& w) { w.fixed64Field(3, 1); }), (Bytes{0x19, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(written([](auto& w) { w.stringField(7, ""); }), (Bytes{0x3A, 0x00}));
    EXPECT_EQ(written([](auto& w) { w.stringField(1, "hé"); }), (Bytes{0x0A, 0x03, 'h', 0xC3, 0xA9}));
    EXPECT_EQ(written([](auto& w) { w.messageField(2, Bytes{0x08, 0x01}); }), (Bytes{0x12, 0x02, 0x08, 0x01}));
    EXPECT_EQ(written([](auto& w) { w.appendFixed32(1, Bytes{0xAA, 0xBB}); }), (Bytes{0x0D, 0xAA, 0xBB}));
    EXPECT_EQ(written([](auto& w) { w.floatField(1, 1.5f); }), (Bytes{0x0D, 0x00, 0x00, 0xC0, 0x3F}));
    // Tags are varints too: field 16 needs two bytes, and field 0 is allowed.
    EXPECT_EQ(written([](auto& w) { w.varintField(16, 1); }), (Bytes{0x80, 0x01, 0x01}));
    EXPECT_EQ(written([](auto& w) { w.varintField(0, 1); }), (Bytes{0x00, 0x01}));

    EXPECT_EQ(ProtobufWriter::varint(0), Bytes{0x00});
    EXPECT_EQ(ProtobufWriter::varint(127), Bytes{0x7F});
    EXPECT_EQ(ProtobufWriter::varint(128), (Bytes{0x80, 0x01}));
    EXPECT_EQ(ProtobufWriter::fixed32(0x01020304), (Bytes{0x04, 0x03, 0x02, 0x01}));

    ProtobufWriter writer;
    EXPECT_THROW(writer.varintField(-1, 0), std::invalid_argument);
    EXPECT_TRUE(writer.bytes().empty());
}

TEST(ProtobufWriter, AppendReproducesDecodedFields) {
    ProtobufWriter original;
    original.varintField(1, 150);
    original.fixed64Field(2, 0x0102030405060708);
    original.stringField(3, "text");
    original.fixed32Field(4, 7);
    original.varintField(1, 2);
    original.bytesField(300, Bytes(200, 0x55));
    original.varintField(0, 9);
    const ProtobufMessage decoded(original.bytes());
    ASSERT_EQ(decoded.fields().size(), 7u);
    ProtobufWriter copy;
    for (const auto& field : decoded.fields()) copy.append(field);
    EXPECT_EQ(copy.bytes(), original.bytes());
}

}  // namespace
}  // namespace lumaro
