#include "LumaroMarkdown/MarkdownFootnoteRenderer.hpp"

#include <algorithm>
#include <charconv>
#include <map>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "LumaroMarkdown/FootnoteReferenceRewriter.hpp"
#include "LumaroMarkdown/FootnoteState.hpp"
#include "LumaroMarkdown/MarkdownFootnoteParser.hpp"
#include "LumaroMarkdown/MarkdownTree.hpp"
#include "LumaroMarkdown/UnicodeScalars.hpp"

namespace lumaro {

namespace {

using Options = MarkdownHTMLRenderer::Options;

constexpr std::string_view kParagraphOpen = "<p>";
constexpr std::string_view kParagraphClose = "</p>";

struct RenderedDefinition {
    std::int64_t number;
    std::string html;
};

std::string renderRewritten(std::string_view markdown, FootnoteState& state, Options options) {
    const MarkdownTree document = parseMarkdown(markdown);
    FootnoteReferenceRewriter(state).rewrite(document.get());
    return MarkdownHTMLRenderer::convert(document.get(), options);
}

// "+3", "-0", "12": an optional sign and decimal digits that fit 64 bits.
std::optional<std::int64_t> parseSignedDecimal(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) {
            return std::nullopt;
        }
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The footnote number of a sentinel's inside ("fnref:N"), or no value.
std::optional<std::int64_t> sentinelNumber(std::string_view inside) {
    if (!inside.starts_with(kFootnoteSentinelPrefix)) {
        return std::nullopt;
    }
    return parseSignedDecimal(inside.substr(kFootnoteSentinelPrefix.size()));
}

// Turns each sentinel into its reference link, handing out anchors in order.
// A run that holds no valid sentinel is copied unchanged; a start mark with a
// further start mark before the next end mark is copied as text, so that a
// stray U+E000 in the document cannot swallow a real reference after it.
std::string expandSentinels(std::string_view html, FootnoteState& state) {
    if (html.find(kFootnoteSentinelStart) == std::string_view::npos) {
        return std::string(html);
    }
    std::string expanded;
    expanded.reserve(html.size());
    std::size_t position = 0;
    for (;;) {
        const auto start = html.find(kFootnoteSentinelStart, position);
        if (start == std::string_view::npos) {
            expanded += html.substr(position);
            return expanded;
        }
        const std::size_t insideStart = start + kFootnoteSentinelStart.size();
        // The end mark is looked for only up to the next start mark, which
        // keeps the scan linear however many marks the text holds.
        const auto innerStart = html.find(kFootnoteSentinelStart, insideStart);
        const std::string_view searched = html.substr(0, innerStart);
        const auto end = searched.find(kFootnoteSentinelEnd, insideStart);
        if (end == std::string_view::npos) {
            if (innerStart == std::string_view::npos) {
                expanded += html.substr(position);
                return expanded;
            }
            expanded += html.substr(position, innerStart - position);
            position = innerStart;
            continue;
        }
        expanded += html.substr(position, start - position);
        const std::size_t after = end + kFootnoteSentinelEnd.size();
        if (const auto number = sentinelNumber(html.substr(insideStart, end - insideStart))) {
            const std::string n = std::to_string(*number);
            expanded += "<sup><a href=\"#fn-" + n + "\" id=\"" + state.nextReferenceAnchorID(*number) + "\">[" + n +
                        "]</a></sup>";
        } else {
            expanded += html.substr(start, after - start);
        }
        position = after;
    }
}

std::string renderDefinition(std::int64_t number, std::string_view body, FootnoteState& state) {
    const std::string expanded = expandSentinels(body, state);
    const std::string_view html = trimmed(expanded, isWhitespaceOrNewline);
    const std::string n = std::to_string(number);
    const std::string opening = "<div class=\"footnote-definition\" id=\"fn-" + n + "\"><strong>[" + n + "]:</strong>";
    const bool singleParagraph = html.size() >= kParagraphOpen.size() + kParagraphClose.size() &&
                                 html.starts_with(kParagraphOpen) && html.ends_with(kParagraphClose) &&
                                 html.find(kParagraphClose) == html.size() - kParagraphClose.size();
    if (singleParagraph) {
        const std::string_view inner =
            html.substr(kParagraphOpen.size(), html.size() - kParagraphOpen.size() - kParagraphClose.size());
        return opening + " " + std::string(inner) + "</div>";
    }
    if (html.empty()) {
        return opening + "</div>";
    }
    return "<div class=\"footnote-definition\" id=\"fn-" + n + "\"><p><strong>[" + n + "]:</strong></p>" +
           std::string(html) + "</div>";
}

std::string renderDefinitionsBlock(std::vector<RenderedDefinition> definitions, FootnoteState& state) {
    std::stable_sort(definitions.begin(), definitions.end(),
                     [](const RenderedDefinition& a, const RenderedDefinition& b) { return a.number < b.number; });
    std::string block;
    for (std::size_t i = 0; i < definitions.size(); ++i) {
        if (i > 0) {
            block += '\n';
        }
        block += renderDefinition(definitions[i].number, definitions[i].html, state);
    }
    return block;
}

// Renders every referenced definition, pass after pass over the definitions
// in text order, until a pass finds nothing new: a definition referenced only
// from another definition's body is rendered later in the same pass when it
// comes after that body, else in the next pass. The passes are followed with a
// cursor over the definitions that are numbered and not yet rendered, so that
// a long chain of definitions referring to one another costs no rescans.
std::vector<RenderedDefinition> renderReferencedDefinitions(const std::vector<FootnoteDefinition>& definitions,
                                                            FootnoteState& state, Options options) {
    std::map<std::string_view, std::size_t> indexByID;
    for (std::size_t i = 0; i < definitions.size(); ++i) {
        indexByID.emplace(definitions[i].id, i);
    }
    std::set<std::size_t> ready;  // numbered, not yet rendered
    std::size_t numberedSeen = 0;
    const auto collectNewlyNumbered = [&] {
        const auto& ids = state.idsInNumberOrder();
        for (; numberedSeen < ids.size(); ++numberedSeen) {
            if (const auto found = indexByID.find(ids[numberedSeen]); found != indexByID.end()) {
                ready.insert(found->second);
            }
        }
    };
    collectNewlyNumbered();

    std::vector<RenderedDefinition> rendered;
    std::size_t cursor = 0;
    while (!ready.empty()) {
        auto next = ready.lower_bound(cursor);
        if (next == ready.end()) {
            next = ready.begin();  // the pass is over; the next one starts from the first definition
        }
        const std::size_t index = *next;
        ready.erase(next);
        const FootnoteDefinition& definition = definitions[index];
        const std::int64_t number = state.numberByID().find(definition.id)->second;
        rendered.push_back({number, renderRewritten(definition.body, state, options)});
        cursor = index + 1;
        collectNewlyNumbered();
    }
    return rendered;
}

}  // namespace

std::string MarkdownFootnoteRenderer::convert(std::string_view markdown, Options options) {
    const FootnoteDefinitions extracted = extractFootnoteDefinitions(markdown);
    if (extracted.definitions.empty()) {
        return MarkdownHTMLRenderer::convert(std::string_view(extracted.cleaned), options);
    }
    std::set<std::string, std::less<>> ids;
    for (const FootnoteDefinition& definition : extracted.definitions) {
        ids.insert(definition.id);
    }
    FootnoteState state(std::move(ids));
    const std::string mainHTML = renderRewritten(extracted.cleaned, state, options);
    std::vector<RenderedDefinition> definitions = renderReferencedDefinitions(extracted.definitions, state, options);
    std::string result = expandSentinels(mainHTML, state);
    const std::string block = renderDefinitionsBlock(std::move(definitions), state);
    if (!block.empty()) {
        result += '\n';
        result += block;
    }
    return result;
}

}  // namespace lumaro
