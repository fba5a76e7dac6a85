#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include <cmark-gfm.h>

namespace lumaro {

// Renders Markdown as an HTML fragment (body content only: no document
// wrapper, head or style sheet) with fixed markup for every node kind. Text is
// escaped; raw HTML is escaped too unless `passThroughRawHTML` is given. Block
// quotes that open with an alert marker ("[!NOTE]", "Tip:") become
// <aside class="markdown-alert ..."> elements. The result never ends with a
// line feed. Conversion cannot fail.
struct MarkdownHTMLRenderer {
    // A set of flags with the set algebra of an option set.
    struct Options {
        std::int64_t rawValue;

        constexpr Options() : rawValue(0) {}
        constexpr explicit Options(std::int64_t raw) : rawValue(raw) {}
        constexpr Options(std::initializer_list<Options> flags) : rawValue(0) {
            for (const Options flag : flags) {
                rawValue |= flag.rawValue;
            }
        }

        // HTML blocks and inline HTML are copied unchanged instead of escaped.
        static const Options passThroughRawHTML;
        // Empty elements in XHTML form ("<br />", "<hr />", "<img ... />",
        // check boxes with disabled="disabled").
        static const Options xhtml;

        struct InsertResult;

        constexpr Options unionWith(Options other) const { return Options(rawValue | other.rawValue); }
        constexpr Options intersection(Options other) const { return Options(rawValue & other.rawValue); }
        constexpr Options symmetricDifference(Options other) const { return Options(rawValue ^ other.rawValue); }
        constexpr bool contains(Options member) const { return (rawValue & member.rawValue) == member.rawValue; }
        constexpr bool isSubset(Options other) const { return (rawValue & ~other.rawValue) == 0; }
        constexpr bool isSuperset(Options other) const { return other.isSubset(*this); }
        constexpr bool isDisjoint(Options other) const { return (rawValue & other.rawValue) == 0; }
        constexpr bool isEmpty() const { return rawValue == 0; }

        // Adds the member; `inserted` is false when it was already contained.
        InsertResult insert(Options member);
        // Takes the member out; returns the part of it that was contained, if any.
        std::optional<Options> remove(Options member);
        // Adds the member; returns the part of it that was already contained, if any.
        std::optional<Options> update(Options member);

        constexpr Options operator|(Options other) const { return unionWith(other); }
        constexpr Options operator&(Options other) const { return intersection(other); }
        constexpr Options operator^(Options other) const { return symmetricDifference(other); }
        constexpr bool operator==(const Options&) const = default;
    };

    // Parses the text (table, strike-through and task-list extensions, no
    // smart punctuation) and renders the document.
    static std::string convert(std::string_view markdown, Options options = {});
    // Renders a parsed tree. The node is normally a document; any other node is
    // rendered as it would be inside one. A null node renders as "".
    static std::string convert(cmark_node* document, Options options = {});
};

struct MarkdownHTMLRenderer::Options::InsertResult {
    bool inserted;
    Options memberAfterInsert;
};

inline constexpr MarkdownHTMLRenderer::Options MarkdownHTMLRenderer::Options::passThroughRawHTML(1);
inline constexpr MarkdownHTMLRenderer::Options MarkdownHTMLRenderer::Options::xhtml(2);

}  // namespace lumaro
