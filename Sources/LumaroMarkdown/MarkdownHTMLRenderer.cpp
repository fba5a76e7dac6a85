#include "LumaroMarkdown/MarkdownHTMLRenderer.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include <cmark-gfm-core-extensions.h>

#include "LumaroMarkdown/MarkdownPlainText.hpp"
#include "LumaroMarkdown/MarkdownTree.hpp"
#include "LumaroMarkdown/UnicodeScalars.hpp"

namespace lumaro {

using Options = MarkdownHTMLRenderer::Options;

MarkdownHTMLRenderer::Options::InsertResult MarkdownHTMLRenderer::Options::insert(Options member) {
    const Options before = intersection(member);
    if (before == member) {
        return {false, before};
    }
    rawValue |= member.rawValue;
    return {true, member};
}

std::optional<Options> MarkdownHTMLRenderer::Options::remove(Options member) {
    const Options removed = intersection(member);
    rawValue &= ~member.rawValue;
    return removed.isEmpty() ? std::nullopt : std::optional<Options>(removed);
}

std::optional<Options> MarkdownHTMLRenderer::Options::update(Options member) {
    const Options before = intersection(member);
    rawValue |= member.rawValue;
    return before.isEmpty() ? std::nullopt : std::optional<Options>(before);
}

namespace {

constexpr int kLowestHeadingLevel = 1;
constexpr int kHighestHeadingLevel = 6;

// Column alignment codes of the table extension.
constexpr char kAlignCenter = 'c';
constexpr char kAlignRight = 'r';

// Escapes byte by byte: the characters to escape are ASCII, and a combining
// mark after a quote or an angle bracket must not keep it from being escaped.
std::string escapeHTMLWith(std::string_view text, bool escapeQuote) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"':
            escaped += escapeQuote ? std::string_view("&quot;") : std::string_view("\"");
            break;
        default: escaped += c; break;
        }
    }
    return escaped;
}

// For attribute values.
std::string escapeHTML(std::string_view text) {
    return escapeHTMLWith(text, true);
}

// For element content.
std::string escapeHTMLNotQuote(std::string_view text) {
    return escapeHTMLWith(text, false);
}

