// The objects of the blank template, file by file, with their typography.
//
// Typography: body text is Helvetica Neue 11 pt, near-black (0.13 grey), on an
// A4 page with 2 cm margins; headings are Helvetica Neue Bold, sized on a
// modular scale (title 28, headings 22 / 17 / 14 / 12); captions and footnotes
// are 9 pt; the quote style (Subtitle) is italic grey. Paragraph spacing goes
// after paragraphs (8 pt for body text) so that lists and code stay compact.
// Links are a muted blue and underlined.

#include "TemplateMessage.hpp"

namespace lumaro::templatesource {
namespace {

// Document.iwa
constexpr std::uint64_t kDocumentArchive = 1;
constexpr std::uint64_t kBodyStorage = 1732539;
constexpr std::uint64_t kDocumentSettings = 1732540;
// Other files' roots.
constexpr std::uint64_t kDocumentMetadata = 71;
constexpr std::uint64_t kAnnotationAuthorStorage = 1732609;
constexpr std::uint64_t kCalculationEngine = 1732610;
constexpr std::uint64_t kViewState = 1732611;
constexpr std::uint64_t kStylesheet = 1732613;

// Paragraph styles.
constexpr std::uint64_t kTitleStyle = 1731491;
constexpr std::uint64_t kSubtitleStyle = 1731497;
constexpr std::uint64_t kHeading1Style = 1731502;
constexpr std::uint64_t kHeading2Style = 1731503;
constexpr std::uint64_t kHeading3Style = 1731504;
constexpr std::uint64_t kHeadingRedStyle = 1731505;
constexpr std::uint64_t kBodyStyle = 1731511;
constexpr std::uint64_t kCaptionStyle = 1731517;
constexpr std::uint64_t kFootnoteStyle = 1731522;
constexpr std::uint64_t kTableStyle1 = 1731526;
constexpr std::uint64_t kTableStyle2 = 1731527;
// List styles.
constexpr std::uint64_t kNoneListStyle = 1731481;
constexpr std::uint64_t kBulletListStyle = 1731482;
constexpr std::uint64_t kNumberedListStyle = 1731486;
// Character styles.
constexpr std::uint64_t kNoneCharacterStyle = 1731539;
constexpr std::uint64_t kLinkCharacterStyle = 1731540;
constexpr std::uint64_t kEmphasisCharacterStyle = 1731541;
constexpr std::uint64_t kStrikethroughCharacterStyle = 1731542;
constexpr std::uint64_t kUnderlineCharacterStyle = 1731543;
constexpr std::uint64_t kItalicCharacterStyle = 1731544;
// Drawable and table styles.
constexpr std::uint64_t kImageStyle = 1731560;
constexpr std::uint64_t kTableCellStyle = 1731720;

constexpr std::uint64_t kParagraphStyleType = 2022;
constexpr std::uint64_t kCharacterStyleType = 2021;
constexpr std::uint64_t kListStyleType = 2023;
constexpr std::uint64_t kMediaStyleType = 3016;
constexpr std::uint64_t kCellStyleType = 6004;

constexpr int kListLevels = 9;

constexpr const char* kTextFont = "HelveticaNeue";
constexpr const char* kHeadingFont = "HelveticaNeue-Bold";
constexpr float kInk = 0.13f;  // near-black text
constexpr float kPointsPerCentimetre = 28.3465f;

// A4 portrait in points, margins 2 cm, header 1.25 cm and footer 1.5 cm insets.
Message documentArchive() {
    Message document;
    document.ref(2, kStylesheet)
        .ref(4, kBodyStorage)
        .ref(7, kDocumentSettings)
        .f32(30, 595.28f)
        .f32(31, 841.89f)
        .f32(32, 56.69f)
        .f32(33, 56.69f)
        .f32(34, 56.69f)
        .f32(35, 56.69f)
        .f32(36, 35.43f)
        .f32(37, 42.52f)
        .varint(42, 0)  // portrait
        .text(44, "iso-a4");
    return document;
}

// Footnotes at the page foot (kind 0), 10 pt gap (zigzag-encoded sint32).
Message documentSettings() {
    Message settings;
    settings.varint(30, 0).varint(33, 20);
    return settings;
}

// The empty body: every table that a body keeps, all starting at index 0.
Message bodyStorage() {
    Message paragraphData;
    paragraphData.varint(1, 0).varint(2, 0).varint(3, 0);
    Message body;
    body.varint(1, 0)
        .ref(2, kStylesheet)
        .message(5, Message().message(1, runEntry(0, kBodyStyle)))
        .message(6, Message().message(1, paragraphData))
        .message(7, Message().message(1, runEntry(0, kNoneListStyle)))
        .varint(10, 1)
        .empty(12)
        .empty(14)
        .empty(17)
        .empty(24)
        .empty(28);
    return body;
}

Message styleBase(std::string_view name, std::string_view identifier, std::uint64_t parent = 0) {
    Message base;
    base.text(1, name);
    if (!identifier.empty()) base.text(2, identifier);
    if (parent != 0) base.ref(3, parent).varint(4, 1);
    base.ref(5, kStylesheet);
    return base;
}

struct ParagraphLook {
    const char* font = kTextFont;
    float size = 11.0f;
    bool bold = false;
    bool italic = false;
    float grey = kInk;
    int alignment = 4;  // natural
    float lineSpacing = 1.2f;
    float spaceBefore = 0.0f;
    float spaceAfter = 8.0f;
    bool keepWithNext = false;
};

Message paragraphStyle(std::string_view name, std::string_view identifier, const ParagraphLook& look) {
    Message characters;
    characters.varint(1, look.bold ? 1 : 0)
        .varint(2, look.italic ? 1 : 0)
        .f32(3, look.size)
        .text(5, look.font)
        .message(7, colour(look.grey, look.grey, look.grey));
    Message lineSpacing;
    lineSpacing.varint(1, 0).f32(2, look.lineSpacing);
    Message paragraph;
    paragraph.varint(1, static_cast<std::uint64_t>(look.alignment))
        .f32(7, 0.0f)
        .varint(8, 0)
        .varint(10, look.keepWithNext ? 1 : 0)
        .f32(11, 0.0f)
        .message(13, lineSpacing)
        .f32(19, 0.0f)
        .f32(20, look.spaceAfter)
        .f32(21, look.spaceBefore)
        .varint(26, 1);
    Message style;
    style.message(1, styleBase(name, identifier)).message(11, characters).message(12, paragraph);
    return style;
}

ParagraphLook heading(float size, float before, float after) {
    ParagraphLook look;
    look.font = kHeadingFont;
    look.size = size;
    look.bold = true;
    look.spaceBefore = before;
    look.spaceAfter = after;
    look.lineSpacing = 1.0f;
    look.keepWithNext = true;
    return look;
}

std::vector<Object> paragraphStyles() {
    ParagraphLook body;
    ParagraphLook title = heading(28, 0, 14);
    ParagraphLook subtitle;
    subtitle.size = 14;
    subtitle.italic = true;
    subtitle.grey = 0.4f;
    ParagraphLook red = heading(12, 10, 4);
    ParagraphLook caption;
    caption.size = 9;
    caption.grey = 0.35f;
    caption.spaceAfter = 4;
    ParagraphLook footnote;
    footnote.size = 9;
    footnote.lineSpacing = 1.0f;
    footnote.spaceAfter = 2;
    ParagraphLook tableHeader;
    tableHeader.size = 10;
    tableHeader.bold = true;
    tableHeader.lineSpacing = 1.0f;
    tableHeader.spaceAfter = 0;
    ParagraphLook tableBody = tableHeader;
    tableBody.bold = false;

    Message redHeading = paragraphStyle("Heading Red", "text-14-paragraphstyle-Heading 4", red);
    return {
        {kTitleStyle, kParagraphStyleType, paragraphStyle("Title", "text-0-paragraphstyle-Title", title)},
        {kSubtitleStyle, kParagraphStyleType, paragraphStyle("Subtitle", "text-6-paragraphstyle-Subtitle", subtitle)},
        {kHeading1Style, kParagraphStyleType,
         paragraphStyle("Heading", "text-11-paragraphstyle-Heading 1", heading(22, 18, 6))},
        {kHeading2Style, kParagraphStyleType,
         paragraphStyle("Heading 2", "text-12-paragraphstyle-Heading 2", heading(17, 16, 6))},
        {kHeading3Style, kParagraphStyleType,
         paragraphStyle("Heading 3", "text-13-paragraphstyle-Heading 3", heading(14, 14, 4))},
        {kHeadingRedStyle, kParagraphStyleType, redHeading},
        {kBodyStyle, kParagraphStyleType, paragraphStyle("Body", "text-20-paragraphstyle-Body 1", body)},
        {kCaptionStyle, kParagraphStyleType, paragraphStyle("Caption", "text-26-paragraphstyle-Caption 3", caption)},
        {kFootnoteStyle, kParagraphStyleType,
         paragraphStyle("Footnote", "text-31-paragraphstyle-Footnote Text", footnote)},
        {kTableStyle1, kParagraphStyleType,
         paragraphStyle("Table Style 1", "table-1-paragraphstyle-Table Style 1", tableHeader)},
        {kTableStyle2, kParagraphStyleType,
         paragraphStyle("Table Style 2", "table-2-paragraphstyle-Table Style 2", tableBody)},
    };
}

// Nine levels, each indented a further 0.9 cm; label types are written one
// varint field per level (unpacked), as readers look for separate fields.
enum class LabelType : std::uint64_t { none = 0, string = 2, number = 3 };

Message listStyle(std::string_view name, std::string_view identifier, LabelType label) {
    Message style;
    style.message(1, styleBase(name, identifier));
    for (int level = 0; level < kListLevels; ++level) style.varint(11, static_cast<std::uint64_t>(label));
    const float step = 0.9f * kPointsPerCentimetre;
    for (int level = 0; level < kListLevels; ++level)
        style.f32(12, label == LabelType::none ? 0.0f : step * static_cast<float>(level + 1));
    for (int level = 0; level < kListLevels; ++level)
        style.f32(13, label == LabelType::none ? 0.0f : step * static_cast<float>(level) + 0.2f * step);
    if (label == LabelType::number) {
        // Number formats cycle 1. / a. / i. (format = 3 x numeral kind + punctuation).
        constexpr std::uint64_t kFormats[] = {0, 12, 6};
        for (int level = 0; level < kListLevels; ++level) style.varint(15, kFormats[level % 3]);
    }
    if (label == LabelType::string) {
        constexpr const char* kBullets[] = {"\u2022", "\u25E6", "\u25AA"};
        for (int level = 0; level < kListLevels; ++level) style.text(16, kBullets[level % 3]);
    }
    return style;
}

std::vector<Object> listStyles() {
    return {
        {kNoneListStyle, kListStyleType, listStyle("None", "text-0-liststyle-None", LabelType::none)},
        {kBulletListStyle, kListStyleType, listStyle("Bullet", "text-1-liststyle-Bullet", LabelType::string)},
        {kNumberedListStyle, kListStyleType, listStyle("Numbered", "text-5-liststyle-Numbered", LabelType::number)},
    };
}

Message characterStyle(std::string_view name, std::string_view identifier, const Message& properties) {
    Message style;
    style.message(1, styleBase(name, identifier)).varint(10, 1).message(11, properties);
    return style;
}

std::vector<Object> characterStyles() {
    Message link;
    link.varint(11, 1).message(7, colour(0.11f, 0.33f, 0.62f));
    return {
        {kNoneCharacterStyle, kCharacterStyleType, characterStyle("None", "character-style-null", Message())},
        {kLinkCharacterStyle, kCharacterStyleType, characterStyle("Link", "character-style-hyperlink", link)},
        {kEmphasisCharacterStyle, kCharacterStyleType,
         characterStyle("Emphasis", "character-style-emphasis", Message().varint(1, 1))},
        {kStrikethroughCharacterStyle, kCharacterStyleType,
         characterStyle("Strikethrough", "character-style-strikethrough", Message().varint(12, 1))},
        {kUnderlineCharacterStyle, kCharacterStyleType,
         characterStyle("Underline", "character-style-underline", Message().varint(11, 1))},
        {kItalicCharacterStyle, kCharacterStyleType,
         characterStyle("Italic", "character-style-italic", Message().varint(2, 1))},
    };
}

std::vector<Object> drawableStyles() {
    Message image;
    image.message(1, styleBase("Image", "image-0-imageStyle"));
    Message padding;
    padding.f32(1, 4.0f).f32(2, 2.0f).f32(3, 4.0f).f32(4, 2.0f);
    Message cellProperties;
    cellProperties.varint(3, 1).varint(8, 0).message(9, padding);
    Message cell;
    cell.message(1, styleBase("Table Cell", "tableCell-0-bodyStyle")).varint(10, 3).message(11, cellProperties);
    return {{kImageStyle, kMediaStyleType, image}, {kTableCellStyle, kCellStyleType, cell}};
}

// The stylesheet lists every style and maps each style identifier to its style.
Message stylesheet(const std::vector<Object>& styles) {
    Message sheet;
    for (const Object& style : styles) sheet.ref(1, style.identifier);
    for (const Object& style : styles) {
        const ProtobufMessage payload(style.payload.bytes());
        const auto base = payload.message(1);
        const auto identifier = base ? base->bytes(2) : std::nullopt;
        if (!identifier) continue;
        Message entry;
        entry.text(1, std::string(identifier->begin(), identifier->end())).ref(2, style.identifier);
        sheet.message(2, entry);
    }
    return sheet;
}

Component stylesheetComponent() {
    std::vector<Object> styles;
    for (auto group : {paragraphStyles(), listStyles(), characterStyles(), drawableStyles()})
        for (Object& style : group) styles.push_back(std::move(style));
    Component component{kStylesheet, "DocumentStylesheet", {}};
    component.objects.push_back({kStylesheet, 401, stylesheet(styles)});
    for (Object& style : styles) component.objects.push_back(std::move(style));
    return component;
}

}  // namespace

std::vector<Component> blankComponents() {
    std::vector<Component> components;
    components.push_back({kDocumentArchive,
                          "Document",
                          {{kDocumentArchive, 10000, documentArchive()},
                           {kBodyStorage, 2001, bodyStorage()},
                           {kDocumentSettings, 10012, documentSettings()}}});
    components.push_back({kViewState, "ViewState", {{kViewState, 10011, Message().ref(1, kDocumentArchive)}}});
    components.push_back({kCalculationEngine,
                          "CalculationEngine-1732610",
                          {{kCalculationEngine, 4000, Message().text(1, "UTC").text(2, "en_US")}}});
    components.push_back({kAnnotationAuthorStorage,
                          "AnnotationAuthorStorage-1732609",
                          {{kAnnotationAuthorStorage, 213, Message()}}});
    components.push_back(stylesheetComponent());
    components.push_back({kDocumentMetadata, "DocumentMetadata", {{kDocumentMetadata, 11011, Message().text(1, "en_US")}}});
    return components;
}

}  // namespace lumaro::templatesource
