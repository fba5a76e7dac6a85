// Text walks take ASCII in bulk; these cases sit where ASCII meets other
// scalars, or where a style, link or footnote position falls inside a run.
#include <gtest/gtest.h>

#include "LumaroPages/PagesDocument.hpp"
#include "LumaroPages/PagesText.hpp"

namespace {

using lumaro::PagesDocument;
using lumaro::PagesText;
using Paragraph = PagesDocument::Paragraph;
using Span = Paragraph::EmphasisSpan;

TEST(TextWalk, CharacterCountAcrossASCIIBoundaries) {
    EXPECT_EQ(PagesText::characterCount("ab\r\ncd"), 5u);
    EXPECT_EQ(PagesText::characterCount("\r\n\r\n"), 2u);
    EXPECT_EQ(PagesText::characterCount("e\u0301a"), 2u);               // combining mark joins the ASCII before it
    EXPECT_EQ(PagesText::characterCount("a\U0001F1EB\U0001F1F7b"), 3u);  // one flag between letters
    EXPECT_EQ(PagesText::characterCount("\U0001F1EB\U0001F1F7\U0001F1EB"), 2u);
    EXPECT_EQ(PagesText::characterCount("x\U0001F600\u200D\U0001F600y"), 3u);
    EXPECT_EQ(PagesText::characterCount("a\xC3" "b"), 3u);  // an invalid byte is a character of its own
}

TEST(TextWalk, TrimmingWithNonASCIIAtTheEnds) {
    EXPECT_EQ(PagesText::trimmingWhitespaceAndNewlines(" a b \n"), "a b");
    EXPECT_EQ(PagesText::trimmingWhitespaceAndNewlines("a\u3000 "), "a");
    EXPECT_EQ(PagesText::trimmingWhitespaceAndNewlines("\u2029a\u00e9 \u0085"), "a\u00e9");
    EXPECT_EQ(PagesText::trimmingWhitespaceAndNewlines("a\xC3 "), "a\xC3");
    EXPECT_EQ(PagesText::trimmingWhitespaceAndNewlines(" \u00a0\n"), "");
    EXPECT_EQ(PagesText::trimmingWhitespace("\ta\n\t"), "a\n");
    EXPECT_EQ(PagesText::trimmingWhitespace("a\u00a0\t"), "a");
}

TEST(TextWalk, EventsInsideASCIIRuns) {
    Paragraph styled;
    styled.text = "one two three";
    styled.emphasis = {{0, false, false, false, false, false}, {4, true, false, false, false, false},
                       {7, false, false, false, false, false}};
    styled.links = {{8, 13, "http://x"}};
    styled.footnoteMarkers = {{2, 1}, {13, 2}};
    EXPECT_EQ(styled.renderedText(true, true, false), "on[^1]e **two** [three[^2]](http://x)");
    EXPECT_EQ(styled.normalizedText(), "one two three");

    // A footnote mark inside ASCII is dropped without splitting the run's markup.
    Paragraph marked;
    marked.text = "ab\x0E" "cd";
    marked.emphasis = {{0, true, false, false, false, false}};
    EXPECT_EQ(marked.renderedText(true, true, false), "**abcd**");

    // Positions after an astral scalar count two units for it.
    Paragraph astral;
    astral.text = "\U0001F600ab";
    astral.emphasis = {{0, false, false, false, false, false}, {3, false, true, false, false, false}};
    EXPECT_EQ(astral.renderedText(true, true, false), "\U0001F600a*b*");
}

TEST(TextWalk, MarkdownJoinsBlocksAsBefore) {
    PagesDocument document;
    const auto add = [&](std::string text, std::optional<int> listLevel) {
        Paragraph paragraph;
        paragraph.text = std::move(text);
        paragraph.listLevel = listLevel;
        document.paragraphs.push_back(paragraph);
    };
    add("intro", std::nullopt);
    add("first", 0);
    add("  ", 0);  // renders empty: no block, no separator
    add("second", 1);
    add("after", std::nullopt);
    document.footnotes = {{2, "late"}, {1, "early"}};
    EXPECT_EQ(document.markdown(), "intro\n\n- first\n  - second\n\nafter\n\n[^1]: early\n[^2]: late");
}

}  // namespace
