#include <gtest/gtest.h>

#include "LumaroMarkdown/MarkdownHTMLRenderer.hpp"
#include "LumaroMarkdown/MarkdownTree.hpp"

using lumaro::MarkdownHTMLRenderer;
using Options = MarkdownHTMLRenderer::Options;

namespace {

std::string html(std::string_view markdown, Options options = {}) {
    return MarkdownHTMLRenderer::convert(markdown, options);
}

TEST(MarkdownHTMLRenderer, BlocksAreJoinedByOneLineFeedAtTopLevelOnly) {
    EXPECT_EQ(html(""), "");
    EXPECT_EQ(html("# T\n\np\n\n\n"), "<h1>T</h1>\n<p>p</p>");
    EXPECT_EQ(html("> a\n>\n> b"), "<blockquote><p>a</p><p>b</p></blockquote>");
    EXPECT_EQ(html("###### six\n\n---"), "<h6>six</h6>\n<hr>");
    EXPECT_EQ(html("---", Options::xhtml), "<hr />");
}

TEST(MarkdownHTMLRenderer, InlineMarkup) {
    EXPECT_EQ(html("*a* **b** ~~c~~ `x < y`"), "<p><em>a</em> <strong>b</strong> <del>c</del> <code>x &lt; y</code></p>");
    EXPECT_EQ(html("one\ntwo"), "<p>one\ntwo</p>");
    EXPECT_EQ(html("one  \ntwo"), "<p>one<br>two</p>");
    EXPECT_EQ(html("one\\\ntwo", Options::xhtml), "<p>one<br />two</p>");
}

TEST(MarkdownHTMLRenderer, CodeBlocksDropOneFinalLineFeed) {
    EXPECT_EQ(html("```js\na < b\n```"), "<pre><code class=\"language-js\">a &lt; b</code></pre>");
    EXPECT_EQ(html("```\na < b\n```"), "<pre><code>a &lt; b</code></pre>");
    EXPECT_EQ(html("```\na\n\n```"), "<pre><code>a\n</code></pre>");
    EXPECT_EQ(html("    x\n    y"), "<pre><code>x\ny</code></pre>");
    EXPECT_EQ(html("```a\"b\n\"q\"\n```"), "<pre><code class=\"language-a&quot;b\">\"q\"</code></pre>");
}

TEST(MarkdownHTMLRenderer, QuotesAreEscapedOnlyInAttributes) {
    EXPECT_EQ(html("say \"hi\" & it's"), "<p>say \"hi\" &amp; it's</p>");
    EXPECT_EQ(html("[x](<a\"b'c>)"), "<p><a href=\"a&quot;b'c\">x</a></p>");
    // A combining mark after the quote does not keep it from being escaped.
    EXPECT_EQ(html("[x](<a\"\xCC\x81 onclick=y>)"), "<p><a href=\"a&quot;\xCC\x81 onclick=y\">x</a></p>");
}

TEST(MarkdownHTMLRenderer, LinksAndImagesWriteNoTitle) {
    EXPECT_EQ(html("[label](/url \"title\")"), "<p><a href=\"/url\">label</a></p>");
    EXPECT_EQ(html("[label]()"), "<p><a href=\"\">label</a></p>");
    EXPECT_EQ(html("![an *emph* \"q\"](/i.png \"t\")"), "<p><img src=\"/i.png\" alt=\"an emph &quot;q&quot;\"></p>");
    EXPECT_EQ(html("![a](b.png)", Options::xhtml), "<p><img src=\"b.png\" alt=\"a\" /></p>");
}

TEST(MarkdownHTMLRenderer, RawHTMLIsEscapedUnlessPassedThrough) {
    EXPECT_EQ(html("<div>\n\n"), "&lt;div&gt;");
    EXPECT_EQ(html("<div>\n", Options::passThroughRawHTML), "<div>");
    EXPECT_EQ(html("a <span x=\"1\">b</span>"), "<p>a &lt;span x=\"1\"&gt;b&lt;/span&gt;</p>");
    EXPECT_EQ(html("a <span x=\"1\">b</span>", Options::passThroughRawHTML), "<p>a <span x=\"1\">b</span></p>");
}

TEST(MarkdownHTMLRenderer, ListItems) {
    EXPECT_EQ(html("- [x] done\n- [ ] todo\n- plain"),
              "<ul><li class=\"task-list-item\"><input type=\"checkbox\" disabled checked> done</li>"
              "<li class=\"task-list-item\"><input type=\"checkbox\" disabled> todo</li><li>plain</li></ul>");
    EXPECT_EQ(html("- [x] done\n- [ ] todo", Options::xhtml),
              "<ul><li class=\"task-list-item\"><input type=\"checkbox\" disabled=\"disabled\" checked=\"checked\" /> "
              "done</li><li class=\"task-list-item\"><input type=\"checkbox\" disabled=\"disabled\" /> todo</li></ul>");
    EXPECT_EQ(html("- a\n  - b"), "<ul><li><p>a</p><ul><li>b</li></ul></li></ul>");
    // One paragraph per item: no <p>, even in a loose list.
    EXPECT_EQ(html("3. a\n\n4. b"), "<ol><li>a</li><li>b</li></ol>");
    EXPECT_EQ(html("-\n- x"), "<ul><li></li><li>x</li></ul>");
}

TEST(MarkdownHTMLRenderer, Tables) {
    EXPECT_EQ(html("| A |\n|---|\n| 1 |"),
              "<table>\n<thead><tr><th>A</th></tr></thead>\n<tbody>\n<tr><td>1</td></tr>\n</tbody></table>");
    EXPECT_EQ(html("|a|b|c|d|\n|:-|:-:|-:|-|\n|1|2|3|4|"),
              "<table>\n<thead><tr><th>a</th><th style=\"text-align: center;\">b</th>"
              "<th style=\"text-align: right;\">c</th><th>d</th></tr></thead>\n<tbody>\n"
              "<tr><td>1</td><td style=\"text-align: center;\">2</td><td style=\"text-align: right;\">3</td>"
              "<td>4</td></tr>\n</tbody></table>");
    EXPECT_EQ(html("|a|\n|-|"), "<table>\n<thead><tr><th>a</th></tr></thead>\n<tbody>\n</tbody></table>");
}

TEST(MarkdownHTMLRenderer, CellsPastTheAlignmentListHaveNoStyle) {
    // The parser evens rows out to the header, so move a cell by hand: the
    // first body row then holds three cells under two alignments.
    const lumaro::MarkdownTree document = lumaro::parseMarkdown("|a|b|\n|-:|:-:|\n|1|2|\n|3|4|");
    cmark_node* table = cmark_node_first_child(document.get());
    cmark_node* firstRow = cmark_node_next(cmark_node_first_child(table));
    cmark_node* moved = cmark_node_first_child(cmark_node_next(firstRow));
    cmark_node_unlink(moved);
    ASSERT_TRUE(cmark_node_append_child(firstRow, moved));
    EXPECT_EQ(MarkdownHTMLRenderer::convert(document.get()),
              "<table>\n<thead><tr><th style=\"text-align: right;\">a</th><th style=\"text-align: center;\">b</th>"
              "</tr></thead>\n<tbody>\n<tr><td style=\"text-align: right;\">1</td>"
              "<td style=\"text-align: center;\">2</td><td>3</td></tr>\n<tr><td style=\"text-align: right;\">4</td>"
              "</tr>\n</tbody></table>");
}

TEST(MarkdownHTMLRenderer, AlertBlockQuotes) {
    EXPECT_EQ(html("> [!WARNING]\n> Be careful"),
              "<aside class=\"markdown-alert markdown-alert-warning\" data-alert=\"warning\" role=\"alert\">"
              "<p class=\"markdown-alert-title\">Warning</p><p>Be careful</p></aside>");
    EXPECT_EQ(html("> [!note] Remember *this*\n>\n> more"),
              "<aside class=\"markdown-alert markdown-alert-note\" data-alert=\"note\" role=\"note\">"
              "<p class=\"markdown-alert-title\">Note</p><p>Remember <em>this</em></p><p>more</p></aside>");
    EXPECT_EQ(html("> Tip: use it"),
              "<aside class=\"markdown-alert markdown-alert-tip\" data-alert=\"tip\" role=\"note\">"
              "<p class=\"markdown-alert-title\">Tip</p><p>use it</p></aside>");
    EXPECT_EQ(html("> [!CAUTION]"),
              "<aside class=\"markdown-alert markdown-alert-caution\" data-alert=\"caution\" role=\"alert\">"
              "<p class=\"markdown-alert-title\">Caution</p></aside>");
    EXPECT_EQ(html("> [!Important]\n> > [!tip]\n> > x"),
              "<aside class=\"markdown-alert markdown-alert-important\" data-alert=\"important\" role=\"note\">"
              "<p class=\"markdown-alert-title\">Important</p>"
              "<aside class=\"markdown-alert markdown-alert-tip\" data-alert=\"tip\" role=\"note\">"
              "<p class=\"markdown-alert-title\">Tip</p><p>x</p></aside></aside>");
}

TEST(MarkdownHTMLRenderer, BlockQuotesThatAreNoAlerts) {
    for (const char* markdown : {"> Remember: x", "> [!INFO] x", "> A note: x", "> [!] x", "> [!NOTE without",
                                 "> *Note*: x", "> **[!NOTE]** x", "> [!INFO] Note: x"}) {
        EXPECT_TRUE(html(markdown).starts_with("<blockquote><p>")) << markdown;
    }
}

TEST(MarkdownHTMLRenderer, DeepNestingDoesNotExhaustTheStack) {
    constexpr std::size_t depth = 100000;
    const std::string quotes = html(std::string(depth, '>') + " x");
    EXPECT_NE(quotes.find("<blockquote><p>x</p></blockquote>"), std::string::npos);
    EXPECT_EQ(quotes.size(), depth * std::string("<blockquote></blockquote>").size() + std::string("<p>x</p>").size());
    std::string items;
    for (std::size_t i = 0; i < depth / 10; ++i) {
        items += "- ";
    }
    const std::string lists = html(items + "*x*");
    EXPECT_NE(lists.find("<ul><li><em>x</em></li></ul></li></ul>"), std::string::npos);
    EXPECT_EQ(lists.size(), depth / 10 * std::string("<ul><li></li></ul>").size() + std::string("<em>x</em>").size());
}

TEST(MarkdownHTMLRendererOptions, SetAlgebra) {
    Options options;
    EXPECT_TRUE(options.isEmpty());
    EXPECT_TRUE(options.insert(Options::xhtml).inserted);
    EXPECT_FALSE(options.insert(Options::xhtml).inserted);
    EXPECT_EQ(options.rawValue, 2);
    EXPECT_EQ(options.update(Options::passThroughRawHTML), std::nullopt);
    EXPECT_EQ(options, (Options{Options::passThroughRawHTML, Options::xhtml}));
    EXPECT_EQ(options.rawValue, 3);
    EXPECT_EQ(options.remove(Options::xhtml), Options::xhtml);
    EXPECT_EQ(options.remove(Options::xhtml), std::nullopt);
    EXPECT_TRUE(options.isSubset(Options{3}));
    EXPECT_TRUE(Options{3}.isSuperset(options));
    EXPECT_TRUE(options.isDisjoint(Options::xhtml));
    EXPECT_EQ(Options{3}.symmetricDifference(Options::xhtml), Options::passThroughRawHTML);
    EXPECT_EQ(Options{3}.intersection(Options::xhtml), Options::xhtml);
}

}  // namespace
