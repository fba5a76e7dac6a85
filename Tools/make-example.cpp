// Writes examples/welcome.pages, the small document the README runs the
// converter on: one body storage with a title, headings, and paragraphs with
// bold and italic runs, styled by a handful of paragraph and character styles.
//
//   make-example <output.pages>
//
// The document is a ZIP of stored entries holding Index/Document.iwa and an
// empty Metadata/DocumentIdentifier, with fixed headers, so the same bytes come
// out on every run.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/Protobuf.hpp"
#include "LumaroPages/StoredZipWriter.hpp"

using namespace lumaro;

namespace {

constexpr std::uint64_t kDocumentArchiveType = 10000;
constexpr std::uint64_t kTextStorageType = 2001;
constexpr std::uint64_t kCharacterStyleType = 2021;
constexpr std::uint64_t kParagraphStyleType = 2022;

constexpr std::uint64_t kDocumentID = 1;
constexpr std::uint64_t kBodyStorageID = 100;
constexpr std::uint64_t kBodyStyleID = 200;
constexpr std::uint64_t kTitleStyleID = 201;
constexpr std::uint64_t kHeadingStyleID = 202;
constexpr std::uint64_t kHeading2StyleID = 203;
constexpr std::uint64_t kPlainRunID = 300;
constexpr std::uint64_t kBoldRunID = 301;
constexpr std::uint64_t kItalicRunID = 302;

// One run of a paragraph: its text and the character style it carries.
struct Run {
    std::string text;
    std::uint64_t characterStyle = kPlainRunID;
};

struct Paragraph {
    std::uint64_t paragraphStyle;
    std::vector<Run> runs;
};

const std::vector<Paragraph>& exampleParagraphs() {
    static const std::vector<Paragraph> paragraphs{
        {kTitleStyleID, {{"Welcome to kelvane-pages"}}},
        {kBodyStyleID,
         {{"This small document was written as a Pages file so that the converter has something to read. "},
          {"Bold", kBoldRunID},
          {" and "},
          {"italic", kItalicRunID},
          {" runs come out as Markdown emphasis."}}},
        {kHeadingStyleID, {{"Reading"}}},
        {kBodyStyleID,
         {{"The extract operation reads the body text, its styles and its tables, and writes Markdown."}}},
        {kHeading2StyleID, {{"What comes out"}}},
        {kBodyStyleID, {{"Headings keep their level; everything else stays plain text."}}},
    };
    return paragraphs;
}

Bytes reference(std::uint64_t identifier) {
    ProtobufWriter writer;
    writer.varintField(1, identifier);
    return writer.take();
}

// A style: field 1 holds the base (its style identifier in field 2), field 11
// the character properties (bold 1, italic 2, font size 3).
Bytes style(const std::string& styleIdentifier, bool bold, bool italic, float fontSize) {
    ProtobufWriter base, properties, message;
    base.stringField(2, styleIdentifier);
    properties.varintField(1, bold ? 1 : 0);
    properties.varintField(2, italic ? 1 : 0);
    if (fontSize > 0) properties.floatField(3, fontSize);
    message.messageField(1, base.bytes());
    message.messageField(11, properties.bytes());
    return message.take();
}

// Attribute tables index the text in UTF-16 units: the example's runs are
// ASCII, and the paragraph separator U+2029 is one unit (three UTF-8 bytes).
void addEntry(ProtobufWriter& table, std::size_t position, std::uint64_t object) {
    ProtobufWriter item;
    item.varintField(1, position);
    item.messageField(2, reference(object));
    table.messageField(1, item.bytes());
}

Bytes bodyStorage() {
    const std::string separator = "\u2029";
    std::string text;
    std::size_t position = 0;
    ProtobufWriter paragraphStyles, characterStyles;
    for (const auto& paragraph : exampleParagraphs()) {
        if (!text.empty()) {
            text += separator;
            position += 1;
        }
        addEntry(paragraphStyles, position, paragraph.paragraphStyle);
        for (const auto& run : paragraph.runs) {
            addEntry(characterStyles, position, run.characterStyle);
            text += run.text;
            position += run.text.size();
        }
    }
    ProtobufWriter body;
    body.varintField(1, 0);
    body.stringField(3, text);
    body.messageField(5, paragraphStyles.bytes());
    body.messageField(8, characterStyles.bytes());
    return body.take();
}

Bytes documentStream() {
    ProtobufWriter documentArchive;
    documentArchive.messageField(4, reference(kBodyStorageID));
    const std::vector<IWAObject> objects{
        {kDocumentID, kDocumentArchiveType, documentArchive.take()},
        {kBodyStorageID, kTextStorageType, bodyStorage()},
        {kBodyStyleID, kParagraphStyleType, style("paragraphstyle-Body", false, false, 11)},
        {kTitleStyleID, kParagraphStyleType, style("paragraphstyle-Title", true, false, 28)},
        {kHeadingStyleID, kParagraphStyleType, style("paragraphstyle-Heading 1", true, false, 20)},
        {kHeading2StyleID, kParagraphStyleType, style("paragraphstyle-Heading 2", true, false, 16)},
        {kPlainRunID, kCharacterStyleType, style("characterstyle-plain", false, false, 0)},
        {kBoldRunID, kCharacterStyleType, style("characterstyle-bold", true, false, 0)},
        {kItalicRunID, kCharacterStyleType, style("characterstyle-italic", false, true, 0)},
    };
    return IWAArchive::encode(objects);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make-example <output.pages>\n", stderr);
        return 2;
    }
    StoredZipWriter zip;
    zip.add("Index/Document.iwa", documentStream());
    zip.add("Metadata/DocumentIdentifier", Bytes{});
    const Bytes archive = zip.finish();
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(archive.data()), static_cast<std::streamsize>(archive.size()));
    if (!out) {
        std::fprintf(stderr, "make-example: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
