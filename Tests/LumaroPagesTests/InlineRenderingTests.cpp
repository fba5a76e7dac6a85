#include <gtest/gtest.h>

#include "LumaroPages/PagesDocument.hpp"

namespace {

using lumaro::PagesDocument;
using Paragraph = PagesDocument::Paragraph;
using Span = Paragraph::EmphasisSpan;

Paragraph paragraph(std::string text, std::vector<Span> emphasis = {}) {
    Paragraph p;
    p.text = std::move(text);
    p.emphasis = std::move(emphasis);
    return p;
}

Span bold(int start) { return {start, true, false, false, false, false}; }
Span plain(int start) { return {start, false, false, false, false, false}; }

std::string markdownOf(const Paragraph& p) { return p.renderedText(true, true, false); }

TEST(MarkedUp, WrapsFromTheInsideOutAndKeepsEdgeWhitespaceOutside) {
    EXPECT_EQ(PagesDocument::markedUp("x", true, true, true, true, true), "<u>~~***`x`***~~</u>");
    EXPECT_EQ(PagesDocument::markedUp("a ", true, false, false, false, false), "**a** ");
    // The tab is not among the trimmed characters here.
    EXPECT_EQ(PagesDocument::markedUp("\u00a0\ta\u2028", false, true, false, false, false), "\u00a0*\ta*\u2028");
    EXPECT_EQ(PagesDocument::markedUp("x", false, false, false, true, true), "~~`x`~~");
    EXPECT_EQ(PagesDocument::markedUp(" \n ", true, false, false, false, false), " \n ");
    EXPECT_EQ(PagesDocument::markedUp("", true, false, true, false, false), "");
    EXPECT_EQ(PagesDocument::markedUp("  as is ", false, false, false, false, false), "  as is ");
}

TEST(InlineRendering, EmptyTextAndMarkers) {
    EXPECT_EQ(markdownOf(paragraph("")), "");
    auto withMarker = paragraph("");
    withMarker.footnoteMarkers = {{0, 7}};
    EXPECT_EQ(markdownOf(withMarker), "[^7]");
    EXPECT_EQ(withMarker.normalizedText(), "");
}

TEST(InlineRendering, SpansSplitRunsAndEdgeWhitespaceIsTrimmed) {
    EXPECT_EQ(markdownOf(paragraph("  hello  ", {bold(0)})), "**hello**");
    EXPECT_EQ(markdownOf(paragraph("one two three", {plain(0), bold(4), plain(7)})), "one **two** three");
    // A span equal to the previous one changes nothing.
    EXPECT_EQ(markdownOf(paragraph("abcd", {bold(0), bold(2)})), "**abcd**");
    Span boldItalic{0, true, true, false, false, false};
    EXPECT_EQ(markdownOf(paragraph("ab cd", {bold(0), boldItalic})), "***ab cd***");
    EXPECT_EQ(markdownOf(paragraph("ab cd", {bold(0), Span{3, true, true, false, false, false}})), "**ab** ***cd***");
    // Text before the first span carries no style.
    EXPECT_EQ(markdownOf(paragraph("ab", {bold(1)})), "a**b**");
}

TEST(InlineRendering, AttachmentsAndLineBreaksSplitStyledRuns) {
    auto p = paragraph("ab\uFFFCcd", {bold(0)});
    EXPECT_EQ(markdownOf(p), "**ab****cd**");
    p.attachmentReferences = {std::string("pic.png")};
    EXPECT_EQ(markdownOf(p), "**ab**![](pic.png)**cd**");
    EXPECT_EQ(p.renderedText(false, true, false), "**ab****cd**");
    EXPECT_EQ(markdownOf(paragraph("ab\u2028cd", {bold(0)})), "**ab**\n**cd**");
}

TEST(InlineRendering, EveryAttachmentTakesItsOwnReference) {
    auto p = paragraph("\uFFFC x \uFFFC y \uFFFC");
    p.attachmentReferences = {std::nullopt, std::string("b.png")};
    EXPECT_EQ(markdownOf(p), "x ![](b.png) y");
}

TEST(InlineRendering, UniformEmphasisIsSuppressedOnlyWhenItCoversEverySpan) {
    Span boldItalic{0, true, true, false, false, false};
    Span boldOnly{3, true, false, false, false, false};
    EXPECT_EQ(paragraph("Title", {boldItalic}).renderedText(true, true, true), "Title");
    EXPECT_EQ(paragraph("ab cd", {boldItalic, boldOnly}).renderedText(true, true, true), "*ab* cd");
    Span underline{0, false, false, true, false, false};
    EXPECT_EQ(paragraph("u", {underline}).renderedText(true, true, true), "<u>u</u>");
    EXPECT_EQ(paragraph("abcdef", {bold(3)}).renderedText(true, true, true), "abc**def**");
    Span boldFromStart = bold(0);
    EXPECT_EQ(paragraph("abc", {boldFromStart}).renderedText(true, true, false), "**abc**");
}

TEST(InlineRendering, LinksOpenCloseAndClip) {
    auto p = paragraph("hello world");
    p.links = {{0, 5, "u"}};
    EXPECT_EQ(markdownOf(p), "[hello](u) world");
    p.links = {{2, 2, "u"}};
    EXPECT_EQ(markdownOf(p), "hello world");
    p.links = {{0, 5, "u"}, {3, 9, "v"}};
    EXPECT_EQ(markdownOf(p), "[hello](u) world");
    p.links = {{6, 11, "v"}, {0, 5, "u"}};  // any order
    EXPECT_EQ(markdownOf(p), "[hello](u) [world](v)");
    p.links = {{6, 400, "v"}};
    EXPECT_EQ(markdownOf(p), "hello [world](v)");

    auto touching = paragraph("ab");
    touching.links = {{0, 1, "u"}, {1, 2, "v"}};
    EXPECT_EQ(markdownOf(touching), "[a](u)[b](v)");
    EXPECT_EQ(touching.normalizedText(), "ab");
}

TEST(InlineRendering, EmphasisAndFootnotesAtALinkStart) {
    auto p = paragraph("see word", {plain(0), bold(4)});
    p.links = {{4, 8, "u"}};
    EXPECT_EQ(markdownOf(p), "see [**word**](u)");
    p.footnoteMarkers = {{4, 2}};
    EXPECT_EQ(markdownOf(p), "see [[^2]**word**](u)");
    // A marker at the very end is written before a link still open is closed.
    p.footnoteMarkers = {{8, 3}, {99, 4}};
    EXPECT_EQ(markdownOf(p), "see [**word**[^3]](u)");
}

TEST(InlineRendering, UnderlineNeverInsideALink) {
    Span underline{0, false, false, true, false, false};
    auto p = paragraph("pre link", {underline});
    p.links = {{4, 8, "u"}};
    EXPECT_EQ(markdownOf(p), "<u>pre</u> [link](u)");
}

TEST(InlineRendering, TabsControlMarksAndTrailingBreaks) {
    EXPECT_EQ(markdownOf(paragraph("a\tb")), "a    b");
    EXPECT_EQ(markdownOf(paragraph("line\u2028")), "line");
    EXPECT_EQ(markdownOf(paragraph("a\u000Eb")), "ab");
}

TEST(InlineRendering, PlainRenderingWritesNoMarkup) {
    Span all{0, true, true, true, true, true};
    auto p = paragraph("a *b* c\uFFFC", {all});
    p.links = {{0, 3, "u"}};
    p.footnoteMarkers = {{1, 1}};
    p.attachmentReferences = {std::string("i.png")};
    EXPECT_EQ(p.normalizedText(), "a *b* c");
}

TEST(InlineRendering, PositionsCountAstralScalarsTwice) {
    // U+1F600 takes positions 0 and 1; the span at 2 starts at "a".
    EXPECT_EQ(markdownOf(paragraph("\U0001F600ab", {plain(0), bold(2)})), "\U0001F600**ab**");
    auto p = paragraph("\U0001F600\U0001F600x");
    p.links = {{2, 4, "u"}};
    p.footnoteMarkers = {{4, 1}};
    EXPECT_EQ(markdownOf(p), "\U0001F600[\U0001F600](u)[^1]x");
    // A marker at the end of the text counts in UTF-16 units too.
    auto end = paragraph("\U0001F600");
    end.footnoteMarkers = {{2, 5}, {3, 6}};
    EXPECT_EQ(markdownOf(end), "\U0001F600[^5]");
}

TEST(InlineRendering, MarkdownCharactersPassThroughUnescaped) {
    EXPECT_EQ(markdownOf(paragraph("# a_b [c] | \\ *")), "# a_b [c] | \\ *");
}

TEST(InlineRendering, InvalidUtf8IsKeptByteForByte) {
    const std::string text = "a\xff" "b";
    EXPECT_EQ(markdownOf(paragraph(text, {bold(0)})), "**a\xff" "b**");
}

TEST(CodeText, ReplacesOnlyLineBreaks) {
    EXPECT_EQ(paragraph("\tx\u2028y\uFFFC\u000E ").codeText(), "\tx\ny\uFFFC\u000E ");
}

}  // namespace
