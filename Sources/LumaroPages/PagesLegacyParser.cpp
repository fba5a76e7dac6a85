#include "LumaroPages/PagesLegacyParser.hpp"

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "LumaroIWA/IWALegacyTableReader.hpp"
#include "LumaroIWA/XMLEventParser.hpp"
#include "LumaroPages/PagesFile.hpp"

namespace lumaro {

namespace {

// Local names (the part after the prefix) of the elements and attributes read.
constexpr std::string_view kTextStorageElement = "text-storage";
constexpr std::string_view kParagraphStyleElement = "paragraphstyle";
constexpr std::string_view kParagraphElement = "p";
constexpr std::string_view kGhostTextElement = "ghost-text";
constexpr std::string_view kTabElement = "tab";
constexpr std::string_view kLineBreakElements[] = {"br", "lnbr", "crbr", "pgbr", "line-break"};
constexpr std::string_view kKindAttribute = "kind";
constexpr std::string_view kStyleAttribute = "style";
constexpr std::string_view kNameAttribute = "name";
constexpr std::string_view kParentIdentAttribute = "parent-ident";
constexpr std::string_view kIDAttribute = "ID";
constexpr std::string_view kIdentAttribute = "ident";

// Only paragraphs of the document's body flow are read: text boxes, headers
// and footers have storages of other kinds.
constexpr std::string_view kBodyStorageKind = "body";

// Parent chains longer than this are taken as loops and give no name.
constexpr int kMaximumStyleDepth = 15;

std::string_view localName(std::string_view name) {
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool isLineBreak(std::string_view name) {
    for (const auto breakName : kLineBreakElements) {
        if (name == breakName) return true;
    }
    return false;
}

// Follows the parse of index.xml, collecting the body paragraphs and the
// paragraph styles that name them.
class LegacyExtractor final : public XMLEventHandler {
public:
    struct StyleRecord {
        std::optional<std::string> name;
        std::optional<std::string> parentIdent;
    };

    struct RawParagraph {
        std::string text;
        std::optional<std::string> styleRef;
    };

    void startElement(std::string_view qualifiedName, const XMLAttributes& attributes) override {
        const auto name = localName(qualifiedName);
        if (name == kTextStorageElement) {
            const bool isBody = attribute(attributes, kKindAttribute).value_or("") == kBodyStorageKind;
            storageIsBody_.push_back(isBody);
            if (isBody) ++openBodyStorages_;
        } else if (name == kParagraphStyleElement) {
            recordStyle(attributes);
        } else if (name == kParagraphElement) {
            if (openBodyStorages_ > 0) {
                auto style = attribute(attributes, kStyleAttribute);
                currentParagraph_ = RawParagraph{{}, style ? std::optional<std::string>(*style) : std::nullopt};
            }
        } else if (name == kGhostTextElement) {
            if (currentParagraph_) ++ghostTextDepth_;
        } else if (isLineBreak(name)) {
            appendText("\n");
        } else if (name == kTabElement) {
            appendText("\t");
        }
    }

    void characters(std::string_view text) override { appendText(text); }

    void endElement(std::string_view qualifiedName) override {
        const auto name = localName(qualifiedName);
        if (name == kTextStorageElement) {
            if (!storageIsBody_.empty()) {
                if (storageIsBody_.back()) --openBodyStorages_;
                storageIsBody_.pop_back();
            }
        } else if (name == kParagraphElement) {
            if (currentParagraph_) {
                paragraphs_.push_back(std::move(*currentParagraph_));
                currentParagraph_.reset();
            }
        } else if (name == kGhostTextElement) {
            if (ghostTextDepth_ >= 1) --ghostTextDepth_;
        }
    }

    std::vector<PagesDocument::Paragraph> makeParagraphs() const {
        std::vector<PagesDocument::Paragraph> result;
        result.reserve(paragraphs_.size());
        for (const auto& raw : paragraphs_) {
            PagesDocument::Paragraph paragraph;
            paragraph.text = raw.text;
            const auto styleName = resolvedStyleName(raw.styleRef, 0);
            paragraph.headingLevel =
                PagesLegacyHeading::level(styleName ? std::optional<std::string_view>(*styleName) : std::nullopt);
            result.push_back(std::move(paragraph));
        }
        return result;
    }

private:
    // The value of the attribute with the given local name, whatever its prefix.
    static std::optional<std::string_view> attribute(const XMLAttributes& attributes, std::string_view name) {
        for (std::size_t i = 0; i < attributes.size(); ++i) {
            if (localName(attributes.name(i)) == name) return attributes.value(i);
        }
        return std::nullopt;
    }

    static std::optional<std::string> owned(std::optional<std::string_view> text) {
        return text ? std::optional<std::string>(*text) : std::nullopt;
    }

    // A style is keyed by its ID and by its ident, since paragraphs refer to
    // either; a later style under the same key replaces the earlier one.
    void recordStyle(const XMLAttributes& attributes) {
        const StyleRecord record{owned(attribute(attributes, kNameAttribute)),
                                 owned(attribute(attributes, kParentIdentAttribute))};
        if (auto id = attribute(attributes, kIDAttribute)) styles_[std::string(*id)] = record;
        if (auto ident = attribute(attributes, kIdentAttribute)) styles_[std::string(*ident)] = record;
    }

    // The name of the style under `key`, or of the nearest named style among its
    // parents; at most kMaximumStyleDepth + 1 records are followed.
    std::optional<std::string> resolvedStyleName(const std::optional<std::string>& key, int depth) const {
        const std::string* current = key ? &*key : nullptr;
        for (; current != nullptr && depth <= kMaximumStyleDepth; ++depth) {
            const auto found = styles_.find(*current);
            if (found == styles_.end()) return std::nullopt;
            if (found->second.name) return found->second.name;
            current = found->second.parentIdent ? &*found->second.parentIdent : nullptr;
        }
        return std::nullopt;
    }

    // Ghost text is the placeholder text of templates, never the document's own.
    void appendText(std::string_view text) {
        if (currentParagraph_ && ghostTextDepth_ == 0) currentParagraph_->text.append(text);
    }

    std::unordered_map<std::string, StyleRecord> styles_;
    std::vector<RawParagraph> paragraphs_;
    // Whether each open text storage is of kind "body", innermost last, and how
    // many of them are: a paragraph is read when any open storage is the body.
    std::vector<bool> storageIsBody_;
    std::size_t openBodyStorages_ = 0;
    std::optional<RawParagraph> currentParagraph_;
    std::size_t ghostTextDepth_ = 0;
};

PagesDocument::Paragraph::Table::ColumnAlignment columnAlignment(TSTTable::Alignment alignment) {
    using ColumnAlignment = PagesDocument::Paragraph::Table::ColumnAlignment;
    switch (alignment) {
        case TSTTable::Alignment::center: return ColumnAlignment::center;
        case TSTTable::Alignment::right: return ColumnAlignment::right;
        case TSTTable::Alignment::left: break;
    }
    return ColumnAlignment::left;
}

// One paragraph with no text holding exactly the table.
PagesDocument::Paragraph tableParagraph(const TSTTable& table) {
    PagesDocument::Paragraph::Table cropped;
    cropped.cells = table.cells;
    for (const auto alignment : table.columnAlignments) cropped.columnAlignments.push_back(columnAlignment(alignment));
    PagesDocument::Paragraph paragraph;
    paragraph.tables.push_back(std::move(cropped));
    return paragraph;
}

// Tables come only from grid elements. Without the element's name among its
// bytes, a document in an ASCII-compatible encoding has none, and the table
// collector need not follow the parse. A document that may be UTF-16 (a
// byte order mark or a zero byte at its start) is always parsed.
constexpr std::string_view kTableGridElement = "sf:grid";
constexpr std::size_t kEncodingProbeBytes = 4;

bool mayHoldTables(ByteView document) {
    const std::string_view bytes(reinterpret_cast<const char*>(document.data()), document.size());
    for (const char byte : bytes.substr(0, kEncodingProbeBytes)) {
        const auto value = static_cast<unsigned char>(byte);
        if (value == 0x00 || value == 0xFE || value == 0xFF) return true;
    }
    return bytes.find(kTableGridElement) != std::string_view::npos;
}

// Hands every event of one parse to the text extractor and the table collector.
class BothReaders final : public XMLEventHandler {
public:
    BothReaders(XMLEventHandler& first, XMLEventHandler& second) : first_(first), second_(second) {}

    void startElement(std::string_view name, const XMLAttributes& attributes) override {
        first_.startElement(name, attributes);
        second_.startElement(name, attributes);
    }
    void endElement(std::string_view name) override {
        first_.endElement(name);
        second_.endElement(name);
    }
    void characters(std::string_view text) override {
        first_.characters(text);
        second_.characters(text);
    }

private:
    XMLEventHandler& first_;
    XMLEventHandler& second_;
};

}  // namespace

PagesDocument PagesLegacyParser::parseDocument(ByteView from) const {
    LegacyExtractor extractor;
    IWALegacyTableCollector tableCollector;
    BothReaders both(extractor, tableCollector);
    const bool withTables = mayHoldTables(from);
    XMLEventHandler& handler = withTables ? static_cast<XMLEventHandler&>(both) : extractor;
    if (auto failure = XMLEventParser::parse(from, handler)) {
        throw PagesFileError::legacyXMLParsingFailed(std::move(failure));
    }
    PagesDocument document;
    document.paragraphs = extractor.makeParagraphs();
    for (const auto& table : tableCollector.takeTables()) {
        if (auto used = table.trimmedToUsedRange()) document.paragraphs.push_back(tableParagraph(*used));
    }
    return document;
}

}  // namespace lumaro
