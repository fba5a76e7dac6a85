#include "LumaroIWA/Protobuf.hpp"

#include <bit>
#include <cstring>
#include <stdexcept>

#include "LumaroIWA/VarintCoding.hpp"

namespace lumaro {

namespace {

// Wire types; groups (3, 4) and the reserved types 6 and 7 are not supported.
constexpr unsigned kWireVarint = 0;
constexpr unsigned kWireFixed64 = 1;
constexpr unsigned kWireLengthDelimited = 2;
constexpr unsigned kWireFixed32 = 5;

constexpr std::size_t kFixed64Size = 8;
constexpr std::size_t kFixed32Size = 4;

Bytes copyRange(ByteView input, std::size_t start, std::size_t count) {
    return Bytes(input.begin() + static_cast<std::ptrdiff_t>(start),
                 input.begin() + static_cast<std::ptrdiff_t>(start + count));
}

// Reads one field at `position`; absent when the field is malformed, which
// ends the message.
std::optional<ProtobufField> readField(ByteView input, std::size_t& position) {
    const auto tag = VarintCoding::read(input, position);
    if (!tag) return std::nullopt;
    const auto number = static_cast<std::int64_t>(*tag >> 3);
    const std::size_t remaining = input.size() - position;
    switch (static_cast<unsigned>(*tag & 7)) {
        case kWireVarint: {
            const auto value = VarintCoding::read(input, position);
            if (!value) return std::nullopt;
            return ProtobufField{number, ProtobufField::Varint{*value}};
        }
        case kWireFixed64:
            if (remaining < kFixed64Size) return std::nullopt;
            position += kFixed64Size;
            return ProtobufField{number, ProtobufField::Fixed64{copyRange(input, position - kFixed64Size, kFixed64Size)}};
        case kWireFixed32:
            if (remaining < kFixed32Size) return std::nullopt;
            position += kFixed32Size;
            return ProtobufField{number, ProtobufField::Fixed32{copyRange(input, position - kFixed32Size, kFixed32Size)}};
        case kWireLengthDelimited: {
            const auto length = VarintCoding::read(input, position);
            if (!length || *length > input.size() - position) return std::nullopt;
            const auto count = static_cast<std::size_t>(*length);
            position += count;
            return ProtobufField{number, ProtobufField::LengthDelimited{copyRange(input, position - count, count)}};
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

const std::uint64_t* ProtobufField::varint() const {
    const auto* v = std::get_if<Varint>(&value);
    return v ? &v->value : nullptr;
}

const Bytes* ProtobufField::lengthDelimited() const {
    const auto* v = std::get_if<LengthDelimited>(&value);
    return v ? &v->bytes : nullptr;
}

const Bytes* ProtobufField::fixed32() const {
    const auto* v = std::get_if<Fixed32>(&value);
    return v ? &v->bytes : nullptr;
}

const Bytes* ProtobufField::fixed64() const {
    const auto* v = std::get_if<Fixed64>(&value);
    return v ? &v->bytes : nullptr;
}

ProtobufMessage::ProtobufMessage(ByteView bytes) {
    std::size_t position = 0;
    while (position < bytes.size()) {
        auto field = readField(bytes, position);
        if (!field) break;
        fields_.push_back(std::move(*field));
    }
}

std::optional<std::uint64_t> ProtobufMessage::varint(std::int64_t number) const {
    for (const auto& field : fields_) {
        if (field.number != number) continue;
        if (const auto* value = field.varint()) return *value;
    }
    return std::nullopt;
}

const Bytes* ProtobufMessage::bytesPointer(std::int64_t number) const {
    for (const auto& field : fields_) {
        if (field.number != number) continue;
        if (const auto* value = field.lengthDelimited()) return value;
    }
    return nullptr;
}

std::optional<Bytes> ProtobufMessage::bytes(std::int64_t number) const {
    if (const auto* value = bytesPointer(number)) return *value;
    return std::nullopt;
}

std::optional<ProtobufMessage> ProtobufMessage::message(std::int64_t number) const {
    if (const auto* value = bytesPointer(number)) return ProtobufMessage(*value);
    return std::nullopt;
}

std::optional<float> ProtobufMessage::float32(std::int64_t number) const {
    for (const auto& field : fields_) {
        if (field.number != number) continue;
        const auto* value = field.fixed32();
        if (!value || value->size() != kFixed32Size) continue;
        std::uint32_t bits = 0;
        for (std::size_t index = 0; index < kFixed32Size; ++index) {
            bits |= static_cast<std::uint32_t>((*value)[index]) << (8 * index);
        }
        return std::bit_cast<float>(bits);
    }
    return std::nullopt;
}

std::vector<Bytes> ProtobufMessage::allBytes(std::int64_t number) const {
    std::vector<Bytes> result;
    for (const auto& field : fields_) {
        if (field.number != number) continue;
        if (const auto* value = field.lengthDelimited()) result.push_back(*value);
    }
    return result;
}

std::vector<ProtobufMessage> ProtobufMessage::messages(std::int64_t number) const {
    std::vector<ProtobufMessage> result;
    for (const auto& field : fields_) {
        if (field.number != number) continue;
        if (const auto* value = field.lengthDelimited()) result.emplace_back(*value);
    }
    return result;
}

std::vector<std::uint64_t> ProtobufMessage::allVarints(std::int64_t number) const {
    std::vector<std::uint64_t> result;
    for (const auto& field : fields_) {
        if (field.number != number) continue;
        if (const auto* value = field.varint()) result.push_back(*value);
    }
    return result;
}

void ProtobufWriter::tag(std::int64_t number, unsigned wireType) {
    // A negative number has no tag; writing one would emit a field no reader
    // could match, so the caller's mistake is reported instead.
    if (number < 0) throw std::invalid_argument("A protobuf field number must not be negative.");
    VarintCoding::append(bytes_, (static_cast<std::uint64_t>(number) << 3) | wireType);
}

void ProtobufWriter::varintField(std::int64_t number, std::uint64_t value) {
    tag(number, kWireVarint);
    VarintCoding::append(bytes_, value);
}

void ProtobufWriter::bytesField(std::int64_t number, ByteView value) {
    tag(number, kWireLengthDelimited);
    VarintCoding::append(bytes_, value.size());
    bytes_.insert(bytes_.end(), value.begin(), value.end());
}

void ProtobufWriter::messageField(std::int64_t number, ByteView encodedMessage) {
    bytesField(number, encodedMessage);
}

void ProtobufWriter::stringField(std::int64_t number, std::string_view text) {
    bytesField(number, ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void ProtobufWriter::fixed32Field(std::int64_t number, std::uint32_t value) {
    tag(number, kWireFixed32);
    const Bytes encoded = fixed32(value);
    bytes_.insert(bytes_.end(), encoded.begin(), encoded.end());
}

void ProtobufWriter::appendFixed32(std::int64_t number, ByteView rawBytes) {
    tag(number, kWireFixed32);
    bytes_.insert(bytes_.end(), rawBytes.begin(), rawBytes.end());
}

void ProtobufWriter::fixed64Field(std::int64_t number, std::uint64_t value) {
    tag(number, kWireFixed64);
    for (std::size_t index = 0; index < kFixed64Size; ++index) {
        bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * index)));
    }
}

void ProtobufWriter::packedVarintField(std::int64_t number, const std::vector<std::uint64_t>& values) {
    Bytes packed;
    for (const auto value : values) VarintCoding::append(packed, value);
    bytesField(number, packed);
}

void ProtobufWriter::floatField(std::int64_t number, float value) {
    fixed32Field(number, std::bit_cast<std::uint32_t>(value));
}

void ProtobufWriter::append(const ProtobufField& field) {
    if (const auto* value = field.varint()) {
        varintField(field.number, *value);
    } else if (const auto* raw = field.fixed64()) {
        tag(field.number, kWireFixed64);
        bytes_.insert(bytes_.end(), raw->begin(), raw->end());
    } else if (const auto* payload = field.lengthDelimited()) {
        bytesField(field.number, *payload);
    } else if (const auto* raw32 = field.fixed32()) {
        appendFixed32(field.number, *raw32);
    }
}

Bytes ProtobufWriter::varint(std::uint64_t value) {
    Bytes encoded;
    VarintCoding::append(encoded, value);
    return encoded;
}

Bytes ProtobufWriter::fixed32(std::uint32_t value) {
    Bytes encoded(kFixed32Size);
    for (std::size_t index = 0; index < kFixed32Size; ++index) {
        encoded[index] = static_cast<std::uint8_t>(value >> (8 * index));
    }
    return encoded;
}

}  // namespace lumaro
