#include "LumaroMarkdown/UnicodeScalars.hpp"

#include <utf8proc.h>

namespace lumaro {

namespace {

constexpr std::int32_t kTab = 0x09;
constexpr std::int32_t kLineFeed = 0x0A;
constexpr std::int32_t kCarriageReturn = 0x0D;
constexpr std::int32_t kNextLine = 0x85;
constexpr std::int32_t kInvalidScalar = -1;

struct DecodedScalar {
    std::int32_t scalar;
    std::size_t length;  // bytes taken, at least 1
};

DecodedScalar decodeAt(std::string_view text, std::size_t offset) {
    utf8proc_int32_t scalar = kInvalidScalar;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + offset);
    const utf8proc_ssize_t length = utf8proc_iterate(bytes, static_cast<utf8proc_ssize_t>(text.size() - offset), &scalar);
    if (length <= 0) {
        return {kInvalidScalar, 1};
    }
    return {scalar, static_cast<std::size_t>(length)};
}

// Start of the scalar that ends at `end` (exclusive): back over continuation
// bytes, at most three, then check that they decode as one scalar.
std::size_t previousScalarStart(std::string_view text, std::size_t end) {
    std::size_t start = end - 1;
    for (int step = 0; step < 3 && start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80; ++step) {
        --start;
    }
    if (decodeAt(text, start).length != end - start) {
        return end - 1;
    }
    return start;
}

utf8proc_category_t categoryOf(std::int32_t scalar) {
    return static_cast<utf8proc_category_t>(utf8proc_category(scalar));
}

std::string mapped(std::string_view text, utf8proc_int32_t (*mapping)(utf8proc_int32_t)) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t offset = 0; offset < text.size();) {
        const DecodedScalar decoded = decodeAt(text, offset);
        if (decoded.scalar < 0) {
            result += text[offset];
        } else {
            utf8proc_uint8_t encoded[4];
            const auto length = utf8proc_encode_char(mapping(decoded.scalar), encoded);
            result.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(length));
        }
        offset += decoded.length;
    }
    return result;
}

}  // namespace

std::string uppercased(std::string_view text) {
    return mapped(text, utf8proc_toupper);
}

std::string lowercased(std::string_view text) {
    return mapped(text, utf8proc_tolower);
}

bool isSpaceOrTab(std::int32_t scalar) {
    return scalar == kTab || (scalar >= 0 && categoryOf(scalar) == UTF8PROC_CATEGORY_ZS);
}

bool isWhitespaceOrNewline(std::int32_t scalar) {
    if (scalar < 0) {
        return false;
    }
    if ((scalar >= kLineFeed && scalar <= kCarriageReturn) || scalar == kNextLine) {
        return true;
    }
    const auto category = categoryOf(scalar);
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL || category == UTF8PROC_CATEGORY_ZP;
}

bool isWhiteSpaceProperty(std::int32_t scalar) {
    return scalar == kTab || isWhitespaceOrNewline(scalar);
}

bool containsWhiteSpace(std::string_view text) {
    for (std::size_t offset = 0; offset < text.size();) {
        const DecodedScalar decoded = decodeAt(text, offset);
        if (isWhiteSpaceProperty(decoded.scalar)) {
            return true;
        }
        offset += decoded.length;
    }
    return false;
}

std::string_view trimmed(std::string_view text, bool (*belongs)(std::int32_t)) {
    std::size_t start = 0;
    while (start < text.size()) {
        const DecodedScalar decoded = decodeAt(text, start);
        if (!belongs(decoded.scalar)) {
            break;
        }
        start += decoded.length;
    }
    std::size_t end = text.size();
    while (end > start) {
        const std::size_t scalarStart = previousScalarStart(text, end);
        if (scalarStart < start || !belongs(decodeAt(text, scalarStart).scalar)) {
            break;
        }
        end = scalarStart;
    }
    return text.substr(start, end - start);
}

}  // namespace lumaro
