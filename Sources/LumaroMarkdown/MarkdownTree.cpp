#include "LumaroMarkdown/MarkdownTree.hpp"

#include <array>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>

// Node types of the extensions; the extension library assigns them when it
// registers its extensions.
extern "C" {
extern cmark_node_type CMARK_NODE_TABLE;
extern cmark_node_type CMARK_NODE_TABLE_ROW;
extern cmark_node_type CMARK_NODE_TABLE_CELL;
extern cmark_node_type CMARK_NODE_STRIKETHROUGH;
}

namespace lumaro {

namespace {

constexpr std::array<const char*, 3> kAttachedExtensions = {"table", "strikethrough", "tasklist"};

// The extension registry is filled once per process; the node types above are
// only valid afterwards.
struct RegisteredExtensions {
    cmark_syntax_extension* tasklist = nullptr;

    RegisteredExtensions() {
        cmark_gfm_core_extensions_ensure_registered();
        tasklist = cmark_find_syntax_extension("tasklist");
    }
};

const RegisteredExtensions& registeredExtensions() {
    static const RegisteredExtensions extensions;
    return extensions;
}

struct ParserDeleter {
    void operator()(cmark_parser* parser) const { cmark_parser_free(parser); }
};

MarkdownNodeKind extensionKind(cmark_node_type type) {
    if (type == CMARK_NODE_TABLE) {
        return MarkdownNodeKind::table;
    }
    if (type == CMARK_NODE_TABLE_ROW) {
        return MarkdownNodeKind::tableRow;
    }
    if (type == CMARK_NODE_TABLE_CELL) {
        return MarkdownNodeKind::tableCell;
    }
    if (type == CMARK_NODE_STRIKETHROUGH) {
        return MarkdownNodeKind::strikethrough;
    }
    return MarkdownNodeKind::other;
}

}  // namespace

MarkdownTree parseMarkdown(std::string_view text) {
    registeredExtensions();
    std::unique_ptr<cmark_parser, ParserDeleter> parser(cmark_parser_new(CMARK_OPT_DEFAULT));
    for (const char* name : kAttachedExtensions) {
        cmark_parser_attach_syntax_extension(parser.get(), cmark_find_syntax_extension(name));
    }
    cmark_parser_feed(parser.get(), text.data(), text.size());
    MarkdownTree document(cmark_parser_finish(parser.get()));
    cmark_consolidate_text_nodes(document.get());
    return document;
}

MarkdownNodeKind markdownNodeKind(cmark_node* node) {
    registeredExtensions();
    const cmark_node_type type = cmark_node_get_type(node);
    switch (type) {
    case CMARK_NODE_DOCUMENT: return MarkdownNodeKind::document;
    case CMARK_NODE_BLOCK_QUOTE: return MarkdownNodeKind::blockQuote;
    case CMARK_NODE_LIST:
        return cmark_node_get_list_type(node) == CMARK_ORDERED_LIST ? MarkdownNodeKind::orderedList
                                                                    : MarkdownNodeKind::unorderedList;
    case CMARK_NODE_ITEM: return MarkdownNodeKind::listItem;
    case CMARK_NODE_CODE_BLOCK: return MarkdownNodeKind::codeBlock;
    case CMARK_NODE_HTML_BLOCK: return MarkdownNodeKind::htmlBlock;
    case CMARK_NODE_PARAGRAPH: return MarkdownNodeKind::paragraph;
    case CMARK_NODE_HEADING: return MarkdownNodeKind::heading;
    case CMARK_NODE_THEMATIC_BREAK: return MarkdownNodeKind::thematicBreak;
    case CMARK_NODE_TEXT: return MarkdownNodeKind::text;
    case CMARK_NODE_SOFTBREAK: return MarkdownNodeKind::softBreak;
    case CMARK_NODE_LINEBREAK: return MarkdownNodeKind::lineBreak;
    case CMARK_NODE_CODE: return MarkdownNodeKind::inlineCode;
    case CMARK_NODE_HTML_INLINE: return MarkdownNodeKind::inlineHTML;
    case CMARK_NODE_EMPH: return MarkdownNodeKind::emphasis;
    case CMARK_NODE_STRONG: return MarkdownNodeKind::strong;
    case CMARK_NODE_LINK: return MarkdownNodeKind::link;
    case CMARK_NODE_IMAGE: return MarkdownNodeKind::image;
    default: return extensionKind(type);
    }
}

std::optional<bool> taskListItemState(cmark_node* node) {
    const cmark_syntax_extension* tasklist = registeredExtensions().tasklist;
    if (tasklist == nullptr || cmark_node_get_type(node) != CMARK_NODE_ITEM ||
        cmark_node_get_syntax_extension(node) != tasklist) {
        return std::nullopt;
    }
    return cmark_gfm_extensions_get_tasklist_item_checked(node);
}

bool isTableHeaderRow(cmark_node* node) {
    return markdownNodeKind(node) == MarkdownNodeKind::tableRow && cmark_gfm_extensions_get_table_row_is_header(node) != 0;
}

std::string_view nodeLiteral(cmark_node* node) {
    const char* literal = cmark_node_get_literal(node);
    return literal ? std::string_view(literal) : std::string_view();
}

}  // namespace lumaro
