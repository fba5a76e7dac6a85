#include "LumaroIWA/Snappy.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "LumaroIWA/Protobuf.hpp"

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

// Unaligned native loads, read as little-endian values.
std::uint32_t load32(const std::uint8_t* bytes) {
    std::uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native == std::endian::big) {
        value = (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
    }
    return value;
}

std::uint64_t loadNative64(const std::uint8_t* bytes) {
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The number of equal leading bytes (in memory order) of two words that differ.
std::size_t equalLeadingBytes(std::uint64_t difference) {
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<std::size_t>(std::countr_zero(difference)) / 8;
    } else {
        return static_cast<std::size_t>(std::countl_zero(difference)) / 8;
    }
}

std::size_t hashTableSize(std::size_t fragmentLength) {
    std::size_t size = kMinimumHashTableSize;
    while (size < std::min(fragmentLength, kMaximumHashTableSize)) size *= 2;
    return size;
}

// Room enough for the block of `length` input bytes: a copy takes at most 3
// bytes for its 4 or more, a literal adds 1 tag byte to up to 60 bytes and at
// most 3 to more, so no mix of them grows the input by a sixth.
std::size_t maximumCompressedLength(std::size_t length) { return 32 + length + length / 6; }

std::uint8_t* emitLiteral(const std::uint8_t* input, std::size_t from, std::size_t to, std::uint8_t* output) {
    const std::size_t length = to - from;
    if (length <= kLongestShortLiteral) {
        *output++ = static_cast<std::uint8_t>((length - 1) << 2 | kLiteral);
    } else {
        std::size_t lengthMinusOne = length - 1;
        std::uint8_t* tag = output++;
        std::uint8_t count = 0;
        while (lengthMinusOne > 0) {
            *output++ = static_cast<std::uint8_t>(lengthMinusOne);
            lengthMinusOne >>= 8;
            ++count;
        }
        *tag = static_cast<std::uint8_t>((kFirstLongLiteralCode + count) << 2 | kLiteral);
    }
    std::memcpy(output, input + from, length);
    return output + length;
}

std::uint8_t* emitCopyAtMost64(std::size_t offset, std::size_t length, std::uint8_t* output) {
    if (length < 12 && offset < 2048) {
        output[0] = static_cast<std::uint8_t>(kCopyOneByteOffset | (length - 4) << 2 | (offset >> 8) << 5);
        output[1] = static_cast<std::uint8_t>(offset);
        return output + 2;
    }
    output[0] = static_cast<std::uint8_t>(kCopyTwoByteOffset | (length - 1) << 2);
    output[1] = static_cast<std::uint8_t>(offset);
    output[2] = static_cast<std::uint8_t>(offset >> 8);
    return output + 3;
}

std::uint8_t* emitCopy(std::size_t offset, std::size_t length, std::uint8_t* output) {
    while (length >= 68) {
        output = emitCopyAtMost64(offset, 64, output);
        length -= 64;
    }
    if (length > 64) {
        output = emitCopyAtMost64(offset, 60, output);
        length -= 60;
    }
    return emitCopyAtMost64(offset, length, output);
}

// The length of the match at `ip` against `candidate`, whose first
// kMinimumMatch bytes are known to agree; it may run up to `end`.
std::size_t matchLength(const std::uint8_t* input, std::size_t candidate, std::size_t ip, std::size_t end) {
    std::size_t matched = kMinimumMatch;
    while (ip + matched + 8 <= end) {
        const std::uint64_t difference = loadNative64(input + candidate + matched) ^ loadNative64(input + ip + matched);
        if (difference != 0) return matched + equalLeadingBytes(difference);
        matched += 8;
    }
    while (ip + matched < end && input[candidate + matched] == input[ip + matched]) ++matched;
    return matched;
}

// Elements for the bytes start..end-1 of `input`; copies reach back only to `start`.
std::uint8_t* compressFragment(const std::uint8_t* input, std::size_t start, std::size_t end, std::uint8_t* output) {
    const std::size_t length = end - start;
    if (length < kInputMarginBytes) {
        return length > 0 ? emitLiteral(input, start, end, output) : output;
    }
    const std::size_t tableSize = hashTableSize(length);
    std::uint16_t table[kMaximumHashTableSize];
    std::memset(table, 0, tableSize * sizeof table[0]);
    const std::size_t mask = tableSize - 1;
    const auto hash = [&](std::size_t position) {
        return ((load32(input + position) * kHashMultiplier) >> kHashShift) & mask;
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
            if (nextIp > ipLimit) return emitLiteral(input, nextEmit, end, output);
            const std::uint32_t current = load32(input + ip);
            const std::size_t slot = ((current * kHashMultiplier) >> kHashShift) & mask;
            candidate = start + table[slot];
            table[slot] = static_cast<std::uint16_t>(ip - start);
            if (load32(input + candidate) == current) break;
        }
        if (nextEmit < ip) output = emitLiteral(input, nextEmit, ip, output);
        while (true) {
            const std::size_t matched = matchLength(input, candidate, ip, end);
            output = emitCopy(ip - candidate, matched, output);
            ip += matched;
            nextEmit = ip;
            if (ip >= ipLimit) return nextEmit < end ? emitLiteral(input, nextEmit, end, output) : output;
            table[hash(ip - 1)] = static_cast<std::uint16_t>(ip - 1 - start);
            const std::uint32_t current = load32(input + ip);
            const std::size_t slot = ((current * kHashMultiplier) >> kHashShift) & mask;
            candidate = start + table[slot];
            table[slot] = static_cast<std::uint16_t>(ip - start);
            if (load32(input + candidate) != current) {
                nextIp = ip + 1;
                break;
            }
        }
    }
}

}  // namespace

