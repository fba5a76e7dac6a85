#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// Base-128 varints as protobuf writes them: low 7 bits first, the high bit of
// each byte saying that another byte follows.
struct VarintCoding {
    // A 64-bit value never needs more bytes than this.
    static constexpr std::size_t kMaximumLength = 10;

    // Reads one varint at `position` and moves past it. Bits beyond bit 63 are
    // dropped. Absent when the input ends inside the varint or a tenth byte
    // still announces a continuation; `position` is then left unchanged.
    static std::optional<std::uint64_t> read(ByteView input, std::size_t& position) {
        std::uint64_t value = 0;
        std::size_t cursor = position;
        for (std::size_t index = 0; index < kMaximumLength; ++index) {
            if (cursor >= input.size()) return std::nullopt;
            const std::uint8_t byte = input[cursor++];
            value |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * index);
            if ((byte & 0x80) == 0) {
                position = cursor;
                return value;
            }
        }
        return std::nullopt;
    }

    static void append(Bytes& output, std::uint64_t value) {
        while (value >= 0x80) {
            output.push_back(static_cast<std::uint8_t>(value | 0x80));
            value >>= 7;
        }
        output.push_back(static_cast<std::uint8_t>(value));
    }
};

}  // namespace lumaro
