#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include <cmark-gfm.h>

namespace lumaro {

// A parsed Markdown document: the cmark-gfm node tree, freed with its root.
struct MarkdownNodeDeleter {
    void operator()(cmark_node* node) const { cmark_node_free(node); }
};
using MarkdownTree = std::unique_ptr<cmark_node, MarkdownNodeDeleter>;

// Parses CommonMark with the table, strike-through and task-list extensions.
// Punctuation stays as typed (no smart quotes or dashes), bare URLs stay text,
// footnotes are left to the caller, and adjacent text nodes are merged so that
// a run such as "[^a]" or "[!NOTE]" arrives as one text node. Every input parses.
MarkdownTree parseMarkdown(std::string_view text);

// The node kinds the text services tell apart. Extension nodes (tables,
// strike-through) are recognised whether or not a parser has run yet.
enum class MarkdownNodeKind {
    document,
    blockQuote,
    orderedList,
    unorderedList,
    listItem,
    codeBlock,
    htmlBlock,
    paragraph,
    heading,
    thematicBreak,
    table,
    tableRow,
    tableCell,
    text,
    softBreak,
    lineBreak,
    inlineCode,
    inlineHTML,
    emphasis,
    strong,
    strikethrough,
    link,
    image,
    other,
};

MarkdownNodeKind markdownNodeKind(cmark_node* node);

// The check box of a task-list item: no value for an item without one (and for
// any node that is not a list item), else whether it is checked.
std::optional<bool> taskListItemState(cmark_node* node);

// A table row marked as the header row.
bool isTableHeaderRow(cmark_node* node);

// The literal of a text, code, inline-HTML, HTML-block or code-block node;
// empty when the node has none.
std::string_view nodeLiteral(cmark_node* node);

}  // namespace lumaro
