#include "LumaroPages/PagesMarkdownAST.hpp"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "LumaroPages/PagesDocument.hpp"
#include "LumaroPages/PagesText.hpp"

// Node types of the table extension; the library exports them but its headers
// do not declare them. They are valid once the core extensions are registered.
extern "C" {
extern cmark_node_type CMARK_NODE_TABLE;
extern cmark_node_type CMARK_NODE_TABLE_ROW;
extern cmark_node_type CMARK_NODE_TABLE_CELL;
}

namespace lumaro {

void MarkdownNodeDeleter::operator()(cmark_node* node) const noexcept { cmark_node_free(node); }

namespace {

using Paragraph = PagesDocument::Paragraph;
using Nodes = std::vector<MarkdownNodeHandle>;

// The parser's extensions, also the one whose node types make up tables.
constexpr const char* kParserExtensions[] = {"table", "strikethrough", "tasklist"};
constexpr const char* kTableExtension = "table";
constexpr std::uint8_t kAlignNone = 0;
constexpr std::uint8_t kAlignCenter = 'c';
constexpr std::uint8_t kAlignRight = 'r';
constexpr int kOrderedListStart = 1;

cmark_syntax_extension* syntaxExtension(const char* name) {
    cmark_gfm_core_extensions_ensure_registered();
    return cmark_find_syntax_extension(name);
}

MarkdownNodeHandle newNode(cmark_node_type type) { return MarkdownNodeHandle(cmark_node_new(type)); }

// Taken by reference: the table's node types get their values only when the
// extension is registered, which finding the extension makes sure of.
MarkdownNodeHandle newTableNode(const cmark_node_type& type) {
    auto* extension = syntaxExtension(kTableExtension);
    return MarkdownNodeHandle(cmark_node_new_with_ext(type, extension));
}

// A cell needs no data of the extension's own, and the data that creating it
// through the extension allocates is never freed with the node; so the cell is
// made as a plain node and then handed to the extension.
MarkdownNodeHandle newTableCell() {
    auto* extension = syntaxExtension(kTableExtension);
    MarkdownNodeHandle cell(cmark_node_new(CMARK_NODE_TABLE_CELL));
    cmark_node_set_syntax_extension(cell.get(), extension);
    return cell;
}

MarkdownNodeHandle newText(const std::string& literal) {
    auto node = newNode(CMARK_NODE_TEXT);
    cmark_node_set_literal(node.get(), literal.c_str());
    return node;
}

// The parent takes the child over; a child the parent cannot hold is freed
// by its handle.
void append(cmark_node* parent, MarkdownNodeHandle child) {
    if (cmark_node_append_child(parent, child.get())) child.release();
}

void appendAll(cmark_node* parent, Nodes children) {
    for (auto& child : children) append(parent, std::move(child));
}

MarkdownNodeHandle parsedDocument(const std::string& text) {
    struct ParserDeleter {
        void operator()(cmark_parser* parser) const noexcept { cmark_parser_free(parser); }
    };
    std::unique_ptr<cmark_parser, ParserDeleter> parser(cmark_parser_new(CMARK_OPT_DEFAULT));
    for (const char* name : kParserExtensions) {
        if (auto* extension = syntaxExtension(name)) cmark_parser_attach_syntax_extension(parser.get(), extension);
    }
    cmark_parser_feed(parser.get(), text.data(), text.size());
    return MarkdownNodeHandle(cmark_parser_finish(parser.get()));
}

// Inline nodes made by the parser may keep their text as a view into the
// buffers of the block that held them. Reading a node's strings makes them
// its own, so that the nodes outlive the parsed document they are taken from.
void takeOwnershipOfStrings(cmark_node* root) {
    struct IteratorDeleter {
        void operator()(cmark_iter* iterator) const noexcept { cmark_iter_free(iterator); }
    };
    std::unique_ptr<cmark_iter, IteratorDeleter> iterator(cmark_iter_new(root));
    for (auto event = cmark_iter_next(iterator.get()); event != CMARK_EVENT_DONE;
         event = cmark_iter_next(iterator.get())) {
        if (event != CMARK_EVENT_ENTER) continue;
        auto* node = cmark_iter_get_node(iterator.get());
        const auto type = cmark_node_get_type(node);
        if (type == CMARK_NODE_LINK || type == CMARK_NODE_IMAGE) {
            cmark_node_get_url(node);
            cmark_node_get_title(node);
        } else {
            cmark_node_get_literal(node);
        }
    }
}

bool isInline(cmark_node* node) {
    return (cmark_node_get_type(node) & CMARK_NODE_TYPE_MASK) == CMARK_NODE_TYPE_INLINE;
}

// Inline Markdown parsed back into inline nodes. Blocks the text happens to
// form (a blank line, a heading marker) give up their inline children, joined
// by soft breaks; text that yields no inline node at all stays literal.
Nodes inlineChildren(const std::string& text) {
    Nodes children;
    if (text.empty()) return children;
    const auto document = parsedDocument(text);
    takeOwnershipOfStrings(document.get());
    for (auto* block = cmark_node_first_child(document.get()); block; block = cmark_node_next(block)) {
        Nodes blockInlines;
        for (auto* child = cmark_node_first_child(block); child;) {
            auto* following = cmark_node_next(child);
            if (isInline(child)) {
                cmark_node_unlink(child);
                blockInlines.emplace_back(child);
            }
            child = following;
        }
        if (blockInlines.empty()) continue;
        if (!children.empty()) children.push_back(newNode(CMARK_NODE_SOFTBREAK));
        for (auto& node : blockInlines) children.push_back(std::move(node));
    }
    if (children.empty()) children.push_back(newText(text));
    return children;
}

MarkdownNodeHandle paragraphNode(Nodes children) {
    auto paragraph = newNode(CMARK_NODE_PARAGRAPH);
    appendAll(paragraph.get(), std::move(children));
    return paragraph;
}

std::uint8_t alignmentCode(Paragraph::Table::ColumnAlignment alignment) {
    switch (alignment) {
    case Paragraph::Table::ColumnAlignment::center: return kAlignCenter;
    case Paragraph::Table::ColumnAlignment::right: return kAlignRight;
    case Paragraph::Table::ColumnAlignment::left: break;
    }
    return kAlignNone;
}

MarkdownNodeHandle tableRow(const std::vector<std::string>& cells, std::size_t columnCount, bool isHeader) {
    auto row = newTableNode(CMARK_NODE_TABLE_ROW);
    cmark_gfm_extensions_set_table_row_is_header(row.get(), isHeader ? 1 : 0);
    for (std::size_t column = 0; column < columnCount; ++column) {
        auto cell = newTableCell();
        if (column < cells.size()) {
            appendAll(cell.get(), inlineChildren(PagesText::replacingAll(cells[column], "\n", " ")));
        }
        append(row.get(), std::move(cell));
    }
    return row;
}

// The tree's table keeps its column count in 16 bits; a wider table has no
// node form and is left out.
MarkdownNodeHandle tableMarkup(const Paragraph::Table& table) {
    std::size_t columnCount = 0;
    for (const auto& row : table.cells) columnCount = std::max(columnCount, row.size());
    if (columnCount < 1 || columnCount > std::numeric_limits<std::uint16_t>::max()) return nullptr;

    std::vector<std::uint8_t> alignments(columnCount, kAlignNone);
    for (std::size_t column = 0; column < columnCount && column < table.columnAlignments.size(); ++column) {
        alignments[column] = alignmentCode(table.columnAlignments[column]);
    }
    auto node = newTableNode(CMARK_NODE_TABLE);
    const auto columns = static_cast<std::uint16_t>(columnCount);
    cmark_gfm_extensions_set_table_columns(node.get(), columns);
    cmark_gfm_extensions_set_table_alignments(node.get(), columns, alignments.data());
    for (std::size_t row = 0; row < table.cells.size(); ++row) {
        append(node.get(), tableRow(table.cells[row], columnCount, row == 0));
    }
    return node;
}

MarkdownNodeHandle listNode(bool ordered, Nodes items) {
    auto list = newNode(CMARK_NODE_LIST);
    cmark_node_set_list_type(list.get(), ordered ? CMARK_ORDERED_LIST : CMARK_BULLET_LIST);
    if (ordered) {
        cmark_node_set_list_start(list.get(), kOrderedListStart);
        cmark_node_set_list_delim(list.get(), CMARK_PERIOD_DELIM);
    }
    cmark_node_set_list_tight(list.get(), 1);
    appendAll(list.get(), std::move(items));
    return list;
}

// One level of a list run: the paragraphs [next, end) whose smallest level is
// `base`. Deeper stretches become frames of their own; the walk keeps them on
// an explicit stack so that deep nesting cannot exhaust the call stack.
struct ListFrame {
    std::size_t next = 0;
    std::size_t end = 0;
    int base = 0;
    bool ordered = false;
    Nodes pendingItems;
    Nodes blocks;

