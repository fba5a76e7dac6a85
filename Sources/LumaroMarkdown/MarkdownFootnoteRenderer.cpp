#include "LumaroMarkdown/MarkdownFootnoteRenderer.hpp"

#include <algorithm>
#include <charconv>
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
        const auto end = html.find(kFootnoteSentinelEnd, insideStart);
        if (end == std::string_view::npos) {
            expanded += html.substr(position);
            return expanded;
        }
        const auto innerStart = html.find(kFootnoteSentinelStart, insideStart);
        if (innerStart < end) {
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

// Renders every referenced definition, pass after pass, until a pass finds
// nothing new: a definition referenced only from another definition's body is
// numbered once that body has been rendered.
std::vector<RenderedDefinition> renderReferencedDefinitions(const std::vector<FootnoteDefinition>& definitions,
                                                            FootnoteState& state, Options options) {
    std::vector<RenderedDefinition> rendered;
    std::vector<bool> done(definitions.size(), false);
    for (bool renderedAny = true; renderedAny;) {
        renderedAny = false;
        for (std::size_t i = 0; i < definitions.size(); ++i) {
            if (done[i]) {
                continue;
            }
            const auto number = state.numberByID().find(definitions[i].id);
            if (number == state.numberByID().end()) {
                continue;
            }
            const std::int64_t footnoteNumber = number->second;
            rendered.push_back({footnoteNumber, renderRewritten(definitions[i].body, state, options)});
            done[i] = true;
            renderedAny = true;
        }
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
