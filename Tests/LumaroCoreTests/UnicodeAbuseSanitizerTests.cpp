#include <gtest/gtest.h>

#include <utf8proc.h>

#include <string>

#include "LumaroCore/UnicodeAbuseSanitizer.hpp"

using lumaro::UnicodeAbuseReport;
using lumaro::UnicodeAbuseSanitizer;

namespace {

std::string utf8(std::u32string_view scalars) {
    std::string out;
    for (const char32_t c : scalars) {
        utf8proc_uint8_t buffer[4];
        out.append(reinterpret_cast<const char*>(buffer), utf8proc_encode_char(static_cast<utf8proc_int32_t>(c), buffer));
    }
    return out;
}

std::u32string repeated(std::u32string_view unit, int count) {
    std::u32string out;
    for (int i = 0; i < count; ++i) out += unit;
    return out;
}

TEST(UnicodeAbuseSanitizer, EmptyAndPlainTextPassThrough) {
    const auto empty = UnicodeAbuseSanitizer::sanitize("");
    EXPECT_EQ(empty.text, "");
    EXPECT_EQ(empty.report, UnicodeAbuseReport{});
    EXPECT_FALSE(empty.report.containsAbuse());

    const auto ascii = UnicodeAbuseSanitizer::sanitize("Hello, world!\n\tTabs ~`|");
    EXPECT_EQ(ascii.text, "Hello, world!\n\tTabs ~`|");
    const std::string withNul("a\0b", 3);
    EXPECT_EQ(UnicodeAbuseSanitizer::sanitize(withNul).text, withNul);
    EXPECT_EQ(ascii.report.maxClusterSize, 1);
    EXPECT_FALSE(ascii.report.containsAbuse());
    EXPECT_EQ(lumaro::sanitizedForExtraction("Hello"), UnicodeAbuseSanitizer::sanitize("Hello"));
}

TEST(UnicodeAbuseSanitizer, OutputIsComposedToNFC) {
    const auto result = UnicodeAbuseSanitizer::sanitize(utf8(U"e\u0301"));
    EXPECT_EQ(result.text, "\xC3\xA9");
    EXPECT_EQ(result.report.maxClusterSize, 2);
    EXPECT_FALSE(result.report.containsAbuse());
}

TEST(UnicodeAbuseSanitizer, CombiningMarkPilesAreCountedAndCut) {
    const auto six = UnicodeAbuseSanitizer::sanitize(utf8(U"a" + repeated(U"\u0300", 6)));
    EXPECT_EQ(six.text, utf8(U"\u00E0" + repeated(U"\u0300", 5)));
    EXPECT_EQ(six.report.excessiveCombiningMarks, 1);
    EXPECT_TRUE(six.report.containsAbuse());

    const auto five = UnicodeAbuseSanitizer::sanitize(utf8(U"x" + repeated(U"\u0334", 5)));
    EXPECT_EQ(five.report.excessiveCombiningMarks, 0);

    // 20 overlay marks (which never compose): the letter and the first 15 marks stay.
    // Marks after the cut are dropped while the next character is still read.
    const auto twenty =
        UnicodeAbuseSanitizer::sanitize(utf8(U"x" + repeated(U"\u0334", 20) + U"y" + repeated(U"\u0334", 6)));
    EXPECT_EQ(twenty.text, utf8(U"x" + repeated(U"\u0334", 15) + U"y" + repeated(U"\u0334", 6)));
    EXPECT_EQ(twenty.report.excessiveCombiningMarks, 3);
    EXPECT_EQ(twenty.report.maxClusterSize, 21);
}

TEST(UnicodeAbuseSanitizer, BidiControlsRemovedOtherFormatCharactersKept) {
    for (const char32_t control : {U'\u202A', U'\u202E', U'\u2066', U'\u2069'}) {
        const auto result = UnicodeAbuseSanitizer::sanitize(utf8(std::u32string(U"ab") + control + U"cd"));
        EXPECT_EQ(result.text, "abcd");
        EXPECT_TRUE(result.report.hasBidiOverrides);
        EXPECT_TRUE(result.report.containsAbuse());
    }
    const auto kept = utf8(U"a\u200Fb\u200Ec\u061Cd\u200Be\uFEFF\u2060\u202F");
    const auto result = UnicodeAbuseSanitizer::sanitize(kept);
    EXPECT_EQ(result.text, kept);
    EXPECT_FALSE(result.report.containsAbuse());
}

TEST(UnicodeAbuseSanitizer, TagSequencesOnlyAfterBlackFlag) {
    const std::u32string england = U"\U0001F3F4\U000E0067\U000E0062\U000E0065\U000E006E\U000E0067\U000E007F";
    const auto valid = UnicodeAbuseSanitizer::sanitize(utf8(england));
    EXPECT_EQ(valid.text, utf8(england));
    EXPECT_FALSE(valid.report.containsAbuse());

    const auto otherBase =
        UnicodeAbuseSanitizer::sanitize(utf8(U"a\U000E0067\U000E0062\U000E0065\U000E006E\U000E0067\U000E007F"));
    EXPECT_EQ(otherBase.text, "a");
    EXPECT_TRUE(otherBase.report.hasTagAbuse);

    // Nine tags are the most a sequence may have.
    const auto nine = UnicodeAbuseSanitizer::sanitize(utf8(U"\U0001F3F4" + repeated(U"\U000E0061", 8) + U"\U000E007F"));
    EXPECT_FALSE(nine.report.hasTagAbuse);
    const auto ten = UnicodeAbuseSanitizer::sanitize(utf8(U"\U0001F3F4" + repeated(U"\U000E0061", 9) + U"\U000E007F"));
    EXPECT_EQ(ten.text, utf8(U"\U0001F3F4"));
    EXPECT_TRUE(ten.report.hasTagAbuse);

    const auto noCancel = UnicodeAbuseSanitizer::sanitize(utf8(U"\U0001F3F4\U000E0067\U000E0062"));
    EXPECT_EQ(noCancel.text, utf8(U"\U0001F3F4"));
    EXPECT_TRUE(noCancel.report.hasTagAbuse);

    // Only tag digits and letters may precede the cancel tag.
    const auto punctuation = UnicodeAbuseSanitizer::sanitize(utf8(U"\U0001F3F4\U000E0021\U000E007F"));
    EXPECT_EQ(punctuation.text, utf8(U"\U0001F3F4"));
    EXPECT_TRUE(punctuation.report.hasTagAbuse);
    const auto cancelOnly = UnicodeAbuseSanitizer::sanitize(utf8(U"\U0001F3F4\U000E007F"));
    EXPECT_TRUE(cancelOnly.report.hasTagAbuse);
}

TEST(UnicodeAbuseSanitizer, StackedVariationSelectorsKeepOne) {
    const auto stacked = UnicodeAbuseSanitizer::sanitize(utf8(U"\u2764\uFE0F\uFE0F\uFE0E"));
    EXPECT_EQ(stacked.text, utf8(U"\u2764\uFE0F"));
    EXPECT_FALSE(stacked.report.containsAbuse());

    // Selectors are never counted as combining marks, even though they are Mn.
    const auto many = UnicodeAbuseSanitizer::sanitize(utf8(U"a" + repeated(U"\uFE0F", 8)));
    EXPECT_EQ(many.text, utf8(U"a\uFE0F"));
    EXPECT_EQ(many.report.excessiveCombiningMarks, 0);

    const auto leading = UnicodeAbuseSanitizer::sanitize(utf8(U"\uFE0Fa"));
    EXPECT_EQ(leading.text, "a");
}

TEST(UnicodeAbuseSanitizer, LongJoinerChainIsCut) {
    const std::u32string family = U"\U0001F468";
    std::u32string chain = family;
    for (int i = 1; i < 12; ++i) chain += U"\u200D" + family;
    ASSERT_EQ(chain.size(), 23u);
    const auto result = UnicodeAbuseSanitizer::sanitize(utf8(chain + U"!"));
    EXPECT_EQ(result.text, utf8(repeated(family + U"\u200D", 8) + U"!"));
    EXPECT_EQ(result.report.zwjChainLength, 23);
    EXPECT_EQ(result.report.maxClusterSize, 23);
    EXPECT_TRUE(result.report.containsAbuse());
}

TEST(UnicodeAbuseSanitizer, ShortJoinerChainIsKeptButReported) {
    std::u32string chain = U"\U0001F468\uFE0F";
    for (int i = 1; i < 6; ++i) chain += U"\u200D\U0001F469";
    ASSERT_EQ(chain.size(), 12u);
    const auto result = UnicodeAbuseSanitizer::sanitize(utf8(chain));
    EXPECT_EQ(result.text, utf8(chain));
    EXPECT_EQ(result.report.zwjChainLength, 12);
    EXPECT_TRUE(result.report.containsAbuse());
}

TEST(UnicodeAbuseSanitizer, OversizedCharactersAreCutTo16CodePoints) {
    const auto abusive = UnicodeAbuseSanitizer::sanitize(utf8(repeated(U"\u1100", 51)));
    EXPECT_EQ(abusive.report.maxClusterSize, 51);
    EXPECT_TRUE(abusive.report.containsAbuse());
    EXPECT_EQ(abusive.text, utf8(repeated(U"\u1100", 16)));

    const auto tolerated = UnicodeAbuseSanitizer::sanitize(utf8(repeated(U"\u1100", 50) + U"a"));
    EXPECT_EQ(tolerated.report.maxClusterSize, 50);
    EXPECT_FALSE(tolerated.report.containsAbuse());
    EXPECT_EQ(tolerated.text, utf8(repeated(U"\u1100", 16) + U"a"));
}

TEST(UnicodeAbuseSanitizer, MalformedUTF8BecomesReplacementCharacters) {
    // A lone continuation byte, a truncated three-byte sequence and an encoded surrogate.
    const auto result = UnicodeAbuseSanitizer::sanitize("a\x80" "b\xE2\x82" "c\xED\xA0\x80");
    EXPECT_EQ(result.text, utf8(U"a\uFFFDb\uFFFDc\uFFFD\uFFFD\uFFFD"));
}

}  // namespace
