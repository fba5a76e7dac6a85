#pragma once

#include <memory>

// The node type of the Markdown parser; declared here so that users of the
// document model need not include the parser's headers.
struct cmark_node;

namespace lumaro {

struct MarkdownNodeDeleter {
    void operator()(cmark_node* node) const noexcept;
};

// Owns a Markdown node and, through it, the node's whole subtree.
using MarkdownNodeHandle = std::unique_ptr<cmark_node, MarkdownNodeDeleter>;

}  // namespace lumaro
