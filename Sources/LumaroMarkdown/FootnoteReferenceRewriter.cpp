#include "LumaroMarkdown/FootnoteReferenceRewriter.hpp"

#include "LumaroMarkdown/MarkdownTree.hpp"

namespace lumaro {

std::string FootnoteReferenceRewriter::replaceReferences(std::string_view text) {
    std::string replaced;
    const auto events = scanFootnoteReferences(text, [this](std::string_view id) { return state_.recordReference(id); });
    for (const FootnoteScanEvent& event : events) {
        if (event.kind == FootnoteScanEvent::Kind::literal) {
            replaced += event.literal;
        } else {
            replaced.append(kFootnoteSentinelStart)
                .append(kFootnoteSentinelPrefix)
                .append(std::to_string(event.reference))
                .append(kFootnoteSentinelEnd);
        }
    }
    return replaced;
}

void FootnoteReferenceRewriter::rewrite(cmark_node* tree) {
    if (tree == nullptr) {
        return;
    }
    cmark_iter* iterator = cmark_iter_new(tree);
    for (cmark_event_type event = cmark_iter_next(iterator); event != CMARK_EVENT_DONE;
         event = cmark_iter_next(iterator)) {
        cmark_node* node = cmark_iter_get_node(iterator);
        if (event != CMARK_EVENT_ENTER || markdownNodeKind(node) != MarkdownNodeKind::text) {
            continue;
        }
        const std::string_view text = nodeLiteral(node);
        if (text.find("[^") == std::string_view::npos) {
            continue;
        }
        const std::string replaced = replaceReferences(text);
        if (replaced != text) {
            cmark_node_set_literal(node, replaced.c_str());
        }
    }
    cmark_iter_free(iterator);
}

}  // namespace lumaro
