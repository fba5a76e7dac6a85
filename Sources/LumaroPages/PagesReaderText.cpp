#include "LumaroPages/PagesReaderText.hpp"

#include <utf8proc.h>

namespace lumaro::PagesReaderText {

namespace {

bool isContinuation(std::uint8_t byte, std::uint8_t low = 0x80, std::uint8_t high = 0xBF) {
    return byte >= low && byte <= high;
}

void appendReplacement(std::string& out) { out.append("\xEF\xBF\xBD"); }

// Length of the well-formed sequence that starts at `at`, or 0 when the bytes
// there are ill-formed; `subpart` then says how many bytes the replacement covers.
std::size_t wellFormedLength(ByteView bytes, std::size_t at, std::size_t& subpart) {
    const std::uint8_t lead = bytes[at];
    std::size_t needed;
    std::uint8_t secondLow = 0x80, secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2;
        if (lead == 0xE0) secondLow = 0xA0;
        if (lead == 0xED) secondHigh = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3;
        if (lead == 0xF0) secondLow = 0x90;
        if (lead == 0xF4) secondHigh = 0x8F;
    } else {
        subpart = 1;
        return 0;
    }
    std::size_t taken = 1;
    for (std::size_t k = 0; k < needed; ++k) {
        const std::size_t position = at + 1 + k;
        const bool fits = position < bytes.size() &&
                          (k == 0 ? isContinuation(bytes[position], secondLow, secondHigh)
                                  : isContinuation(bytes[position]));
        if (!fits) {
            subpart = taken;
            return 0;
        }
        ++taken;
    }
    return taken;
}

}  // namespace

void appendRepairedUTF8(ByteView bytes, std::string& out) {
    out.reserve(out.size() + bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t asciiEnd = at;
        while (asciiEnd < bytes.size() && bytes[asciiEnd] < 0x80) ++asciiEnd;
        out.append(reinterpret_cast<const char*>(bytes.data()) + at, asciiEnd - at);
        at = asciiEnd;
        if (at == bytes.size()) break;
        std::size_t subpart = 0;
        const std::size_t length = wellFormedLength(bytes, at, subpart);
        if (length == 0) {
            appendReplacement(out);
            at += subpart;
        } else {
            out.append(reinterpret_cast<const char*>(bytes.data()) + at, length);
            at += length;
        }
    }
}

std::string repairedUTF8(ByteView bytes) {
    std::string out;
    appendRepairedUTF8(bytes, out);
    return out;
}

bool isValidUTF8(ByteView bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        if (bytes[at] < 0x80) {
            ++at;
            continue;
        }
        std::size_t subpart = 0;
        const std::size_t length = wellFormedLength(bytes, at, subpart);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::int64_t utf16Length(std::string_view text) {
    std::int64_t units = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) units += 1;
        if (byte >= 0xF0) units += 1;
    }
    return units;
}

void appendUTF8(char32_t scalar, std::string& out) {
    if (scalar < 0x80) {
        out.push_back(static_cast<char>(scalar));
    } else if (scalar < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (scalar >> 6)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    } else if (scalar < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (scalar >> 12)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (scalar >> 18)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    }
}

bool isWhitespaceOrNewline(char32_t scalar) {
    if ((scalar >= 0x0A && scalar <= 0x0D) || scalar == 0x85 || scalar == 0x20) return true;
    if (scalar < 0x80) return false;
    const auto category = utf8proc_category(static_cast<utf8proc_int32_t>(scalar));
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
           category == UTF8PROC_CATEGORY_ZP;
}

std::string trimmingWhitespaceAndNewlines(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = 0;  // one past the last kept byte
    std::size_t index = 0;
    bool seenContent = false;
    while (index < text.size()) {
        const std::size_t start = index;
        const char32_t scalar = nextScalar(text, index);
        if (isWhitespaceOrNewline(scalar)) continue;
        if (!seenContent) {
            begin = start;
            seenContent = true;
        }
        end = index;
    }
    return seenContent ? std::string(text.substr(begin, end - begin)) : std::string();
}

std::size_t graphemeCount(std::string_view text) {
    std::size_t count = 0;
    std::size_t index = 0;
    utf8proc_int32_t previous = -1;
    utf8proc_int32_t state = 0;
    while (index < text.size()) {
        const auto scalar = static_cast<utf8proc_int32_t>(nextScalar(text, index));
        if (previous < 0 || utf8proc_grapheme_break_stateful(previous, scalar, &state)) ++count;
        previous = scalar;
    }
    return count;
}

}  // namespace lumaro::PagesReaderText
