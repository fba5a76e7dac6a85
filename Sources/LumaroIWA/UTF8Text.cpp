#include "LumaroIWA/UTF8Text.hpp"

namespace lumaro {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool isContinuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

// The length of the well-formed sequence that starts at `start`, or the
// length of its maximal ill-formed prefix negated (at least 1 byte).
long sequenceLength(ByteView bytes, std::size_t start) {
    const std::uint8_t lead = bytes[start];
    if (lead < 0x80) return 1;
    std::size_t length;
    std::uint8_t secondLow = 0x80, secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) secondLow = 0xA0;   // no overlong forms
        if (lead == 0xED) secondHigh = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) secondLow = 0x90;
        if (lead == 0xF4) secondHigh = 0x8F;  // nothing above U+10FFFF
    } else {
        return -1;
    }
    for (std::size_t offset = 1; offset < length; ++offset) {
        if (start + offset >= bytes.size()) return -static_cast<long>(offset);
        const std::uint8_t byte = bytes[start + offset];
        const bool valid = offset == 1 ? (byte >= secondLow && byte <= secondHigh) : isContinuation(byte);
        if (!valid) return -static_cast<long>(offset);
    }
    return static_cast<long>(length);
}

}  // namespace

std::string decodingUTF8(ByteView bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t position = 0;
    while (position < bytes.size()) {
        const long length = sequenceLength(bytes, position);
        if (length > 0) {
            text.append(reinterpret_cast<const char*>(bytes.data() + position), static_cast<std::size_t>(length));
            position += static_cast<std::size_t>(length);
        } else {
            text.append(kReplacementCharacter);
            position += static_cast<std::size_t>(-length);
        }
    }
    return text;
}

}  // namespace lumaro