std::string_view withoutTrailingLineFeeds(std::string_view text) {
    while (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    return text;
}

struct AlertStyle {
    std::string_view token;  // upper case
    std::string_view title;
    std::string_view role;
};

constexpr std::array<AlertStyle, 6> kAlertStyles = {{
    {"NOTE", "Note", "note"},
    {"TIP", "Tip", "note"},
    {"IMPORTANT", "Important", "note"},
    {"WARNING", "Warning", "alert"},
    {"CAUTION", "Caution", "alert"},
    {"EXPERIMENT", "Experiment", "note"},
}};

// The one visitor of a conversion. The tree is walked without recursion (a
// node's opening markup on the way down, its closing markup on the way up), so
// that deeply nested quotes, lists or emphasis cannot exhaust the stack.
class HTMLRenderer {
public:
    struct GitHubAlert {
        std::string kind;
        std::string title;
        std::string role;
        std::string markerTerminator;
        cmark_node* body = nullptr;
    };

    explicit HTMLRenderer(Options options) : options_(options) {}

    std::string render(cmark_node* root);

private:
    // What a node left to do when the walk leaves it.
    struct OpenNode {
        std::string closing;
        bool popsTable = false;
        bool popsRow = false;
        bool popsAlert = false;
    };

    // A table row whose cells are written as elements, with the next column.
    struct RowCells {
        cmark_node* row;
        std::string_view tag;  // "th" or "td"
        std::size_t nextColumn = 0;
    };

    struct AlertInProgress {
        GitHubAlert alert;
        std::vector<cmark_node*> droppedChildren;  // marker text and the soft break after it
    };

    // Writes the node's opening output; returns false when its children are
    // not to be visited (leaves, images, skipped nodes).
    bool enter(cmark_node* node, OpenNode& open);
    void leave(OpenNode& open);

    bool enterParagraph(cmark_node* node, OpenNode& open);
    bool enterAlertTitleParagraph(cmark_node* node, AlertInProgress& alert, OpenNode& open);
    void enterCodeBlock(cmark_node* node);
    void enterListItem(cmark_node* node, OpenNode& open);
    void enterBlockQuote(cmark_node* node, OpenNode& open);
    void enterTable(cmark_node* node, OpenNode& open);
    bool enterTableRow(cmark_node* node, OpenNode& open);
    bool enterTableCell(cmark_node* node, OpenNode& open);
    void enterImage(cmark_node* node);
    void writeRawHTML(std::string_view html);
    bool isDropped(cmark_node* node) const;

    static std::optional<GitHubAlert> githubAlert(cmark_node* blockQuote);
    // The literal of the text node that opens the block quote's first
    // paragraph, where alert and aside markers stand.
    static std::optional<std::string_view> leadingText(cmark_node* blockQuote);
    static std::optional<std::string> bracketedAlertToken(cmark_node* blockQuote);
    static std::optional<std::string> doccAsideToken(cmark_node* blockQuote);
    void emitGitHubAlert(const GitHubAlert& alert);

    Options options_;
    std::string output_;
    std::vector<std::vector<char>> alignmentStack_;
    std::vector<RowCells> rowStack_;
    std::vector<AlertInProgress> alertStack_;
};

std::string HTMLRenderer::render(cmark_node* root) {
    std::vector<OpenNode> open;
    cmark_node* node = root;
    while (node != nullptr) {
        open.emplace_back();
        cmark_node* child = enter(node, open.back()) ? cmark_node_first_child(node) : nullptr;
        if (child != nullptr) {
            node = child;
            continue;
        }
        // Leave this node and every ancestor that has no further child.
        for (;;) {
            leave(open.back());
            open.pop_back();
            if (node == root) {
                return std::move(output_);
            }
            if (cmark_node* next = cmark_node_next(node)) {
                node = next;
                break;
            }
            node = cmark_node_parent(node);
        }
    }
    return std::move(output_);
}

void HTMLRenderer::leave(OpenNode& open) {
    output_ += open.closing;
    if (open.popsTable) {
        alignmentStack_.pop_back();
    }
    if (open.popsRow) {
        rowStack_.pop_back();
    }
    if (open.popsAlert) {
        alertStack_.pop_back();
    }
}

bool HTMLRenderer::enter(cmark_node* node, OpenNode& open) {
    if (isDropped(node)) {
        return false;
    }
    cmark_node* parent = cmark_node_parent(node);
    if (parent != nullptr && markdownNodeKind(parent) == MarkdownNodeKind::document &&
        cmark_node_previous(node) != nullptr) {
        output_ += '\n';  // top-level blocks are separated by one line feed
    }
    const bool xhtml = options_.contains(Options::xhtml);
    switch (markdownNodeKind(node)) {
    case MarkdownNodeKind::paragraph: return enterParagraph(node, open);
    case MarkdownNodeKind::heading: {
        const std::string level =
            std::to_string(std::clamp(cmark_node_get_heading_level(node), kLowestHeadingLevel, kHighestHeadingLevel));
        output_ += "<h" + level + ">";
        open.closing = "</h" + level + ">";
        return true;
    }
    case MarkdownNodeKind::emphasis:
        output_ += "<em>";
        open.closing = "</em>";
        return true;
    case MarkdownNodeKind::strong:
        output_ += "<strong>";
        open.closing = "</strong>";
        return true;
    case MarkdownNodeKind::strikethrough:
        output_ += "<del>";
        open.closing = "</del>";
        return true;
    case MarkdownNodeKind::text: output_ += escapeHTMLNotQuote(nodeLiteral(node)); return false;
    case MarkdownNodeKind::inlineCode:
        output_ += "<code>" + escapeHTMLNotQuote(nodeLiteral(node)) + "</code>";
        return false;
    case MarkdownNodeKind::softBreak: output_ += '\n'; return false;
    case MarkdownNodeKind::lineBreak: output_ += xhtml ? "<br />" : "<br>"; return false;
    case MarkdownNodeKind::thematicBreak: output_ += xhtml ? "<hr />" : "<hr>"; return false;
    case MarkdownNodeKind::link: {
        const char* url = cmark_node_get_url(node);
        output_ += "<a href=\"" + escapeHTML(url ? url : "") + "\">";
        open.closing = "</a>";
        return true;
    }
    case MarkdownNodeKind::image: enterImage(node); return false;
    case MarkdownNodeKind::codeBlock: enterCodeBlock(node); return false;
    case MarkdownNodeKind::htmlBlock: writeRawHTML(withoutTrailingLineFeeds(nodeLiteral(node))); return false;
    case MarkdownNodeKind::inlineHTML: writeRawHTML(nodeLiteral(node)); return false;
    case MarkdownNodeKind::unorderedList:
        output_ += "<ul>";
        open.closing = "</ul>";
        return true;
    case MarkdownNodeKind::orderedList:
        output_ += "<ol>";
        open.closing = "</ol>";
        return true;
    case MarkdownNodeKind::listItem: enterListItem(node, open); return true;
    case MarkdownNodeKind::blockQuote: enterBlockQuote(node, open); return true;
    case MarkdownNodeKind::table: enterTable(node, open); return true;
    case MarkdownNodeKind::tableRow: return enterTableRow(node, open);
    case MarkdownNodeKind::tableCell: return enterTableCell(node, open);
    default: return true;  // the document and unknown kinds: children only
    }
}

bool HTMLRenderer::isDropped(cmark_node* node) const {
    if (alertStack_.empty()) {
        return false;
    }
    const auto& dropped = alertStack_.back().droppedChildren;
    return std::find(dropped.begin(), dropped.end(), node) != dropped.end();
}

bool HTMLRenderer::enterParagraph(cmark_node* node, OpenNode& open) {
    cmark_node* parent = cmark_node_parent(node);
    if (parent != nullptr && markdownNodeKind(parent) == MarkdownNodeKind::listItem &&
        cmark_node_first_child(parent) == node && cmark_node_last_child(parent) == node) {
        return true;  // the only paragraph of an item: its inlines only
    }
    if (!alertStack_.empty() && alertStack_.back().alert.body == parent && cmark_node_first_child(parent) == node) {
        return enterAlertTitleParagraph(node, alertStack_.back(), open);
    }
    output_ += "<p>";
    open.closing = "</p>";
    return true;
}

// The first paragraph of an alert loses its marker ("[!NOTE]" or "Tip:") and
// one space after it; when nothing is left of its first line, the soft break
// that ended that line goes too.
bool HTMLRenderer::enterAlertTitleParagraph(cmark_node* node, AlertInProgress& alert, OpenNode& open) {
    cmark_node* first = cmark_node_first_child(node);
    if (first == nullptr) {
        return false;
    }
    if (markdownNodeKind(first) != MarkdownNodeKind::text) {
        output_ += "<p>";
        open.closing = "</p>";
        return true;
    }
    std::string_view rest = nodeLiteral(first);
    if (const auto marker = rest.find(alert.alert.markerTerminator); marker != std::string_view::npos) {
        rest.remove_prefix(marker + alert.alert.markerTerminator.size());
        if (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
    }
    alert.droppedChildren.push_back(first);
    if (!rest.empty()) {
        output_ += "<p>" + escapeHTMLNotQuote(rest);
        open.closing = "</p>";
        return true;
    }
    cmark_node* remaining = cmark_node_next(first);
    if (remaining != nullptr && markdownNodeKind(remaining) == MarkdownNodeKind::softBreak) {
        alert.droppedChildren.push_back(remaining);
        remaining = cmark_node_next(remaining);
    }
    if (remaining == nullptr) {
        return false;
    }
    output_ += "<p>";
    open.closing = "</p>";
    return true;
}

void HTMLRenderer::enterCodeBlock(cmark_node* node) {
    std::string_view code = nodeLiteral(node);
    if (!code.empty() && code.back() == '\n') {
        code.remove_suffix(1);  // only the last one
    }
    const char* info = cmark_node_get_fence_info(node);
    if (info != nullptr && *info != '\0') {
        output_ += "<pre><code class=\"language-" + escapeHTML(info) + "\">";
    } else {
        output_ += "<pre><code>";
    }
    output_ += escapeHTMLNotQuote(code);
    output_ += "</code></pre>";
}

void HTMLRenderer::enterListItem(cmark_node* node, OpenNode& open) {
    open.closing = "</li>";
    const std::optional<bool> checked = taskListItemState(node);
    if (!checked) {
        output_ += "<li>";
        return;
    }
    output_ += "<li class=\"task-list-item\">";
    if (options_.contains(Options::xhtml)) {
        output_ += *checked ? "<input type=\"checkbox\" disabled=\"disabled\" checked=\"checked\" />"
                            : "<input type=\"checkbox\" disabled=\"disabled\" />";
    } else {
        output_ += *checked ? "<input type=\"checkbox\" disabled checked>" : "<input type=\"checkbox\" disabled>";
    }
    output_ += ' ';
}

void HTMLRenderer::enterBlockQuote(cmark_node* node, OpenNode& open) {
    if (std::optional<GitHubAlert> alert = githubAlert(node)) {
        emitGitHubAlert(*alert);
        alertStack_.push_back({std::move(*alert), {}});
        open.closing = "</aside>";
        open.popsAlert = true;
        return;
    }
    output_ += "<blockquote>";
    open.closing = "</blockquote>";
}

void HTMLRenderer::enterTable(cmark_node* node, OpenNode& open) {
    const std::uint16_t columns = cmark_gfm_extensions_get_table_columns(node);
    const std::uint8_t* alignments = cmark_gfm_extensions_get_table_alignments(node);
    std::vector<char> columnAlignments;
    if (alignments != nullptr) {
        columnAlignments.assign(alignments, alignments + columns);
    }
    alignmentStack_.push_back(std::move(columnAlignments));
    open.popsTable = true;
    open.closing = "</tbody></table>";
    output_ += "<table>\n";
    cmark_node* first = cmark_node_first_child(node);
    if (first == nullptr || !isTableHeaderRow(first)) {
        output_ += "<thead><tr></tr></thead>\n<tbody>\n";  // a table always shows its head
    }
}

// Inside a table the first row, when it is the header row, is the head and
// every other row a body row; a row met anywhere else writes its cells as a
// head when it is a header row and only their content otherwise.
bool HTMLRenderer::enterTableRow(cmark_node* node, OpenNode& open) {
    cmark_node* parent = cmark_node_parent(node);
    const bool inTable = parent != nullptr && markdownNodeKind(parent) == MarkdownNodeKind::table;
    const bool isHead = isTableHeaderRow(node) && (!inTable || cmark_node_first_child(parent) == node);
    if (isHead) {
        output_ += "<thead><tr>";
        open.closing = inTable ? "</tr></thead>\n<tbody>\n" : "</tr></thead>";
        rowStack_.push_back({node, "th"});
    } else if (inTable) {
        output_ += "<tr>";
        open.closing = "</tr>\n";
        rowStack_.push_back({node, "td"});
    } else {
        return true;
    }
    open.popsRow = true;
    return true;
}

bool HTMLRenderer::enterTableCell(cmark_node* node, OpenNode& open) {
    const bool cellOfRow = !rowStack_.empty() && rowStack_.back().row == cmark_node_parent(node);
    if (!cellOfRow) {
        return true;
    }
    RowCells& row = rowStack_.back();
    const std::size_t column = row.nextColumn++;
    std::string_view style;
    if (!alignmentStack_.empty() && column < alignmentStack_.back().size()) {
        const char alignment = alignmentStack_.back()[column];
        if (alignment == kAlignCenter) {
            style = " style=\"text-align: center;\"";
        } else if (alignment == kAlignRight) {
            style = " style=\"text-align: right;\"";
        }
    }
    output_.append("<").append(row.tag).append(style).append(">");
    open.closing.append("</").append(row.tag).append(">");
    return true;
}

void HTMLRenderer::enterImage(cmark_node* node) {
    const char* url = cmark_node_get_url(node);
    output_ += "<img src=\"" + escapeHTML(url ? url : "") + "\" alt=\"" + escapeHTML(markdownPlainText(node)) + "\"";
    output_ += options_.contains(Options::xhtml) ? " />" : ">";
}

void HTMLRenderer::writeRawHTML(std::string_view html) {
    if (options_.contains(Options::passThroughRawHTML)) {
        output_ += html;
    } else {
        output_ += escapeHTMLNotQuote(html);
    }
}

std::optional<std::string_view> HTMLRenderer::leadingText(cmark_node* blockQuote) {
    cmark_node* paragraph = cmark_node_first_child(blockQuote);
    if (paragraph == nullptr || markdownNodeKind(paragraph) != MarkdownNodeKind::paragraph) {
        return std::nullopt;
    }
    cmark_node* first = cmark_node_first_child(paragraph);
    if (first == nullptr || markdownNodeKind(first) != MarkdownNodeKind::text) {
        return std::nullopt;
    }
    return nodeLiteral(first);
}

std::optional<std::string> HTMLRenderer::bracketedAlertToken(cmark_node* blockQuote) {
    const auto leading = leadingText(blockQuote);
    if (!leading) return std::nullopt;
    const std::string_view text = *leading;
    const auto close = text.find(']');
    if (!text.starts_with("[!") || close == std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(text.substr(2, close - 2));
}

std::optional<std::string> HTMLRenderer::doccAsideToken(cmark_node* blockQuote) {
    const auto leading = leadingText(blockQuote);
    if (!leading) return std::nullopt;
    const std::string_view text = *leading;
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || containsWhiteSpace(text.substr(0, colon))) {
        return std::nullopt;
    }
    return std::string(text.substr(0, colon));
}

std::optional<HTMLRenderer::GitHubAlert> HTMLRenderer::githubAlert(cmark_node* blockQuote) {
    std::string_view terminator = "]";
    std::optional<std::string> token = bracketedAlertToken(blockQuote);
    if (!token) {
        token = doccAsideToken(blockQuote);
        terminator = ":";
    }
    if (!token) {
        return std::nullopt;
    }
    const std::string upper = uppercased(*token);
    for (const AlertStyle& style : kAlertStyles) {
        if (upper == style.token) {
            return GitHubAlert{lowercased(*token), std::string(style.title), std::string(style.role), std::string(terminator),
                               blockQuote};
        }
    }
    return std::nullopt;
}

void HTMLRenderer::emitGitHubAlert(const GitHubAlert& alert) {
    output_ += "<aside class=\"markdown-alert markdown-alert-" + alert.kind + "\" data-alert=\"" + alert.kind +
               "\" role=\"" + alert.role + "\">";
    output_ += "<p class=\"markdown-alert-title\">" + alert.title + "</p>";
}

}  // namespace

std::string MarkdownHTMLRenderer::convert(std::string_view markdown, Options options) {
    const MarkdownTree document = parseMarkdown(markdown);
    return convert(document.get(), options);
}

std::string MarkdownHTMLRenderer::convert(cmark_node* document, Options options) {
    if (document == nullptr) {
        return {};
    }
    std::string output = HTMLRenderer(options).render(document);
    while (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    return output;
}

}  // namespace lumaro
