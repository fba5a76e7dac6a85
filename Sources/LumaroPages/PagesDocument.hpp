#pragma once

#include <optional>
#include <string>
#include <vector>

#include "LumaroPages/PagesMarkdownAST.hpp"

namespace lumaro {

// The reading side's whole result: body paragraphs with their styling, links,
// footnote references, images and tables, plus footnote texts and image files.
// Every position inside a paragraph counts UTF-16 code units of its `text`.
struct PagesDocument {
    struct Paragraph {
        struct EmphasisSpan {
            int start = 0;  // style begins here and lasts until the next span's start
            bool bold = false;
            bool italic = false;
            bool underline = false;
            bool strike = false;
            bool code = false;
        };

        struct LinkRun {
            int start = 0;
            int end = 0;  // exclusive; a run with end <= start never renders
            std::string url;
        };

        struct FootnoteMarker {
            int offset = 0;  // the reference renders before the scalar at this position
            int number = 0;  // document-wide, from 1
        };

        struct Table {
            enum class ColumnAlignment { left, center, right };
            std::vector<std::vector<std::string>> cells;  // row 0 is the header row
            std::vector<ColumnAlignment> columnAlignments;
        };

        std::string text;
        std::optional<double> fontSize;
        bool bold = false;
        std::optional<int> headingLevel;
        std::vector<std::optional<std::string>> attachmentReferences;  // one per U+FFFC
        std::vector<EmphasisSpan> emphasis;                            // ascending by start
        std::vector<LinkRun> links;
        std::optional<int> listLevel;  // 0 = outermost; absent = not a list item
        bool listOrdered = false;
        std::vector<FootnoteMarker> footnoteMarkers;  // ascending by offset
        std::vector<Table> tables;
        bool isCodeBlock = false;

        // Inline rendering.
        std::string renderedText(bool inliningImages, bool applyingEmphasis, bool suppressingUniformEmphasis) const;
        std::string normalizedText() const;
        std::string codeText() const;
    };

    struct Footnote {
        int number = 0;
        std::string text;
    };

    struct ImageAsset {
        std::string referenceName;  // unique logical file name used by image links
        std::string dataFileName;   // file name under the document's Data/
    };

    std::vector<Paragraph> paragraphs;
    std::vector<ImageAsset> imageAssets;
    std::vector<Footnote> footnotes;

    static std::string markedUp(const std::string& text, bool bold, bool italic, bool underline, bool strike,
                                bool code);

    // Markdown and plain-text output.
    std::string markdown() const;
    std::vector<std::string> plainTextParagraphs() const;
    std::string plainText() const;

    // The document as a Markdown parse tree (a document node).
    MarkdownNodeHandle markdownDocument() const;

private:
    // What heading inference and the body font size need of a paragraph's
    // normalized text, so that each paragraph is normalized once per output.
    struct TextSummary {
        std::size_t characters = 0;  // user-perceived characters
        bool isEmpty = true;
        bool hasLineBreak = false;
        static TextSummary of(const std::string& text);
    };
    std::vector<TextSummary> textSummaries() const;

    // The font size that covers the most characters of the body.
    std::optional<double> dominantBodyFontSize() const;
    std::optional<double> dominantBodyFontSize(const std::vector<TextSummary>& summaries) const;
    // Explicit heading level, or one inferred from the paragraph's size against the body size.
    static std::optional<int> headingLevel(const Paragraph& paragraph, const std::string& text,
                                           std::optional<double> bodySize);
    static std::optional<int> headingLevel(const Paragraph& paragraph, const TextSummary& text,
                                           std::optional<double> bodySize);
    static std::string markdownTable(const Paragraph::Table& table);
};

}  // namespace lumaro
