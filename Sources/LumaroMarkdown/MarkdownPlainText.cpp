#include "LumaroMarkdown/MarkdownPlainText.hpp"

#include "LumaroMarkdown/MarkdownTree.hpp"

namespace lumaro {

namespace {

// Appends one node's own contribution; containers contribute only through
// their children, which the iterator visits in document order.
void appendOwnText(cmark_node* node, std::string& output) {
    switch (markdownNodeKind(node)) {
    case MarkdownNodeKind::text:
    case MarkdownNodeKind::inlineCode:
    case MarkdownNodeKind::inlineHTML:
        output += nodeLiteral(node);
        break;
    case MarkdownNodeKind::softBreak:
    case MarkdownNodeKind::lineBreak:
        output += ' ';
        break;
    default:
        break;
    }
}

void walkInlineForPlainText(cmark_node* node, std::string& output) {
    cmark_iter* iterator = cmark_iter_new(node);
    for (cmark_event_type event = cmark_iter_next(iterator); event != CMARK_EVENT_DONE;
         event = cmark_iter_next(iterator)) {
        if (event == CMARK_EVENT_ENTER) {
            appendOwnText(cmark_iter_get_node(iterator), output);
        }
    }
    cmark_iter_free(iterator);
}

}  // namespace

std::string markdownPlainText(cmark_node* node) {
    std::string output;
    if (node != nullptr) {
        walkInlineForPlainText(node, output);
    }
    return output;
}

}  // namespace lumaro
