#include <gtest/gtest.h>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <cstdlib>
#include <string>

#include "LumaroPages/PagesDocument.hpp"

namespace {

using lumaro::PagesDocument;
using Paragraph = PagesDocument::Paragraph;
using Table = Paragraph::Table;
using Alignment = Table::ColumnAlignment;

Paragraph text(std::string value) {
    Paragraph p;
    p.text = std::move(value);
    return p;
}

Paragraph item(std::string value, int level, bool ordered) {
    auto p = text(std::move(value));
    p.listLevel = level;
    p.listOrdered = ordered;
    return p;
}

PagesDocument document(std::vector<Paragraph> paragraphs, std::vector<PagesDocument::Footnote> footnotes = {}) {
    PagesDocument doc;
    doc.paragraphs = std::move(paragraphs);
    doc.footnotes = std::move(footnotes);
    return doc;
}

// A compact picture of a tree: type(children...), with the literal of text
// and code nodes in quotes and the level of headings after their type.
std::string shape(cmark_node* node) {
    std::string result = cmark_node_get_type_string(node);
    if (cmark_node_get_type(node) == CMARK_NODE_HEADING) result += std::to_string(cmark_node_get_heading_level(node));
    if (const char* literal = cmark_node_get_literal(node)) result += "'" + std::string(literal) + "'";
    if (auto* child = cmark_node_first_child(node)) {
        result += "(";
        for (; child; child = cmark_node_next(child)) {
            result += shape(child);
            if (cmark_node_next(child)) result += " ";
        }
        result += ")";
    }
    return result;
}

std::string shapeOf(const PagesDocument& doc) { return shape(doc.markdownDocument().get()); }

std::string commonMarkOf(const PagesDocument& doc) {
    const auto tree = doc.markdownDocument();
    char* rendered = cmark_render_commonmark(tree.get(), CMARK_OPT_DEFAULT, 0);
    std::string result(rendered);
    std::free(rendered);
    return result;
}

TEST(MarkdownTree, ParagraphsParseTheirInlineMarkdown) {
    EXPECT_EQ(shapeOf(document({text("Hello *world*")})), "document(paragraph(text'Hello ' emph(text'world')))");
    auto styled = text("bold struck code");
    styled.emphasis = {{0, true, false, false, false, false},
                       {5, false, false, false, true, false},
                       {12, false, false, false, false, true}};
    styled.links = {{0, 4, "https://x.example"}};
    EXPECT_EQ(shapeOf(document({styled})),
              "document(paragraph(link(strong(text'bold')) text' ' strikethrough(text'struck') text' ' code'code'))");
    EXPECT_EQ(commonMarkOf(document({styled})), "[**bold**](https://x.example) ~~struck~~ `code`\n");
}

TEST(MarkdownTree, TextWithoutInlineNodesStaysLiteral) {
    EXPECT_EQ(shapeOf(document({text("---")})), "document(paragraph(text'---'))");
    EXPECT_EQ(shapeOf(document({text("- a")})), "document(paragraph(text'- a'))");
    EXPECT_EQ(shapeOf(document({text(""), text("\u000E")})), "document");
}

TEST(MarkdownTree, BlocksOfOneParagraphJoinWithSoftBreaks) {
    EXPECT_EQ(shapeOf(document({text("one\u2028\u2028# two")})),
              "document(paragraph(text'one' softbreak text'two'))");
}

TEST(MarkdownTree, HeadingsDropUniformEmphasis) {
    auto title = text("Title");
    title.headingLevel = 2;
    title.emphasis = {{0, true, false, false, false, false}};
    EXPECT_EQ(shapeOf(document({title})), "document(heading2(text'Title'))");
    Paragraph body = text(std::string(300, 'b'));
    body.fontSize = 12;
    Paragraph big = text("Big");
    big.fontSize = 24;
    EXPECT_EQ(commonMarkOf(document({big, body})), "# Big\n\n" + std::string(300, 'b') + "\n");
}

TEST(MarkdownTree, NestedListsFollowLevels) {
    EXPECT_EQ(shapeOf(document({item("a", 0, false), item("b", 1, false), item("c", 1, false), item("d", 0, false)})),
              "document(list(item(paragraph(text'a') list(item(paragraph(text'b')) item(paragraph(text'c')))) "
              "item(paragraph(text'd'))))");
    EXPECT_EQ(commonMarkOf(document({item("a", 0, true), item("b", 1, false), item("c", 0, true)})),
              "1.  a\n      - b\n2.  c\n");
}

TEST(MarkdownTree, ListRunStartingDeeperAndKindChanges) {
    EXPECT_EQ(shapeOf(document({item("a", 1, false), item("b", 0, false)})),
              "document(list(item(paragraph(text'a'))) list(item(paragraph(text'b'))))");
    EXPECT_EQ(shapeOf(document({item("a", 0, false), item("b", 0, false), item("c", 0, true)})),
              "document(list(item(paragraph(text'a')) item(paragraph(text'b'))) list(item(paragraph(text'c'))))");
    const auto tree = document({item("a", 0, false), item("b", 0, true), item("", 0, true)}).markdownDocument();
    auto* ordered = cmark_node_next(cmark_node_first_child(tree.get()));
    ASSERT_NE(ordered, nullptr);
    EXPECT_EQ(cmark_node_get_list_type(ordered), CMARK_ORDERED_LIST);
    EXPECT_EQ(shape(ordered), "list(item(paragraph(text'b')) item(paragraph))");
}

TEST(MarkdownTree, DeepListNestingIsBuiltWithoutRecursion) {
    std::vector<Paragraph> paragraphs;
    for (int level = 0; level < 20000; ++level) paragraphs.push_back(item("x", level, false));
    const auto tree = document(paragraphs).markdownDocument();
    int depth = 0;
    for (auto* node = cmark_node_first_child(tree.get()); node; node = cmark_node_last_child(node)) {
        if (cmark_node_get_type(node) == CMARK_NODE_LIST) ++depth;
    }
    EXPECT_EQ(depth, 20000);
}

TEST(MarkdownTree, CodeRunsBecomeOneCodeBlock) {
    auto a = text("a\u2028b");
    a.isCodeBlock = true;
    auto empty = text("");
    empty.isCodeBlock = true;
    EXPECT_EQ(shapeOf(document({a, empty, text("after")})),
              "document(code_block'a\nb\n\n' paragraph(text'after'))");
}

TEST(MarkdownTree, TablesWithAlignmentsAndShortRows) {
    auto anchor = text("\uFFFC");
    anchor.tables = {Table{{{"A", "*B*", "C"}, {"1|x\ny"}}, {Alignment::right, Alignment::center}}};
    const auto doc = document({anchor});
    EXPECT_EQ(shapeOf(doc),
              "document(table(table_header(table_cell(text'A') table_cell(emph(text'B')) table_cell(text'C')) "
              "table_row(table_cell(text'1|x y') table_cell table_cell)))");
    const auto tree = doc.markdownDocument();
    auto* table = cmark_node_first_child(tree.get());
    ASSERT_EQ(cmark_gfm_extensions_get_table_columns(table), 3);
    const auto* alignments = cmark_gfm_extensions_get_table_alignments(table);
    EXPECT_EQ(alignments[0], 'r');
    EXPECT_EQ(alignments[1], 'c');
    EXPECT_EQ(alignments[2], 0);
    EXPECT_TRUE(cmark_gfm_extensions_get_table_row_is_header(cmark_node_first_child(table)));
    EXPECT_FALSE(cmark_gfm_extensions_get_table_row_is_header(cmark_node_last_child(table)));
    EXPECT_EQ(commonMarkOf(doc), "| A | *B* | C |\n| --: | :-: | --- |\n| 1\\|x y |  |  |\n");
    EXPECT_EQ(shapeOf(document({[] {
                  auto p = text("");
                  p.tables = {Table{{{}}, {}}, Table{}};
                  return p;
              }()})),
              "document");
}

TEST(MarkdownTree, FootnotesComeLastInNumberOrderUnparsed) {
    EXPECT_EQ(shapeOf(document({text("Body")}, {{3, "Note *x*"}, {1, "First"}})),
              "document(paragraph(text'Body') paragraph(text'[^1]: First') paragraph(text'[^3]: Note *x*'))");
}

}  // namespace
