#include "LumaroIWA/Snappy.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "LumaroIWA/VarintCoding.hpp"

namespace lumaro {

namespace {

const char* describe(SnappyError::Case kind) {
    switch (kind) {
        case SnappyError::Case::truncated: return "The Snappy block is truncated.";
        case SnappyError::Case::invalidOffset: return "The Snappy block copies from before the start of its output.";
    }
    return "The Snappy block is damaged.";
}

// Element types: the low two bits of an element's tag byte.
constexpr std::uint8_t kLiteral = 0;
constexpr std::uint8_t kCopyOneByteOffset = 1;
constexpr std::uint8_t kCopyTwoByteOffset = 2;

constexpr std::size_t kFragmentSize = 65536;
constexpr std::size_t kMinimumHashTableSize = 256;
constexpr std::size_t kMaximumHashTableSize = 16384;
constexpr std::uint32_t kHashMultiplier = 0x1E35A7BD;
constexpr unsigned kHashShift = 18;
// Fragments shorter than this are stored as one literal; longer ones stop
// looking for matches this many bytes before their end.
constexpr std::size_t kInputMarginBytes = 15;
constexpr std::uint32_t kInitialSkip = 32;
constexpr unsigned kSkipShift = 5;
constexpr std::size_t kMinimumMatch = 4;

// Literal lengths up to this fit in the tag; longer ones follow it.
constexpr std::size_t kLongestShortLiteral = 60;
constexpr std::uint8_t kFirstLongLiteralCode = 59;

std::uint32_t load32(const std::uint8_t* bytes, std::size_t index) {
    return static_cast<std::uint32_t>(bytes[index]) | static_cast<std::uint32_t>(bytes[index + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[index + 2]) << 16 | static_cast<std::uint32_t>(bytes[index + 3]) << 24;
}

std::size_t hashTableSize(std::size_t fragmentLength) {
    std::size_t size = kMinimumHashTableSize;
    while (size < std::min(fragmentLength, kMaximumHashTableSize)) size *= 2;
    return size;
}

void emitLiteral(const std::uint8_t* input, std::size_t from, std::size_t to, Bytes& output) {
    const std::size_t length = to - from;
    if (length <= kLongestShortLiteral) {
        output.push_back(static_cast<std::uint8_t>((length - 1) << 2 | kLiteral));
    } else {
        std::size_t lengthMinusOne = length - 1;
        std::uint8_t lengthBytes[4];
        std::uint8_t count = 0;
        while (lengthMinusOne > 0) {
            lengthBytes[count++] = static_cast<std::uint8_t>(lengthMinusOne);
            lengthMinusOne >>= 8;
        }
        output.push_back(static_cast<std::uint8_t>((kFirstLongLiteralCode + count) << 2 | kLiteral));
        output.insert(output.end(), lengthBytes, lengthBytes + count);
    }
    output.insert(output.end(), input + from, input + to);
}

void emitCopyAtMost64(std::size_t offset, std::size_t length, Bytes& output) {
    if (length < 12 && offset < 2048) {
        output.push_back(static_cast<std::uint8_t>(kCopyOneByteOffset | (length - 4) << 2 | (offset >> 8) << 5));
        output.push_back(static_cast<std::uint8_t>(offset));
    } else {
        output.push_back(static_cast<std::uint8_t>(kCopyTwoByteOffset | (length - 1) << 2));
        output.push_back(static_cast<std::uint8_t>(offset));
        output.push_back(static_cast<std::uint8_t>(offset >> 8));
    }
}

void emitCopy(std::size_t offset, std::size_t length, Bytes& output) {
    while (length >= 68) {
        emitCopyAtMost64(offset, 64, output);
        length -= 64;
    }
    if (length > 64) {
        emitCopyAtMost64(offset, 60, output);
        length -= 60;
    }
    emitCopyAtMost64(offset, length, output);
}

void compressFragment(const std::uint8_t* input, std::size_t start, std::size_t end, Bytes& output) {
    const std::size_t length = end - start;
    if (length < kInputMarginBytes) {
        if (length > 0) emitLiteral(input, start, end, output);
        return;
    }
    const std::size_t tableSize = hashTableSize(length);
    std::array<std::uint16_t, kMaximumHashTableSize> table{};
    const auto hash = [&](std::size_t position) {
        return ((load32(input, position) * kHashMultiplier) >> kHashShift) & (tableSize - 1);
    };

    const std::size_t ipLimit = end - kInputMarginBytes;
    std::size_t nextEmit = start;
    std::size_t nextIp = start + 1;
    while (true) {
        std::size_t ip = 0;
        std::size_t candidate = 0;
        std::uint32_t skip = kInitialSkip;
        while (true) {
            ip = nextIp;
            const std::uint32_t step = skip >> kSkipShift;
            skip += step;
            nextIp = ip + step;
            if (nextIp > ipLimit) {
                if (nextEmit < end) emitLiteral(input, nextEmit, end, output);
                return;
            }
            const std::size_t slot = hash(ip);
            candidate = start + table[slot];
            table[slot] = static_cast<std::uint16_t>(ip - start);
            if (load32(input, candidate) == load32(input, ip)) break;
        }
        if (nextEmit < ip) emitLiteral(input, nextEmit, ip, output);
        while (true) {
            std::size_t matched = kMinimumMatch;
            while (ip + matched < end && input[candidate + matched] == input[ip + matched]) ++matched;
            emitCopy(ip - candidate, matched, output);
            ip += matched;
            nextEmit = ip;
            if (ip >= ipLimit) {
                if (nextEmit < end) emitLiteral(input, nextEmit, end, output);
                return;
            }
            table[hash(ip - 1)] = static_cast<std::uint16_t>(ip - 1 - start);
            const std::size_t slot = hash(ip);
            candidate = start + table[slot];
            table[slot] = static_cast<std::uint16_t>(ip - start);
            if (load32(input, candidate) != load32(input, ip)) {
                nextIp = ip + 1;
                break;
            }
        }
    }
}

}  // namespace

SnappyError::SnappyError(Case kind) : Error(describe(kind)), kind_(kind) {}

Bytes Snappy::compress(ByteView input) {
    Bytes output;
    VarintCoding::append(output, input.size());
    for (std::size_t start = 0; start < input.size(); start += kFragmentSize) {
        const std::size_t end = std::min(input.size(), start + kFragmentSize);
        compressFragment(input.data(), start, end, output);
    }
    return output;
}

Bytes Snappy::decompress(ByteView block) {
    if (block.empty()) throw SnappyError(SnappyError::Case::truncated);
    // The preamble has no length limit; bits past the 64th are dropped.
    std::uint64_t announced = 0;
    std::size_t position = 0;
    for (unsigned shift = 0;; shift += 7) {
        if (position >= block.size()) throw SnappyError(SnappyError::Case::truncated);
        const std::uint8_t byte = block[position++];
        if (shift < 64) announced |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) break;
    }
    Bytes output;
    output.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(announced, kMaximumReservation)));

    const auto need = [&](std::size_t count) {
        if (block.size() - position < count) throw SnappyError(SnappyError::Case::truncated);
    };
    while (position < block.size()) {
        const std::uint8_t tag = block[position++];
        std::size_t length = 0;
        std::size_t offset = 0;
        switch (tag & 3) {
            case kLiteral: {
                length = (tag >> 2) + 1;
                if (length > kLongestShortLiteral) {
                    const std::size_t extra = length - kLongestShortLiteral;
                    need(extra);
                    std::size_t value = 0;
                    for (std::size_t index = 0; index < extra; ++index) value |= std::size_t{block[position + index]} << (8 * index);
                    position += extra;
                    length = value + 1;
                }
                need(length);
                output.insert(output.end(), block.begin() + static_cast<std::ptrdiff_t>(position),
                              block.begin() + static_cast<std::ptrdiff_t>(position + length));
                position += length;
                continue;
            }
            case kCopyOneByteOffset:
                need(1);
                length = ((tag >> 2) & 7) + 4;
                offset = static_cast<std::size_t>(tag >> 5) << 8 | block[position];
                position += 1;
                break;
            case kCopyTwoByteOffset:
                need(2);
                length = (tag >> 2) + 1;
                offset = std::size_t{block[position]} | std::size_t{block[position + 1]} << 8;
                position += 2;
                break;
            default:
                need(4);
                length = (tag >> 2) + 1;
                offset = load32(block.data(), position);
                position += 4;
                break;
        }
        if (offset == 0 || offset > output.size()) throw SnappyError(SnappyError::Case::invalidOffset);
        std::size_t source = output.size() - offset;
        for (std::size_t index = 0; index < length; ++index) output.push_back(output[source++]);
    }
    return output;
}

}  // namespace lumaro
