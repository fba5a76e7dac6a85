#include <gtest/gtest.h>

#include "LumaroIWA/IWAReferenceScanner.hpp"
#include "LumaroIWA/Protobuf.hpp"

namespace lumaro {
namespace {

Bytes reference(std::uint64_t identifier) {
    ProtobufWriter writer;
    writer.varintField(1, identifier);
    return writer.bytes();
}

Bytes wrapped(std::int64_t number, const Bytes& inner) {
    ProtobufWriter writer;
    writer.messageField(number, inner);
    return writer.bytes();
}

std::vector<std::uint64_t> scan(const Bytes& payload, const std::unordered_set<std::uint64_t>& known) {
    return IWAReferenceScanner::referencedObjectIDs(payload, known);
}

TEST(IWAReferenceScanner, FindsKnownReferences) {
    EXPECT_EQ(scan(wrapped(2, reference(42)), {42}), std::vector<std::uint64_t>{42});
    EXPECT_TRUE(scan(wrapped(2, reference(42)), {41}).empty());
    EXPECT_TRUE(scan({}, {42}).empty());
    // The top-level message itself is never a reference.
    EXPECT_TRUE(scan(reference(42), {42}).empty());

    // Fields 2 and 3 may accompany the identifier; the identifier is the first field 1.
    ProtobufWriter extras;
    extras.varintField(2, 5);
    extras.varintField(1, 43);
    extras.varintField(3, 6);
    extras.varintField(1, 44);
    EXPECT_EQ(scan(wrapped(4, extras.bytes()), {43, 44}), std::vector<std::uint64_t>{43});

    // Each once, in the order found, depth first.
    ProtobufWriter several;
    several.messageField(1, reference(10));
    several.messageField(1, wrapped(7, reference(11)));
    several.messageField(1, reference(10));
    EXPECT_EQ(scan(several.bytes(), {10, 11}), (std::vector<std::uint64_t>{10, 11}));
}

TEST(IWAReferenceScanner, DescendsIntoMessagesThatAreNotReferences) {
    // {1: 42, 4: 1} has a field outside 1..3, so its children are searched.
    ProtobufWriter notShaped;
    notShaped.varintField(1, 42);
    notShaped.varintField(4, 1);
    notShaped.messageField(2, reference(50));
    EXPECT_EQ(scan(wrapped(2, notShaped.bytes()), {42, 50}), std::vector<std::uint64_t>{50});

    // Field 1 as bytes is no identifier; a known reference is not descended into.
    ProtobufWriter bytesFirst;
    bytesFirst.messageField(1, reference(51));
    EXPECT_EQ(scan(wrapped(3, bytesFirst.bytes()), {51}), std::vector<std::uint64_t>{51});
    ProtobufWriter known;
    known.varintField(1, 60);
    known.messageField(2, reference(61));
    EXPECT_EQ(scan(wrapped(3, known.bytes()), {60, 61}), std::vector<std::uint64_t>{60});
    // An unknown reference is descended into.
    EXPECT_EQ(scan(wrapped(3, known.bytes()), {61}), std::vector<std::uint64_t>{61});
}

TEST(IWAReferenceScanner, StopsBelowTheDepthLimit) {
    const auto nested = [](int levels) {
        Bytes message = reference(77);  // at depth `levels`
        for (int level = 0; level < levels; ++level) message = wrapped(5, message);
        return message;
    };
    EXPECT_EQ(scan(nested(IWAReferenceScanner::kMaximumDepth), {77}), std::vector<std::uint64_t>{77});
    EXPECT_TRUE(scan(nested(IWAReferenceScanner::kMaximumDepth + 1), {77}).empty());
    EXPECT_TRUE(scan(nested(70), {77}).empty());
}

}  // namespace
}  // namespace lumaro