SnappyError::SnappyError(Case kind) : Error(describe(kind)), kind_(kind) {}

Bytes Snappy::compress(ByteView input) {
    Bytes output = ProtobufWriter::varint(input.size());
    for (std::size_t start = 0; start < input.size(); start += kFragmentSize) {
        const std::size_t end = std::min(input.size(), start + kFragmentSize);
        // Room for this fragment only, so that a large input does not make
        // the whole worst-case buffer at once.
        const std::size_t used = output.size();
        output.resize(used + maximumCompressedLength(end - start));
        const std::uint8_t* last = compressFragment(input.data(), start, end, output.data() + used);
        output.resize(static_cast<std::size_t>(last - output.data()));
    }
    return output;
}

namespace {

// Decoding writes whole words where it can, so the output buffer keeps this
// much room past the bytes produced.
constexpr std::size_t kOutputSlack = 64;
// A literal this short is copied as whole 16-byte moves when both sides have room.
constexpr std::size_t kShortLiteral = 16;
constexpr std::size_t kWideLiteral = 64;
// No element yields more output than 22 times its own size (a 3-byte copy
// makes at most 64 bytes), so a preamble announcing more is not believed.
constexpr std::uint64_t kMaximumExpansion = 22;

[[noreturn]] void fail(SnappyError::Case kind) { throw SnappyError(kind); }

// Repeats `length` (at most 64) bytes from `offset` back, which may overlap
// the bytes being written; `destination` has kOutputSlack bytes of room past
// the copy.
void copyBack(std::uint8_t* destination, std::size_t offset, std::size_t length) {
    const std::uint8_t* source = destination - offset;
    if (offset >= 16) {
        // Four moves cover the longest copy; a fixed count spares the branch
        // on the length, and each move reads only bytes already written.
        std::memcpy(destination, source, 16);
        for (std::size_t done = 16; done < length; done += 16) std::memcpy(destination + done, source + done, 16);
    } else if (offset >= 8) {
        for (std::size_t done = 0; done < length; done += 8) std::memcpy(destination + done, source + done, 8);
    } else if (offset == 1) {
        std::memset(destination, *source, length);
    } else {
        for (std::size_t index = 0; index < length; ++index) destination[index] = source[index];
    }
}

// The preamble: the uncompressed length, with no limit on its byte count;
// bits past the 64th are dropped.
std::uint64_t readPreamble(ByteView block, std::size_t& position) {
    std::uint64_t announced = 0;
    for (unsigned shift = 0;; shift += 7) {
        if (position >= block.size()) fail(SnappyError::Case::truncated);
        const std::uint8_t byte = block[position++];
        if (shift < 64) announced |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) return announced;
    }
}

}  // namespace

Bytes Snappy::decompress(ByteView block) {
    if (block.empty()) fail(SnappyError::Case::truncated);
    std::size_t position = 0;
    const std::uint64_t announced = readPreamble(block, position);
    if (position == block.size()) return {};

    // The buffer is larger than the bytes produced so far (by the slack at
    // least) and grows by doubling; the preamble only sizes it at first.
    const std::uint64_t possible = std::uint64_t{block.size()} * kMaximumExpansion;
    const std::uint64_t reservation = std::min({announced, possible, std::uint64_t{kMaximumReservation}});
    Bytes output(static_cast<std::size_t>(reservation) + kOutputSlack);
    std::size_t produced = 0;
    const auto room = [&](std::size_t count) {
        if (output.size() - produced < count + kOutputSlack) {
            output.resize(std::max(produced + count + kOutputSlack, output.size() * 2));
        }
        return output.data() + produced;
    };

    const std::uint8_t* const input = block.data();
    const std::size_t inputSize = block.size();
    while (position < inputSize) {
        const std::uint8_t tag = input[position++];
        const std::size_t available = inputSize - position;
        std::size_t length = 0;
        std::size_t offset = 0;
        switch (tag & 3) {
            case kLiteral: {
                length = (tag >> 2) + 1;
                if (length <= kLongestShortLiteral && available >= kWideLiteral) {
                    std::uint8_t* destination = room(kWideLiteral);
                    for (std::size_t done = 0; done < length; done += kShortLiteral) {
                        std::memcpy(destination + done, input + position + done, kShortLiteral);
                    }
                    produced += length;
                    position += length;
                    continue;
                }
                if (length > kLongestShortLiteral) {
                    const std::size_t extra = length - kLongestShortLiteral;
                    if (available < extra) fail(SnappyError::Case::truncated);
                    std::size_t value = 0;
                    for (std::size_t index = 0; index < extra; ++index) value |= std::size_t{input[position + index]} << (8 * index);
                    position += extra;
                    length = value + 1;
                }
                if (inputSize - position < length) fail(SnappyError::Case::truncated);
                std::memcpy(room(length), input + position, length);
                produced += length;
                position += length;
                continue;
            }
            case kCopyOneByteOffset:
                if (available < 1) fail(SnappyError::Case::truncated);
                length = ((tag >> 2) & 7) + 4;
                offset = static_cast<std::size_t>(tag >> 5) << 8 | input[position];
                position += 1;
                break;
            case kCopyTwoByteOffset:
                if (available < 2) fail(SnappyError::Case::truncated);
                length = (tag >> 2) + 1;
                offset = std::size_t{input[position]} | std::size_t{input[position + 1]} << 8;
                position += 2;
                break;
            default:
                if (available < 4) fail(SnappyError::Case::truncated);
                length = (tag >> 2) + 1;
                offset = load32(input + position);
                position += 4;
                break;
        }
        if (offset == 0 || offset > produced) fail(SnappyError::Case::invalidOffset);
        copyBack(room(length), offset, length);
        produced += length;
    }
    output.resize(produced);
    return output;
}

}  // namespace lumaro
