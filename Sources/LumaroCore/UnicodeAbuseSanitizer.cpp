#include "LumaroCore/UnicodeAbuseSanitizer.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

namespace lumaro {

namespace {

using CodePoints = std::vector<char32_t>;

constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr char32_t kZeroWidthJoiner = 0x200D;
constexpr char32_t kBlackFlag = 0x1F3F4;
constexpr char32_t kCancelTag = 0xE007F;

// Limits on one user-perceived character.
constexpr std::int64_t kExcessiveMarkCount = 6;  // this many marks count as a pile
constexpr std::int64_t kMaximumMarks = 15;       // marks beyond this are removed
constexpr std::int64_t kMaximumBasesBeforeJoiner = 11;  // a joiner after this many bases ends the character
constexpr std::int64_t kCutChainLength = 12;     // reported for a character whose chain was cut
constexpr std::size_t kMaximumKeptCodePoints = 16;
constexpr std::size_t kMinimumTagCount = 2;      // one tag letter or digit, then the cancel tag
constexpr std::size_t kMaximumTagCount = 9;

// Thresholds of containsAbuse().
constexpr std::int64_t kAbusiveClusterSize = 50;
constexpr std::int64_t kAbusiveChainLength = 11;

bool isBidiControl(char32_t c) { return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069); }
bool isTagCharacter(char32_t c) { return c >= 0xE0001 && c <= 0xE007F; }
bool isTagDigitOrLetter(char32_t c) { return (c >= 0xE0030 && c <= 0xE0039) || (c >= 0xE0061 && c <= 0xE007A); }
bool isVariationSelector(char32_t c) { return (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF); }

bool isCombiningMark(char32_t c) {
    const auto category = utf8proc_category(static_cast<utf8proc_int32_t>(c));
    return category == UTF8PROC_CATEGORY_MN || category == UTF8PROC_CATEGORY_MC || category == UTF8PROC_CATEGORY_ME;
}

// Decodes one scalar at `position`, returning it and the number of bytes it used.
// A byte sequence that is not well-formed UTF-8 yields U+FFFD for its maximal
// ill-formed prefix, as string decoders conventionally do.
std::pair<char32_t, std::size_t> decodeScalar(std::string_view text, std::size_t position) {
    const auto lead = static_cast<unsigned char>(text[position]);
    if (lead < 0x80) return {lead, 1};
    std::size_t continuationCount = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the first continuation byte
    char32_t scalar = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuationCount = 1;
        scalar = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuationCount = 2;
        scalar = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuationCount = 3;
        scalar = lead & 0x07;
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return {kReplacementCharacter, 1};
    }
    for (std::size_t k = 1; k <= continuationCount; ++k) {
        if (position + k >= text.size()) return {kReplacementCharacter, k};
        const auto byte = static_cast<unsigned char>(text[position + k]);
        if (byte < low || byte > high) return {kReplacementCharacter, k};
        scalar = (scalar << 6) | (byte & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return {scalar, continuationCount + 1};
}

void appendUTF8(std::string& out, char32_t c) {
    utf8proc_uint8_t buffer[4];
    const auto length = utf8proc_encode_char(static_cast<utf8proc_int32_t>(c), buffer);
    out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

std::string normalizedNFC(const std::string& text) {
    if (text.empty()) return text;
    utf8proc_uint8_t* composed = nullptr;
    // An explicit length (no NULLTERM option) keeps U+0000 inside the text.
    const auto length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                     static_cast<utf8proc_ssize_t>(text.size()), &composed,
                                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    // The input is well-formed UTF-8 built here, so the only possible failure is memory.
    if (length < 0) throw std::bad_alloc();
    std::string result(reinterpret_cast<const char*>(composed), static_cast<std::size_t>(length));
    std::free(composed);
    return result;
}

// The positions of the character's tag characters when they form a valid emoji
// tag sequence (black flag first, one to eight tag letters or digits, cancel tag
// last), else none.
std::vector<std::size_t> validTagIndices(const CodePoints& cluster) {
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < cluster.size(); ++i) {
        if (isTagCharacter(cluster[i])) positions.push_back(i);
    }
    if (positions.empty() || cluster[0] != kBlackFlag) return {};
    if (cluster[positions.back()] != kCancelTag) return {};
    if (positions.size() < kMinimumTagCount || positions.size() > kMaximumTagCount) return {};
    for (std::size_t k = 0; k + 1 < positions.size(); ++k) {
        if (!isTagDigitOrLetter(cluster[positions[k]])) return {};
    }
    return positions;
}

// The code points of one user-perceived character that survive, updating the report.
CodePoints sanitizeCluster(const CodePoints& cluster, UnicodeAbuseReport& report) {
    const auto validTags = validTagIndices(cluster);
    CodePoints kept;
    kept.reserve(std::min(cluster.size(), kMaximumKeptCodePoints + 1));
    std::int64_t markCount = 0;
    std::int64_t baseCount = 0;
    bool truncatedMarks = false;
    for (std::size_t i = 0; i < cluster.size(); ++i) {
        const char32_t c = cluster[i];
        if (isBidiControl(c)) {
            report.hasBidiOverrides = true;
        } else if (isTagCharacter(c)) {
            if (std::find(validTags.begin(), validTags.end(), i) != validTags.end()) {
                kept.push_back(c);
            } else {
                report.hasTagAbuse = true;
            }
        } else if (isVariationSelector(c)) {
            // One selector per preceding code point; a stack of them only bloats.
            if (!kept.empty() && !isVariationSelector(kept.back())) kept.push_back(c);
        } else if (isCombiningMark(c)) {
            ++markCount;
            if (markCount > kMaximumMarks) {
                truncatedMarks = true;
            } else {
                kept.push_back(c);
            }
        } else {
            kept.push_back(c);
            if (c != kZeroWidthJoiner) {
                ++baseCount;
            } else if (baseCount >= kMaximumBasesBeforeJoiner) {
                const auto length = static_cast<std::int64_t>(cluster.size());
                report.zwjChainLength = std::max(report.zwjChainLength, std::max(length, kCutChainLength));
                break;
            }
        }
    }
    if (markCount >= kExcessiveMarkCount) ++report.excessiveCombiningMarks;
    if (truncatedMarks) ++report.excessiveCombiningMarks;
    if (kept.size() > kMaximumKeptCodePoints) kept.resize(kMaximumKeptCodePoints);
    return kept;
}

void processCluster(const CodePoints& cluster, UnicodeAbuseReport& report, std::string& output) {
    const auto length = static_cast<std::int64_t>(cluster.size());
    report.maxClusterSize = std::max(report.maxClusterSize, length);
    if (std::find(cluster.begin(), cluster.end(), kZeroWidthJoiner) != cluster.end()) {
        report.zwjChainLength = std::max(report.zwjChainLength, length);
    }
    for (const char32_t c : sanitizeCluster(cluster, report)) appendUTF8(output, c);
}

}  // namespace

bool UnicodeAbuseReport::containsAbuse() const {
    return maxClusterSize > kAbusiveClusterSize || excessiveCombiningMarks > 0 ||
           zwjChainLength > kAbusiveChainLength || hasBidiOverrides || hasTagAbuse;
}

UnicodeSanitizationResult UnicodeAbuseSanitizer::sanitize(std::string_view text) {
    UnicodeSanitizationResult result;
    if (text.empty()) return result;
    std::string output;
    output.reserve(text.size());
    CodePoints cluster;
    utf8proc_int32_t breakState = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        const auto [scalar, length] = decodeScalar(text, position);
        position += length;
        if (!cluster.empty() &&
            utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(cluster.back()),
                                             static_cast<utf8proc_int32_t>(scalar), &breakState)) {
            processCluster(cluster, result.report, output);
            cluster.clear();
        }
        cluster.push_back(scalar);
    }
    processCluster(cluster, result.report, output);
    result.text = normalizedNFC(output);
    return result;
}

UnicodeSanitizationResult sanitizedForExtraction(std::string_view text) { return UnicodeAbuseSanitizer::sanitize(text); }

}  // namespace lumaro
