#pragma once

#include <string>
#include <string_view>

#include "LumaroMarkdown/MarkdownHTMLRenderer.hpp"

namespace lumaro {

// Renders Markdown with footnotes as HTML. Definitions ("[^id]: text" lines
// and their indented continuations) are taken out of the text; each reference
// "[^id]" to a defined footnote becomes
//   <sup><a href="#fn-N" id="ref-N">[N]</a></sup>
// (later references to the same footnote get ids ref-N-2, ref-N-3, ...), and
// after the main HTML comes one
//   <div class="footnote-definition" id="fn-N"><strong>[N]:</strong> ...</div>
// per referenced footnote, in number order. Footnotes are numbered by first
// reference, the main text first, then references inside definitions.
// Unreferenced definitions are dropped; references to unknown ids stay text.
struct MarkdownFootnoteRenderer {
    static std::string convert(std::string_view markdown, MarkdownHTMLRenderer::Options options = {});
};

}  // namespace lumaro
