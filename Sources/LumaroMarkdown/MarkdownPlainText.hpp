#pragma once

#include <string>

#include <cmark-gfm.h>

namespace lumaro {

// The text a reader sees in a node and everything below it: the words of text
// nodes and code spans, inline HTML as written, one space per soft or hard line
// break, and nothing else of its own (a link gives its label, an image its
// description; no separators between blocks). Code blocks, HTML blocks and
// thematic breaks give nothing. Walks without recursion, so any depth of
// nesting is safe.
std::string markdownPlainText(cmark_node* node);

}  // namespace lumaro
