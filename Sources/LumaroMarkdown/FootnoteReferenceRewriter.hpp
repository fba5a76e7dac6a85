#pragma once

#include <string>
#include <string_view>

#include <cmark-gfm.h>

#include "LumaroMarkdown/FootnoteState.hpp"

namespace lumaro {

// The mark of footnote reference N inside text and rendered HTML: U+E000,
// "fnref:", N in decimal, U+E001. Private-use characters pass through the HTML
// renderer unchanged, so the mark can be turned into a link afterwards.
inline constexpr std::string_view kFootnoteSentinelStart = "\xEE\x80\x80";  // U+E000
inline constexpr std::string_view kFootnoteSentinelEnd = "\xEE\x80\x81";    // U+E001
inline constexpr std::string_view kFootnoteSentinelPrefix = "fnref:";

// Replaces the footnote references in the text nodes of a parsed tree by
// sentinels, numbering them on the shared state in document order. Code spans,
// code blocks and raw HTML are not text nodes and stay as they are.
class FootnoteReferenceRewriter {
public:
    explicit FootnoteReferenceRewriter(FootnoteState& state) : state_(state) {}

    // Rewrites the tree in place.
    void rewrite(cmark_node* tree);

    // The text with each resolved reference as its sentinel.
    std::string replaceReferences(std::string_view text);

private:
    FootnoteState& state_;
};

}  // namespace lumaro
