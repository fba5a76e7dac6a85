#include <gtest/gtest.h>

#include "LumaroMarkdown/MarkdownPlainText.hpp"
#include "LumaroMarkdown/MarkdownTree.hpp"

using lumaro::markdownPlainText;
using lumaro::parseMarkdown;

namespace {

std::string documentText(std::string_view markdown) {
    return markdownPlainText(parseMarkdown(markdown).get());
}

// The first node of the given kind below the root, in document order.
cmark_node* firstOfKind(cmark_node* root, cmark_node_type type) {
    cmark_iter* iterator = cmark_iter_new(root);
    cmark_node* found = nullptr;
    while (found == nullptr && cmark_iter_next(iterator) != CMARK_EVENT_DONE) {
        if (cmark_node_get_type(cmark_iter_get_node(iterator)) == type) {
            found = cmark_iter_get_node(iterator);
        }
    }
    cmark_iter_free(iterator);
    return found;
}

TEST(MarkdownPlainText, JoinsTextWithNothingAdded) {
    EXPECT_EQ(documentText("Hello *big* `code` world"), "Hello big code world");
    EXPECT_EQ(documentText("A\n\nB"), "AB");
    EXPECT_EQ(documentText("- a\n- b\n\n> c\n\n|x|y|\n|-|-|\n|1|2|"), "abcxy12");
    EXPECT_EQ(documentText("# Title"), "Title");
}

TEST(MarkdownPlainText, LineBreaksBecomeOneSpace) {
    EXPECT_EQ(documentText("one\ntwo"), "one two");
    EXPECT_EQ(documentText("one  \ntwo"), "one two");
    EXPECT_EQ(documentText("one\\\ntwo"), "one two");
}

TEST(MarkdownPlainText, LinksImagesAndInlineHTML) {
    EXPECT_EQ(documentText("[label](https://example.com)"), "label");
    const lumaro::MarkdownTree document = parseMarkdown("see ![an *emphasised* word](pic.png \"title\")");
    EXPECT_EQ(markdownPlainText(firstOfKind(document.get(), CMARK_NODE_IMAGE)), "an emphasised word");
    EXPECT_EQ(documentText("a <b class=\"x\">bold</b>"), "a <b class=\"x\">bold</b>");
}

TEST(MarkdownPlainText, LeafBlocksGiveNothing) {
    EXPECT_EQ(documentText("```\ncode\n```"), "");
    EXPECT_EQ(documentText("<div>\nhtml\n</div>"), "");
    EXPECT_EQ(documentText("***"), "");
    EXPECT_EQ(markdownPlainText(nullptr), "");
}

TEST(MarkdownPlainText, DeepNestingIsWalkedWithoutRecursion) {
    EXPECT_EQ(documentText(std::string(100000, '>') + " deep"), "deep");
}

}  // namespace
