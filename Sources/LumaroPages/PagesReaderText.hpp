#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// Text helpers of the reading side. Document text arrives as UTF-8 bytes that
// may be damaged; once repaired it is walked scalar by scalar, with positions
// counted in UTF-16 code units, the unit of every attribute table.
namespace PagesReaderText {

inline constexpr char32_t kParagraphSeparator = 0x2029;
inline constexpr char32_t kLineSeparator = 0x2028;
inline constexpr char32_t kObjectReplacement = 0xFFFC;
inline constexpr char32_t kReplacementCharacter = 0xFFFD;
inline constexpr char32_t kLineFeed = 0x0A;
inline constexpr char32_t kSectionBreak = 0x04;
inline constexpr char32_t kPageBreak = 0x05;
inline constexpr char32_t kColumnBreak = 0x0C;

// A paragraph ends at a line feed or U+2029, and also at the section, page
// and column break characters, which Pages keeps in the text where the
// writer broke the flow: the text after one is a paragraph of its own, and
// the control character itself has no place in the output.
constexpr bool endsParagraph(char32_t scalar) {
    return scalar == kLineFeed || scalar == kParagraphSeparator || scalar == kPageBreak || scalar == kSectionBreak ||
           scalar == kColumnBreak;
}

// Appends `bytes` decoded as UTF-8 to `out`, replacing each maximal invalid
// subsequence by one U+FFFD, so that `out` stays valid UTF-8.
void appendRepairedUTF8(ByteView bytes, std::string& out);
std::string repairedUTF8(ByteView bytes);
bool isValidUTF8(ByteView bytes);

// Decodes the scalar of VALID UTF-8 text that starts at `index` and moves
// `index` past it.
inline char32_t nextScalar(std::string_view text, std::size_t& index) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(index);
    if (lead < 0x80) {
        ++index;
        return lead;
    }
    if (lead < 0xE0) {
        const char32_t scalar = (char32_t(lead & 0x1F) << 6) | (byte(index + 1) & 0x3F);
        index += 2;
        return scalar;
    }
    if (lead < 0xF0) {
        const char32_t scalar =
            (char32_t(lead & 0x0F) << 12) | (char32_t(byte(index + 1) & 0x3F) << 6) | (byte(index + 2) & 0x3F);
        index += 3;
        return scalar;
    }
    const char32_t scalar = (char32_t(lead & 0x07) << 18) | (char32_t(byte(index + 1) & 0x3F) << 12) |
                            (char32_t(byte(index + 2) & 0x3F) << 6) | (byte(index + 3) & 0x3F);
    index += 4;
    return scalar;
}

// UTF-16 code units of one scalar: 2 above U+FFFF, else 1.
inline std::int64_t utf16Width(char32_t scalar) { return scalar > 0xFFFF ? 2 : 1; }

// UTF-16 length of valid UTF-8 text.
std::int64_t utf16Length(std::string_view text);

void appendUTF8(char32_t scalar, std::string& out);

// Unicode general categories Zs, Zl, Zp, plus U+000A to U+000D and U+0085.
bool isWhitespaceOrNewline(char32_t scalar);
std::string trimmingWhitespaceAndNewlines(std::string_view text);

// User-perceived characters (extended grapheme clusters) of valid UTF-8 text.
std::size_t graphemeCount(std::string_view text);

}  // namespace PagesReaderText

}  // namespace lumaro
