#include "LumaroPages/CRC32.hpp"

#include <array>

namespace lumaro {
namespace {

constexpr std::uint32_t kReflectedPolynomial = 0xEDB88320u;
constexpr std::uint32_t kInitialValue = 0xFFFFFFFFu;

using Table = std::array<std::uint32_t, 256>;

Table buildTable() {
    Table table{};
    for (std::uint32_t n = 0; n < table.size(); ++n) {
        std::uint32_t value = n;
        for (int shift = 0; shift < 8; ++shift) {
            const bool lowBitSet = (value & 1u) != 0;
            value >>= 1;
            if (lowBitSet) value ^= kReflectedPolynomial;
        }
        table[n] = value;
    }
    return table;
}

// Built once, on first use; a function-local static is initialised safely even
// when several threads get here at once.
const Table& table() {
    static const Table instance = buildTable();
    return instance;
}

}  // namespace

std::uint32_t CRC32::checksum(ByteView bytes) {
    const Table& lookup = table();
    std::uint32_t crc = kInitialValue;
    for (std::uint8_t byte : bytes) crc = lookup[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
    return crc ^ kInitialValue;
}

}  // namespace lumaro
