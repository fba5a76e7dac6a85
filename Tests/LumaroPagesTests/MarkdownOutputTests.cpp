#include <gtest/gtest.h>

#include <string>

#include "LumaroPages/PagesDocument.hpp"

namespace {

using lumaro::PagesDocument;
using Paragraph = PagesDocument::Paragraph;
using Table = Paragraph::Table;
using Alignment = Table::ColumnAlignment;

Paragraph text(std::string value, std::optional<double> fontSize = std::nullopt) {
    Paragraph p;
    p.text = std::move(value);
    p.fontSize = fontSize;
    return p;
}

Paragraph item(std::string value, int level, bool ordered) {
    auto p = text(std::move(value));
    p.listLevel = level;
    p.listOrdered = ordered;
    return p;
}

Paragraph code(std::string value) {
    auto p = text(std::move(value));
    p.isCodeBlock = true;
    return p;
}

Paragraph tableAnchor(Table table) {
    auto p = text("\uFFFC");
    p.tables = {std::move(table)};
    return p;
}

PagesDocument document(std::vector<Paragraph> paragraphs, std::vector<PagesDocument::Footnote> footnotes = {}) {
    PagesDocument doc;
    doc.paragraphs = std::move(paragraphs);
    doc.footnotes = std::move(footnotes);
    return doc;
}

const std::string kLongBody(300, 'b');

TEST(MarkdownOutput, EmptyDocumentAndFootnotesOnly) {
    EXPECT_EQ(PagesDocument().markdown(), "");
    EXPECT_EQ(PagesDocument().plainText(), "");
    EXPECT_EQ(document({text(""), text(" \u2028 ")}).markdown(), "");
    EXPECT_EQ(document({}, {{2, "two"}, {1, "one"}}).markdown(), "[^1]: one\n[^2]: two");
    EXPECT_EQ(document({text("Body")}, {{1, "n"}, {1, "m"}}).markdown(), "Body\n\n[^1]: n\n[^1]: m");
}

TEST(MarkdownOutput, HeadingsInferredFromFontSizeAgainstTheBody) {
    EXPECT_EQ(document({text("Title", 24), text(kLongBody, 12)}).markdown(), "# Title\n\n" + kLongBody);
    EXPECT_EQ(document({text("Sub", 17), text(kLongBody, 12)}).markdown(), "## Sub\n\n" + kLongBody);
    EXPECT_EQ(document({text("Minor", 14), text(kLongBody, 12)}).markdown(), "### Minor\n\n" + kLongBody);
    // 11.5 is not above 10 * 1.15; 18 against 10 is ratio 1.8 exactly.
    EXPECT_EQ(document({text("Same", 11.5), text(kLongBody, 10)}).markdown(), "Same\n\n" + kLongBody);
    EXPECT_EQ(document({text("Big", 18), text(kLongBody, 10)}).markdown(), "# Big\n\n" + kLongBody);
    // No body size at all, or a paragraph without a size: no heading.
    EXPECT_EQ(document({text("Title", 24)}).markdown(), "Title");
    EXPECT_EQ(document({text("Title"), text(kLongBody, 12)}).markdown(), "Title\n\n" + kLongBody);
}

TEST(MarkdownOutput, HeadingLimitsOnLengthAndLineBreaks) {
    const std::string longLine(141, 'x');
    EXPECT_EQ(document({text(longLine, 40), text(kLongBody, 12)}).markdown(), longLine + "\n\n" + kLongBody);
    // 140 user-perceived characters still qualify although they take more scalars.
    std::string accented;
    for (int i = 0; i < 140; ++i) accented += "e\u0301";
    EXPECT_EQ(document({text(accented, 40), text(kLongBody + kLongBody, 12)}).markdown(),
              "# " + accented + "\n\n" + kLongBody + kLongBody);
    EXPECT_EQ(document({text("two\u2028lines", 40), text(kLongBody, 12)}).markdown(),
              "two\nlines\n\n" + kLongBody);
}

TEST(MarkdownOutput, ExplicitHeadingLevelsAreClampedAndDropUniformEmphasis) {
    auto deep = text("Deep");
    deep.headingLevel = 9;
    auto low = text("Low");
    low.headingLevel = -3;
    auto zero = text("Zero");
    zero.headingLevel = 0;
    auto boldTitle = text("Title");
    boldTitle.headingLevel = 2;
    boldTitle.emphasis = {{0, true, false, false, false, false}};
    auto empty = text("");
    empty.headingLevel = 1;
    EXPECT_EQ(document({deep, low, zero, boldTitle, empty}).markdown(),
              "###### Deep\n\n# Low\n\n# Zero\n\n## Title");
}

TEST(MarkdownOutput, BodySizeVoteCountsCharactersOfEveryParagraph) {
    // Twenty characters at 20 outvote ten at 10, so 10 is not the body and 20 is no heading.
    EXPECT_EQ(document({text("short one!", 10), text("a long paragraph ..", 20)}).markdown(),
              "short one!\n\na long paragraph ..");
    // Empty plain renderings cast no vote.
    auto image = text("\uFFFC", 30);
    image.attachmentReferences = {std::string("i.png")};
    EXPECT_EQ(document({image, text("Big", 24), text(kLongBody, 12)}).markdown(),
              "![](i.png)\n\n# Big\n\n" + kLongBody);
}

TEST(MarkdownOutput, ListNumberingPerLevel) {
    EXPECT_EQ(document({item("a", 0, true), item("b", 0, true), item("c", 1, false), item("d", 0, true)}).markdown(),
              "1. a\n2. b\n  - c\n3. d");
    EXPECT_EQ(document({item("a", 0, true), item("b", 0, false), item("c", 0, true)}).markdown(), "1. a\n- b\n2. c");
    EXPECT_EQ(document({item("a", 1, true), item("b", 0, true), item("c", 1, true)}).markdown(),
              "  1. a\n1. b\n  1. c");
    EXPECT_EQ(document({item("a", -2, false)}).markdown(), "- a");
}

TEST(MarkdownOutput, ParagraphsBetweenListItems) {
    EXPECT_EQ(document({item("a", 0, true), item("", 0, true), item("b", 0, true)}).markdown(), "1. a\n2. b");
    EXPECT_EQ(document({item("a", 0, true), text("break"), item("b", 0, true)}).markdown(),
              "1. a\n\nbreak\n\n1. b");
    EXPECT_EQ(document({item("a", 0, true), code("x"), item("b", 0, true)}).markdown(),
              "1. a\n\n```\nx\n```\n\n1. b");
}

TEST(MarkdownOutput, HugeListLevelsDoNotBlowUpIndentation) {
    const auto markdown = document({item("deep", 2'000'000'000, false)}).markdown();
    EXPECT_LT(markdown.size(), 1000u);
    EXPECT_EQ(markdown.substr(markdown.size() - 6), "- deep");
}

TEST(MarkdownOutput, CodeRunsBecomeOneFence) {
    EXPECT_EQ(document({code("a"), code(""), code("b")}).markdown(), "```\na\n\nb\n```");
    EXPECT_EQ(document({code("\tx\u2028y  "), text("after")}).markdown(), "```\n\tx\ny  \n```\n\nafter");
}

TEST(MarkdownOutput, PipeTables) {
    Table table{{{"A", "B"}, {"1"}}, {Alignment::right}};
    EXPECT_EQ(document({tableAnchor(table)}).markdown(), "| A | B |\n| --: | --- |\n| 1 |  |");
    Table escaped{{{"x|y\nz", " \tpad\u00a0", "c"}}, {Alignment::left, Alignment::center, Alignment::right}};
    EXPECT_EQ(document({tableAnchor(escaped)}).markdown(), "| x\\|y z | pad | c |\n| --- | :-: | --: |");
    // Rows that are all empty give an empty block; a table without rows gives none.
    EXPECT_EQ(document({tableAnchor(Table{{{}}, {}}), text("x")}).markdown(), "\n\nx");
    EXPECT_EQ(document({tableAnchor(Table{}), text("x")}).markdown(), "x");
}

TEST(MarkdownOutput, TablesComeBeforeTheirParagraph) {
    Table table{{{"H"}}, {}};
    auto numbered = item("two", 0, true);
    numbered.tables = {table};
    EXPECT_EQ(document({item("one", 0, true), numbered}).markdown(), "1. one\n\n| H |\n| --- |\n\n2. two");
    // Tables of every paragraph of a code run are written, after the fence.
    auto anchoredCode = code("y");
    anchoredCode.tables = {table};
    EXPECT_EQ(document({code("x"), anchoredCode}).markdown(), "```\nx\ny\n```\n\n| H |\n| --- |");
}

TEST(PlainText, ListsBulletsAndSkippedParagraphs) {
    auto doc = document({text("Title", 24), item("a", 0, true), item("b", 1, false), item("c", 1, true),
                         item("d", 0, true), text(""), code("c\u2028d"), text("x *y*")},
                        {{1, "ignored"}});
    doc.paragraphs[7].emphasis = {{0, true, false, false, false, false}};
    const std::vector<std::string> expected{"Title", "1. a", "    \u2022 b", "    1. c", "2. d", "c\nd", "x *y*"};
    EXPECT_EQ(doc.plainTextParagraphs(), expected);
    EXPECT_EQ(doc.plainText(), "Title\n\n1. a\n\n    \u2022 b\n\n    1. c\n\n2. d\n\nc\nd\n\nx *y*");
    EXPECT_EQ(document({item("a", 0, true), text("p"), item("b", 0, true)}).plainText(), "1. a\n\np\n\n1. b");
}

}  // namespace