    void flush() {
        if (pendingItems.empty()) return;
        blocks.push_back(listNode(ordered, std::move(pendingItems)));
        pendingItems.clear();
    }
};

ListFrame listFrame(const std::vector<const Paragraph*>& run, std::size_t begin, std::size_t end) {
    int base = *run[begin]->listLevel;
    for (auto i = begin; i < end; ++i) base = std::min(base, *run[i]->listLevel);
    return ListFrame{begin, end, base, run[begin]->listOrdered, {}, {}};
}

MarkdownNodeHandle listItem(const Paragraph& paragraph) {
    auto item = newNode(CMARK_NODE_ITEM);
    append(item.get(), paragraphNode(inlineChildren(paragraph.renderedText(true, true, false))));
    return item;
}

Nodes listMarkup(const std::vector<const Paragraph*>& run) {
    if (run.empty()) return {};
    std::vector<ListFrame> stack;
    stack.push_back(listFrame(run, 0, run.size()));
    while (true) {
        auto& frame = stack.back();
        if (frame.next >= frame.end) {
            frame.flush();
            auto blocks = std::move(frame.blocks);
            stack.pop_back();
            if (stack.empty()) return blocks;
            auto& parent = stack.back();
            if (parent.pendingItems.empty()) {
                for (auto& block : blocks) parent.blocks.push_back(std::move(block));
            } else {
                appendAll(parent.pendingItems.back().get(), std::move(blocks));
            }
            continue;
        }
        const auto& paragraph = *run[frame.next];
        if (*paragraph.listLevel > frame.base) {
            auto deeperEnd = frame.next;
            while (deeperEnd < frame.end && *run[deeperEnd]->listLevel > frame.base) ++deeperEnd;
            const auto deeperBegin = frame.next;
            frame.next = deeperEnd;
            stack.push_back(listFrame(run, deeperBegin, deeperEnd));
            continue;
        }
        if (paragraph.listOrdered != frame.ordered) {
            frame.flush();
            frame.ordered = paragraph.listOrdered;
        }
        frame.pendingItems.push_back(listItem(paragraph));
        ++frame.next;
    }
}

MarkdownNodeHandle codeBlock(const std::vector<Paragraph>& paragraphs, std::size_t begin, std::size_t end) {
    std::string code;
    for (auto i = begin; i < end; ++i) {
        if (i > begin) code += "\n";
        code += paragraphs[i].codeText();
    }
    code += "\n";
    auto node = newNode(CMARK_NODE_CODE_BLOCK);
    cmark_node_set_literal(node.get(), code.c_str());
    return node;
}

}  // namespace

MarkdownNodeHandle PagesDocument::markdownDocument() const {
    const auto bodySize = dominantBodyFontSize();
    auto document = newNode(CMARK_NODE_DOCUMENT);
    const auto addTables = [&](const Paragraph& paragraph) {
        for (const auto& table : paragraph.tables) {
            if (table.cells.empty()) continue;
            if (auto node = tableMarkup(table)) append(document.get(), std::move(node));
        }
    };
    // Later paragraphs of a code or list run may anchor tables too; they follow the run.
    const auto addTablesOfRunTail = [&](std::size_t begin, std::size_t end) {
        for (auto i = begin + 1; i < end; ++i) addTables(paragraphs[i]);
    };

    std::size_t i = 0;
    while (i < paragraphs.size()) {
        const auto& paragraph = paragraphs[i];
        addTables(paragraph);
        if (paragraph.isCodeBlock) {
            auto end = i;
            while (end < paragraphs.size() && paragraphs[end].isCodeBlock) ++end;
            append(document.get(), codeBlock(paragraphs, i, end));
            addTablesOfRunTail(i, end);
            i = end;
            continue;
        }
        if (paragraph.listLevel) {
            std::vector<const Paragraph*> run;
            auto end = i;
            while (end < paragraphs.size() && paragraphs[end].listLevel) run.push_back(&paragraphs[end++]);
            appendAll(document.get(), listMarkup(run));
            addTablesOfRunTail(i, end);
            i = end;
            continue;
        }
        ++i;
        const auto level = headingLevel(paragraph, paragraph.normalizedText(), bodySize);
        auto children = inlineChildren(paragraph.renderedText(true, true, level.has_value()));
        if (children.empty()) continue;
        if (level) {
            auto heading = newNode(CMARK_NODE_HEADING);
            cmark_node_set_heading_level(heading.get(), *level);
            appendAll(heading.get(), std::move(children));
            append(document.get(), std::move(heading));
        } else {
            append(document.get(), paragraphNode(std::move(children)));
        }
    }

    auto sorted = footnotes;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.number < b.number; });
    for (const auto& footnote : sorted) {
        Nodes text;
        text.push_back(newText("[^" + std::to_string(footnote.number) + "]: " + footnote.text));
        append(document.get(), paragraphNode(std::move(text)));
    }
    return document;
}

}  // namespace lumaro
