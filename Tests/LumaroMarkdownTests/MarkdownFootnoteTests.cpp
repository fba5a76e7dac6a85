#include <gtest/gtest.h>

#include "LumaroMarkdown/MarkdownFootnoteParser.hpp"
#include "LumaroMarkdown/MarkdownFootnoteRenderer.hpp"
#include "LumaroMarkdown/MarkdownFootnoteResolver.hpp"

using lumaro::MarkdownFootnoteParser;
using lumaro::MarkdownFootnoteRenderer;
using lumaro::MarkdownFootnoteResolver;
using lumaro::MarkdownHTMLRenderer;
using Definition = MarkdownFootnoteParser::Definition;
using Segment = MarkdownFootnoteParser::Segment;

namespace {

std::string footnoteLink(int number, const std::string& anchor) {
    const std::string n = std::to_string(number);
    return "<sup><a href=\"#fn-" + n + "\" id=\"" + anchor + "\">[" + n + "]</a></sup>";
}

std::string definitionDiv(int number, const std::string& inner) {
    const std::string n = std::to_string(number);
    return "<div class=\"footnote-definition\" id=\"fn-" + n + "\"><strong>[" + n + "]:</strong> " + inner + "</div>";
}

TEST(MarkdownFootnoteParser, DefinitionsAndTheirContinuationLines) {
    auto extracted = MarkdownFootnoteParser::extractDefinitions("a\n[^n]: first\n\n    second\n\tthird\nafter\r\nend");
    EXPECT_EQ(extracted.cleaned, "a\nafter\nend");
    EXPECT_EQ(extracted.definitions, (std::vector<Definition>{{"n", "first\n\nsecond\nthird"}}));

    // A blank line not followed by an indented line ends the definition and stays.
    extracted = MarkdownFootnoteParser::extractDefinitions("[^n]: first\n\nnot indented\n");
    EXPECT_EQ(extracted.cleaned, "\nnot indented\n");
    EXPECT_EQ(extracted.definitions, (std::vector<Definition>{{"n", "first"}}));

    // No lazy continuation: three spaces end the definition.
    extracted = MarkdownFootnoteParser::extractDefinitions("[^n]:\n   x\n      y");
    EXPECT_EQ(extracted.cleaned, "   x\n      y");
    EXPECT_EQ(extracted.definitions, (std::vector<Definition>{{"n", ""}}));
}

TEST(MarkdownFootnoteParser, DefinitionStartRules) {
    auto extracted = MarkdownFootnoteParser::extractDefinitions(
        " [^a]: indented\n[^]: empty\n[^ ]: blank\n[^b] no colon\n[^c]:x\n[^\t d \u3000]: y\n[^c]: again\n    more");
    EXPECT_EQ(extracted.cleaned, " [^a]: indented\n[^]: empty\n[^ ]: blank\n[^b] no colon");
    EXPECT_EQ(extracted.definitions, (std::vector<Definition>{{"c", "x"}, {"d", "y"}}));
}

TEST(MarkdownFootnoteResolver, NumbersByFirstUse) {
    MarkdownFootnoteResolver resolver({"a", "b"});
    EXPECT_EQ(resolver.resolve(""), (std::vector<Segment>{Segment::ofText("")}));
    EXPECT_EQ(resolver.resolve("plain"), (std::vector<Segment>{Segment::ofText("plain")}));
    EXPECT_EQ(resolver.resolve("x[^b]y[^a][^b] [^c] [^] [^a b] [^a"),
              (std::vector<Segment>{Segment::ofText("x"), Segment::ofReference(1), Segment::ofText("y"),
                                    Segment::ofReference(2), Segment::ofReference(1),
                                    Segment::ofText(" [^c] [^] [^a b] [^a")}));
    EXPECT_EQ(resolver.number("b"), 1);
    EXPECT_EQ(resolver.number("c"), std::nullopt);
    EXPECT_EQ(resolver.state().totalReferenceCountByNumber().at(1), 2);
    EXPECT_EQ(resolver.state().nextReferenceAnchorID(3), "ref-3");
    EXPECT_EQ(resolver.state().nextReferenceAnchorID(3), "ref-3-2");
}

TEST(MarkdownFootnoteRenderer, TextWithoutDefinitionsRendersAsPlainHTML) {
    const std::string markdown = "a [^x] *b*\r\n\r\nc\rd";
    EXPECT_EQ(MarkdownFootnoteRenderer::convert(markdown), MarkdownHTMLRenderer::convert("a [^x] *b*\n\nc\nd"));
    EXPECT_EQ(MarkdownFootnoteRenderer::convert(markdown), "<p>a [^x] <em>b</em></p>\n<p>c\nd</p>");
}

TEST(MarkdownFootnoteRenderer, ReferencesAndDefinitionsBlock) {
    const std::string html = MarkdownFootnoteRenderer::convert("A[^a] B[^b] C[^a].\n\n[^b]: Bee.\n[^a]: Ay.\n");
    EXPECT_EQ(html, "<p>A" + footnoteLink(1, "ref-1") + " B" + footnoteLink(2, "ref-2") + " C" +
                        footnoteLink(1, "ref-1-2") + ".</p>\n" + definitionDiv(1, "Ay.") + "\n" +
                        definitionDiv(2, "Bee."));
}

TEST(MarkdownFootnoteRenderer, DefinitionBodies) {
    EXPECT_EQ(MarkdownFootnoteRenderer::convert("x[^1]\n\n[^1]: text"), "<p>x" + footnoteLink(1, "ref-1") + "</p>\n" +
                                                                             definitionDiv(1, "text"));
    EXPECT_EQ(MarkdownFootnoteRenderer::convert("x[^1]\n\n[^1]: one\n\n    two"),
              "<p>x" + footnoteLink(1, "ref-1") +
                  "</p>\n<div class=\"footnote-definition\" id=\"fn-1\"><p><strong>[1]:</strong></p>"
                  "<p>one</p>\n<p>two</p></div>");
    EXPECT_EQ(MarkdownFootnoteRenderer::convert("x[^1]\n\n[^1]:"),
              "<p>x" + footnoteLink(1, "ref-1") +
                  "</p>\n<div class=\"footnote-definition\" id=\"fn-1\"><strong>[1]:</strong></div>");
}

TEST(MarkdownFootnoteRenderer, DefinitionsReferencedFromDefinitions) {
    // Unused is dropped; late is referenced from first (same pass, it comes
    // later); early only from late (next pass).
    const std::string html = MarkdownFootnoteRenderer::convert(
        "[^early]: E.\n[^unused]: U.\nMain[^first].\n\n[^first]: F[^late].\n[^late]: L[^early].");
    EXPECT_EQ(html, "<p>Main" + footnoteLink(1, "ref-1") + ".</p>\n" + definitionDiv(1, "F" + footnoteLink(2, "ref-2") + ".") +
                        "\n" + definitionDiv(2, "L" + footnoteLink(3, "ref-3") + ".") + "\n" + definitionDiv(3, "E."));
}

TEST(MarkdownFootnoteRenderer, ReferencesThatStayText) {
    EXPECT_EQ(MarkdownFootnoteRenderer::convert("`[^a]` [^ a ] [^a][^b] [^\n\n    [^a]\n\n[^ a ]: d"),
              "<p><code>[^a]</code> [^ a ] " + footnoteLink(1, "ref-1") +
                  "[^b] [^</p>\n<pre><code>[^a]</code></pre>\n" + definitionDiv(1, "d"));
}

TEST(MarkdownFootnoteRenderer, OptionsReachTheBodies) {
    EXPECT_EQ(MarkdownFootnoteRenderer::convert("x[^n] <b>\n\n[^n]: <i>y</i>", MarkdownHTMLRenderer::Options::xhtml),
              "<p>x" + footnoteLink(1, "ref-1") + " &lt;b&gt;</p>\n" + definitionDiv(1, "&lt;i&gt;y&lt;/i&gt;"));
    EXPECT_EQ(MarkdownFootnoteRenderer::convert("x[^n] <b>\n\n[^n]: <i>y</i>",
                                                MarkdownHTMLRenderer::Options::passThroughRawHTML),
              "<p>x" + footnoteLink(1, "ref-1") + " <b></p>\n" + definitionDiv(1, "<i>y</i>"));
}

TEST(MarkdownFootnoteRenderer, SentinelLookalikesInTheText) {
    const std::string start = "\xEE\x80\x80";
    const std::string end = "\xEE\x80\x81";
    // A run that holds no valid number is copied as it is.
    EXPECT_EQ(MarkdownFootnoteRenderer::convert(start + "fnref:x" + end + "[^a]\n\n[^a]: d"),
              "<p>" + start + "fnref:x" + end + footnoteLink(1, "ref-1") + "</p>\n" + definitionDiv(1, "d"));
    // A stray start mark does not swallow the reference after it.
    EXPECT_EQ(MarkdownFootnoteRenderer::convert(start + " [^a]\n\n[^a]: d"),
              "<p>" + start + " " + footnoteLink(1, "ref-1") + "</p>\n" + definitionDiv(1, "d"));
}

}  // namespace
