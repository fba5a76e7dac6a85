#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumaro {

// What the sanitiser measured in a text and what it had to remove from it.
struct UnicodeAbuseReport {
    // The largest number of code points in one user-perceived character of the input.
    std::int64_t maxClusterSize = 0;
    // Per character: 1 for 6 or more combining marks, 1 more when marks beyond the
    // 15th were removed; summed over the text.
    std::int64_t excessiveCombiningMarks = 0;
    // The largest code-point count of an input character holding U+200D, at least
    // 12 for a character whose joiner chain was cut.
    std::int64_t zwjChainLength = 0;
    bool hasBidiOverrides = false;  // an embedding, override or isolate control was removed
    bool hasTagAbuse = false;       // a tag character outside a valid tag sequence was removed

    bool containsAbuse() const;

    friend bool operator==(const UnicodeAbuseReport&, const UnicodeAbuseReport&) = default;
};

struct UnicodeSanitizationResult {
    std::string text;  // the cleaned text, NFC
    UnicodeAbuseReport report;

    friend bool operator==(const UnicodeSanitizationResult&, const UnicodeSanitizationResult&) = default;
};

// Removes Unicode constructs used to disguise or bloat text: bidirectional
// controls, stray tag characters, stacked variation selectors, piles of combining
// marks, overlong joiner chains and oversized user-perceived characters. Works one
// grapheme cluster at a time. Never fails; bytes that are not UTF-8 are read as
// U+FFFD.
struct UnicodeAbuseSanitizer {
    static UnicodeSanitizationResult sanitize(std::string_view text);
};

// The same as UnicodeAbuseSanitizer::sanitize(text).
UnicodeSanitizationResult sanitizedForExtraction(std::string_view text);

}  // namespace lumaro
