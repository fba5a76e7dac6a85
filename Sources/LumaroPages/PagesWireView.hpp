#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// A non-copying walk over the fields of one protobuf message, with the same
// lenient rules as ProtobufMessage: a malformed field ends the walk and the
// fields before it count. Used where the reader searches whole object graphs
// (image data records), so that nested messages are not copied at every
// level of the search. The viewed bytes must outlive the view.
class PagesWireView {
public:
    struct Field {
        std::int64_t number = 0;
        unsigned wireType = 0;
        std::uint64_t varint = 0;  // wire type 0
        ByteView bytes;            // wire types 1, 2 and 5: the raw value bytes
    };

    static constexpr unsigned kVarint = 0, kFixed64 = 1, kLengthDelimited = 2, kFixed32 = 5;

    explicit PagesWireView(ByteView message) : message_(message) {}

    // Calls visit(field) for each field in wire order.
    template <typename Visit>
    void forEach(Visit visit) const {
        std::size_t position = 0;
        Field field;
        while (next(position, field)) visit(field);
    }

    std::optional<std::uint64_t> varint(std::int64_t number) const {
        std::size_t position = 0;
        Field field;
        while (next(position, field))
            if (field.number == number && field.wireType == kVarint) return field.varint;
        return std::nullopt;
    }

    std::optional<ByteView> bytes(std::int64_t number) const {
        std::size_t position = 0;
        Field field;
        while (next(position, field))
            if (field.number == number && field.wireType == kLengthDelimited) return field.bytes;
        return std::nullopt;
    }

private:
    bool readVarint(std::size_t& position, std::uint64_t& value) const {
        value = 0;
        for (unsigned index = 0; index < 10; ++index) {
            if (position >= message_.size()) return false;
            const std::uint8_t byte = message_[position++];
            value |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * index);
            if ((byte & 0x80) == 0) return true;
        }
        return false;
    }

    bool next(std::size_t& position, Field& field) const {
        if (position >= message_.size()) return false;
        std::uint64_t tag = 0;
        if (!readVarint(position, tag)) return false;
        field.number = static_cast<std::int64_t>(tag >> 3);
        field.wireType = static_cast<unsigned>(tag & 7);
        const std::size_t remaining = message_.size() - position;
        switch (field.wireType) {
            case kVarint:
                return remaining > 0 && readVarint(position, field.varint);
            case kFixed64:
            case kFixed32: {
                const std::size_t width = field.wireType == kFixed64 ? 8 : 4;
                if (remaining < width) return false;
                field.bytes = message_.subspan(position, width);
                position += width;
                return true;
            }
            case kLengthDelimited: {
                std::uint64_t length = 0;
                if (remaining == 0 || !readVarint(position, length)) return false;
                if (length > message_.size() - position) return false;
                field.bytes = message_.subspan(position, static_cast<std::size_t>(length));
                position += static_cast<std::size_t>(length);
                return true;
            }
            default:
                return false;
        }
    }

    ByteView message_;
};

}  // namespace lumaro
