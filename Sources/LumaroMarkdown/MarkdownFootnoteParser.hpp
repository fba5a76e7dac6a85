#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumaro {

// Footnote definitions of a Markdown text: a line that starts, unindented,
// with "[^label]:" opens one; lines indented by a tab or four spaces continue
// it (blank lines inside it are kept when an indented line follows them).
struct MarkdownFootnoteParser {
    struct Definition {
        std::string id;    // the label, trimmed of spaces and tabs
        std::string body;  // the definition's Markdown, lines joined by "\n"
        bool operator==(const Definition&) const = default;
    };

    // A piece of text with its footnote references split out.
    struct Segment {
        enum class Kind { text, reference };
        Kind kind = Kind::text;
        std::string text;          // for Kind::text
        std::int64_t number = 0;   // for Kind::reference: the footnote number

        static Segment ofText(std::string text) { return {Kind::text, std::move(text), 0}; }
        static Segment ofReference(std::int64_t number) { return {Kind::reference, {}, number}; }
        bool operator==(const Segment&) const = default;
    };

    struct Extraction {
        std::string cleaned;  // the text without its definitions, with "\n" line endings
        std::vector<Definition> definitions;  // in text order; the first of an id wins
    };

    static Extraction extractDefinitions(std::string_view markdown);
};

// The module's own form of a definition, as the extractor produces it.
struct FootnoteDefinition {
    std::string id;
    std::string body;
};

struct FootnoteDefinitions {
    std::string cleaned;
    std::vector<FootnoteDefinition> definitions;
};

FootnoteDefinitions extractFootnoteDefinitions(std::string_view text);

struct FootnoteDefinitionStart {
    std::string id;
    std::string firstLineContent;
};

// The label and first-line text of a line that opens a definition, or no value.
std::optional<FootnoteDefinitionStart> parseDefinitionStart(std::string_view line);

}  // namespace lumaro
