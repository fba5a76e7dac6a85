#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// One decoded protobuf field: its number and its raw value. Only wire types
// 0 (varint), 1 (fixed64), 2 (length-delimited) and 5 (fixed32) exist here;
// signed and packed values are handed over raw.
struct ProtobufField {
    struct Varint { std::uint64_t value; };  // no member initializer: keeps Value default-constructible
    struct Fixed64 { Bytes bytes; };          // the 8 raw bytes
    struct LengthDelimited { Bytes bytes; };  // payload without its length prefix
    struct Fixed32 { Bytes bytes; };          // the 4 raw bytes (hand-built fields may differ)
    // Cases in wire-type order: varint, fixed64, lengthDelimited, fixed32.
    using Value = std::variant<Varint, Fixed64, LengthDelimited, Fixed32>;

    std::int64_t number = 0;
    Value value;

    const std::uint64_t* varint() const;  // the value when this is a varint field, else null
    const Bytes* lengthDelimited() const; // the payload when length-delimited, else null
    const Bytes* fixed32() const;
    const Bytes* fixed64() const;
};

// A read-only view of one protobuf message: its fields in wire order, duplicates
// kept. Decoding is lenient: a malformed field ends the list, and every field
// before it stays. Lookups take the first field with the number AND the kind.
class ProtobufMessage {
public:
    ProtobufMessage() = default;
    explicit ProtobufMessage(ByteView bytes);
    explicit ProtobufMessage(const Bytes& bytes) : ProtobufMessage(ByteView(bytes)) {}

    const std::vector<ProtobufField>& fields() const { return fields_; }

    std::optional<std::uint64_t> varint(std::int64_t number) const;
    std::optional<Bytes> bytes(std::int64_t number) const;
    std::optional<ProtobufMessage> message(std::int64_t number) const;
    std::optional<float> float32(std::int64_t number) const;  // the Part's `float(_:)`
    std::vector<Bytes> allBytes(std::int64_t number) const;
    std::vector<ProtobufMessage> messages(std::int64_t number) const;
    std::vector<std::uint64_t> allVarints(std::int64_t number) const;

    // Non-copying lookup: the payload of the first length-delimited field with
    // that number, else null. Points into this message.
    const Bytes* bytesPointer(std::int64_t number) const;

private:
    std::vector<ProtobufField> fields_;
};

// Append-only protobuf encoder. Field numbers must not be negative.
class ProtobufWriter {
public:
    ProtobufWriter() = default;

    const Bytes& bytes() const { return bytes_; }
    Bytes take() { return std::move(bytes_); }

    void varintField(std::int64_t number, std::uint64_t value);
    void bytesField(std::int64_t number, ByteView value);
    void messageField(std::int64_t number, ByteView encodedMessage);
    void stringField(std::int64_t number, std::string_view text);
    void fixed32Field(std::int64_t number, std::uint32_t value);
    void appendFixed32(std::int64_t number, ByteView rawBytes);  // bytes written verbatim, any count
    void fixed64Field(std::int64_t number, std::uint64_t value);
    void packedVarintField(std::int64_t number, const std::vector<std::uint64_t>& values);
    void floatField(std::int64_t number, float value);  // a fixed32 holding the IEEE 754 bits
    void append(const ProtobufField& field);            // re-emits a decoded field unchanged

    static Bytes varint(std::uint64_t value);
    static Bytes fixed32(std::uint32_t value);

private:
    void tag(std::int64_t number, unsigned wireType);
    Bytes bytes_;
};

}  // namespace lumaro
