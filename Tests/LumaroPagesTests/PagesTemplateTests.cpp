#include <gtest/gtest.h>

#include <map>
#include <set>

#include <plist/plist.h>

#include "LumaroCore/ImageDimensions.hpp"
#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/Protobuf.hpp"
#include "LumaroPages/Base64.hpp"
#include "LumaroPages/PagesFile.hpp"
#include "LumaroPages/PagesParser.hpp"
#include "LumaroPages/PagesTemplate.hpp"
#include "LumaroPages/StoredZipWriter.hpp"
#include "Support/TestSupport.hpp"

namespace lumaro {
namespace {

constexpr std::uint64_t kBodyStorage = 1732539;
constexpr std::uint64_t kStylesheet = 1732613;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }
std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes content(std::string_view path) {
    auto bytes = PagesTemplate::blank().content(path);
    if (!bytes) throw std::runtime_error("template has no " + std::string(path));
    return *bytes;
}

// Every {1: varint} message nested anywhere in a payload, as reference candidates.
void collectReferences(const ProtobufMessage& message, std::vector<std::uint64_t>& out, int depth) {
    if (depth > 8) return;
    for (const ProtobufField& field : message.fields()) {
        const Bytes* inner = field.lengthDelimited();
        if (inner == nullptr) continue;
        const ProtobufMessage nested(*inner);
        if (nested.fields().size() == 1 && nested.fields()[0].number == 1 && nested.fields()[0].varint())
            out.push_back(*nested.fields()[0].varint());
        collectReferences(nested, out, depth + 1);
    }
}

std::map<std::string, std::vector<IWAObject>> templateArchives() {
    std::map<std::string, std::vector<IWAObject>> archives;
    for (const auto& entry : PagesTemplate::blank().entries)
        if (entry.path.ends_with(".iwa")) archives[entry.path] = IWAArchive::objects(content(entry.path));
    return archives;
}

// --- lookup -----------------------------------------------------------------

TEST(PagesTemplateLookup, FindsFirstExactPathAndIgnoresLineFeedsOnly) {
    PagesTemplate custom{{{"A/b.txt", "aGVs\nbG8=\n"}, {"A/b.txt", "c2Vjb25k"}, {"bad", "aGVs bG8="}, {"cr", "aGVs\r\nbG8="}}};
    EXPECT_EQ(custom.content("A/b.txt"), bytesOf("hello"));  // split over lines, first of two
    EXPECT_FALSE(custom.content("a/b.txt"));                 // case matters
    EXPECT_FALSE(custom.content("A/b.txt "));
    EXPECT_FALSE(custom.content("bad"));  // a space is not tolerated
    EXPECT_FALSE(custom.content("cr"));   // nor a carriage return
}

TEST(Base64, RoundTripsEveryTailLengthAndRejectsMalformedText) {
    Bytes data;
    for (int length = 0; length < 70; ++length) {
        const std::string text = Base64::encode(data);
        EXPECT_EQ(text.size() % 4, 0u);
        EXPECT_EQ(Base64::decode(text), data) << length;
        data.push_back(static_cast<std::uint8_t>(length * 37 + 11));
    }
    EXPECT_EQ(Base64::encode(bytesOf("foobar")), "Zm9vYmFy");
    EXPECT_EQ(Base64::encode(bytesOf("fo")), "Zm8=");
    EXPECT_EQ(Base64::decode("+/+/"), (Bytes{0xFB, 0xFF, 0xBF}));
    for (std::string_view bad : {"Zm9", "Zm=v", "Zm==Zm8=", "Zm8*", "====", "Zm9v\n"})
        EXPECT_FALSE(Base64::decode(bad)) << bad;
}

// --- the blank template -----------------------------------------------------

TEST(BlankTemplate, HoldsThirteenDecodableFilesInPackageOrder) {
    const std::vector<std::string> expected = {
        "Index/Document.iwa", "Index/ViewState.iwa", "Index/CalculationEngine-1732610.iwa",
        "Index/AnnotationAuthorStorage-1732609.iwa", "Index/DocumentStylesheet.iwa", "Index/DocumentMetadata.iwa",
        "Index/Metadata.iwa", "Metadata/Properties.plist", "Metadata/DocumentIdentifier",
        "Metadata/BuildVersionHistory.plist", "preview.jpg", "preview-micro.jpg", "preview-web.jpg"};
    std::vector<std::string> paths;
    for (const auto& entry : PagesTemplate::blank().entries) {
        paths.push_back(entry.path);
        EXPECT_TRUE(PagesTemplate::blank().content(entry.path)) << entry.path;
    }
    EXPECT_EQ(paths, expected);
    EXPECT_EQ(&PagesTemplate::blank(), &PagesTemplate::blank());
}

TEST(BlankTemplate, DocumentArchiveComesFirstWithBodyStylesheetAndA4Page) {
    const auto objects = IWAArchive::objects(content("Index/Document.iwa"));
    ASSERT_FALSE(objects.empty());
    EXPECT_EQ(objects[0].identifier, 1u);
    EXPECT_EQ(objects[0].type, 10000u);
    const ProtobufMessage document(objects[0].payload);
    EXPECT_EQ(document.message(4)->varint(1), kBodyStorage);
    EXPECT_EQ(document.message(2)->varint(1), kStylesheet);
    const std::map<int, float> page = {{30, 595.28f}, {31, 841.89f}, {32, 56.69f}, {33, 56.69f},
                                       {34, 56.69f},  {35, 56.69f},  {36, 35.43f}, {37, 42.52f}};
    for (const auto& [field, value] : page) EXPECT_EQ(document.float32(field), value) << field;
    EXPECT_EQ(textOf(*document.bytes(44)), "iso-a4");

    const IWAObject* body = nullptr;
    for (const auto& object : objects)
        if (object.identifier == kBodyStorage) body = &object;
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->type, 2001u);
    const ProtobufMessage storage(body->payload);
    EXPECT_EQ(storage.varint(1), 0u);
    EXPECT_EQ(storage.message(2)->varint(1), kStylesheet);
    EXPECT_FALSE(storage.bytes(3));  // empty body
    EXPECT_EQ(storage.varint(10), 1u);
    const auto styleEntries = storage.message(5)->messages(1);
    ASSERT_EQ(styleEntries.size(), 1u);
    EXPECT_EQ(styleEntries[0].varint(1), 0u);
    EXPECT_EQ(styleEntries[0].message(2)->varint(1), 1731511u);
    EXPECT_EQ(storage.message(7)->messages(1).at(0).message(2)->varint(1), 1731481u);
    for (int field : {6, 12, 14, 17, 24, 28}) EXPECT_TRUE(storage.bytes(field)) << field;
}

struct StyleRow {
    std::uint64_t id;
    std::uint64_t type;
    std::string name;
    std::string identifier;  // empty: not pinned
};

TEST(BlankTemplate, StylesheetHoldsEveryStyleTheWriterTargets) {
    const std::vector<StyleRow> rows = {
        {1731511, 2022, "Body", "text-20-paragraphstyle-Body 1"},
        {1731491, 2022, "Title", "text-0-paragraphstyle-Title"},
        {1731502, 2022, "Heading", "text-11-paragraphstyle-Heading 1"},
        {1731503, 2022, "Heading 2", "text-12-paragraphstyle-Heading 2"},
        {1731504, 2022, "Heading 3", "text-13-paragraphstyle-Heading 3"},
        {1731505, 2022, "Heading Red", "text-14-paragraphstyle-Heading 4"},
        {1731497, 2022, "Subtitle", "text-6-paragraphstyle-Subtitle"},
        {1731517, 2022, "Caption", "text-26-paragraphstyle-Caption 3"},
        {1731522, 2022, "Footnote", "text-31-paragraphstyle-Footnote Text"},
        {1731526, 2022, "Table Style 1", ""},
        {1731527, 2022, "Table Style 2", ""},
        {1731481, 2023, "None", "text-0-liststyle-None"},
        {1731482, 2023, "Bullet", "text-1-liststyle-Bullet"},
        {1731486, 2023, "Numbered", "text-5-liststyle-Numbered"},
        {1731539, 2021, "None", "character-style-null"},
        {1731540, 2021, "Link", "character-style-hyperlink"},
        {1731541, 2021, "Emphasis", ""},
        {1731542, 2021, "Strikethrough", ""},
        {1731543, 2021, "Underline", ""},
        {1731544, 2021, "Italic", ""},
        {1731560, 3016, "", "image-0-imageStyle"},
        {1731720, 6004, "", "tableCell-0-bodyStyle"},
    };
    IWAObjectStore store;
    for (auto& object : IWAArchive::objects(content("Index/DocumentStylesheet.iwa"))) store.add(object);
    ASSERT_NE(store.object(kStylesheet), nullptr);
    EXPECT_EQ(store.object(kStylesheet)->type, 401u);
    const auto listed = ProtobufMessage(store.object(kStylesheet)->payload).messages(1);
    std::set<std::uint64_t> inSheet;
    for (const auto& reference : listed) inSheet.insert(reference.varint(1).value_or(0));
    for (const auto& row : rows) {
        const IWAObject* style = store.object(row.id);
        ASSERT_NE(style, nullptr) << row.id;
        EXPECT_EQ(style->type, row.type) << row.id;
        EXPECT_TRUE(inSheet.count(row.id)) << row.id;
        const auto base = ProtobufMessage(style->payload).message(1);
        ASSERT_TRUE(base) << row.id;
        EXPECT_EQ(base->message(5)->varint(1), kStylesheet) << row.id;
        if (!row.name.empty()) EXPECT_EQ(textOf(*base->bytes(1)), row.name) << row.id;
        if (!row.identifier.empty()) EXPECT_EQ(textOf(*base->bytes(2)), row.identifier) << row.id;
    }
    // Every paragraph style carries a float font size and a font name that readers can apply.
    for (const auto* style : store.objects(2022)) {
        const auto characters = ProtobufMessage(style->payload).message(11);
        ASSERT_TRUE(characters) << style->identifier;
        EXPECT_GT(characters->float32(3).value_or(0), 6.0f) << style->identifier;
        EXPECT_TRUE(characters->bytes(5)) << style->identifier;
    }
}

TEST(BlankTemplate, ListStylesGiveNoneBulletsAndNumbersOnAllNineLevels) {
    IWAObjectStore store;
    for (auto& object : IWAArchive::objects(content("Index/DocumentStylesheet.iwa"))) store.add(object);
    const std::map<std::uint64_t, PagesParser::ListMarker> expected = {
        {1731481, PagesParser::ListMarker::none},
        {1731482, PagesParser::ListMarker::bullet},
        {1731486, PagesParser::ListMarker::numbered}};
    for (const auto& [id, marker] : expected) {
        const ProtobufMessage style(store.object(id)->payload);
        EXPECT_EQ(style.allVarints(11).size(), 9u) << id;  // unpacked, one per level
        for (int level = 0; level < 9; ++level)
            EXPECT_EQ(PagesParser::resolveListMarker(id, level, store, 0), marker) << id << " " << level;
    }
    EXPECT_EQ(ProtobufMessage(store.object(1731482)->payload).allBytes(16).size(), 9u);  // bullet strings
    EXPECT_EQ(ProtobufMessage(store.object(1731486)->payload).allVarints(15).size(), 9u);  // number formats
}

TEST(BlankTemplate, PackageMetadataRegistersEveryFileAndEveryCrossFileReference) {
    const auto archives = templateArchives();
    const auto metadataObjects = archives.at("Index/Metadata.iwa");
    ASSERT_FALSE(metadataObjects.empty());
    EXPECT_EQ(metadataObjects[0].identifier, 2u);
    EXPECT_EQ(metadataObjects[0].type, 11006u);
    const ProtobufMessage metadata(metadataObjects[0].payload);
    const std::uint64_t highWater = metadata.varint(1).value_or(0);
    EXPECT_EQ(highWater, 1732661u);

    std::map<std::string, std::uint64_t> componentOfFile;  // "Index/<locator>.iwa" -> component
    std::map<std::uint64_t, std::set<std::uint64_t>> externals;
    for (const auto& component : metadata.messages(3)) {
        const auto locator = component.bytes(3) ? component.bytes(3) : component.bytes(2);
        const std::uint64_t id = component.varint(1).value_or(0);
        componentOfFile["Index/" + textOf(*locator) + ".iwa"] = id;
        for (const auto& reference : component.messages(6)) externals[id].insert(reference.varint(2).value_or(0));
    }
    EXPECT_EQ(componentOfFile.size(), 6u);
    std::set<std::uint64_t> componentRoots;
    for (const auto& [path, id] : componentOfFile) componentRoots.insert(id);
    std::map<std::uint64_t, std::string> fileOfObject;
    for (const auto& [path, objects] : archives) {
        if (path == "Index/Metadata.iwa") continue;
        ASSERT_TRUE(componentOfFile.count(path)) << path;
        EXPECT_EQ(objects.at(0).identifier, componentOfFile[path]) << path;  // the root names the component
        for (const auto& object : objects) {
            EXPECT_LE(object.identifier, highWater);
            fileOfObject[object.identifier] = path;
        }
    }
    for (const auto& [path, objects] : archives) {
        if (path == "Index/Metadata.iwa") continue;
        for (const auto& object : objects) {
            std::vector<std::uint64_t> targets;
            collectReferences(ProtobufMessage(object.payload), targets, 0);
            for (std::uint64_t target : targets) {
                // A component's root is found through its component entry; every
                // other object of another file needs an external reference.
                if (!fileOfObject.count(target) || fileOfObject[target] == path) continue;
                if (componentRoots.count(target)) continue;
                EXPECT_TRUE(externals[componentOfFile[path]].count(target))
                    << path << " refers to " << target << " without an external reference";
            }
        }
    }
    // The writer refers from the body to any style, so Document lists them all.
    for (const auto& style : archives.at("Index/DocumentStylesheet.iwa"))
        EXPECT_TRUE(externals[1].count(style.identifier)) << style.identifier;
}

TEST(BlankTemplate, IdentityFilesAgreeAndPreviewsHaveTheirSizes) {
    const std::string identifier = textOf(content("Metadata/DocumentIdentifier"));
    EXPECT_EQ(identifier.size(), 36u);
    const Bytes plistBytes = content("Metadata/Properties.plist");
    ASSERT_GE(plistBytes.size(), 8u);
    EXPECT_EQ(textOf(Bytes(plistBytes.begin(), plistBytes.begin() + 6)), "bplist");
    plist_t dict = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(plistBytes.data()), static_cast<std::uint32_t>(plistBytes.size()),
                      &dict);
    ASSERT_NE(dict, nullptr);
    auto text = [&](const char* key) {
        char* value = nullptr;
        plist_get_string_val(plist_dict_get_item(dict, key), &value);
        std::string result = value ? value : "";
        std::free(value);
        return result;
    };
    for (const char* key : {"documentUUID", "shareUUID", "stableDocumentUUID"}) EXPECT_EQ(text(key), identifier) << key;
    EXPECT_EQ(text("revision"), "0::" + text("versionUUID"));
    EXPECT_EQ(text("privateUUID").size(), 36u);
    EXPECT_FALSE(text("fileFormatVersion").empty());
    for (const char* key : {"hasExternalReferenceOrMissingData", "hasUnmaterializedRemoteData", "isMultiPage"}) {
        std::uint8_t flag = 1;
        plist_get_bool_val(plist_dict_get_item(dict, key), &flag);
        EXPECT_EQ(flag, 0) << key;
    }
    plist_free(dict);

    const std::map<std::string, std::pair<int, int>> previews = {
        {"preview.jpg", {724, 1024}}, {"preview-micro.jpg", {38, 54}}, {"preview-web.jpg", {159, 225}}};
    for (const auto& [path, size] : previews) {
        const auto dimensions = ImageDimensions::dimensions(content(path));
        ASSERT_TRUE(dimensions) << path;
        EXPECT_EQ(static_cast<int>(dimensions->width), size.first) << path;
        EXPECT_EQ(static_cast<int>(dimensions->height), size.second) << path;
    }
}

// --- the template read as a document ----------------------------------------

std::filesystem::path writeDocument(const test::TemporaryDirectory& directory, const std::string& name,
                                    const std::map<std::string, Bytes>& replacements = {}) {
    StoredZipWriter zip;
    for (const auto& entry : PagesTemplate::blank().entries) {
        const auto replaced = replacements.find(entry.path);
        zip.add(entry.path, replaced != replacements.end() ? replaced->second : content(entry.path));
    }
    const auto path = directory / name;
    test::writeFileBytes(path, zip.finish());
    return path;
}

Bytes runEntry(std::uint64_t index, std::optional<std::uint64_t> target) {
    ProtobufWriter entry;
    entry.varintField(1, index);
    if (target) {
        ProtobufWriter reference;
        reference.varintField(1, *target);
        entry.messageField(2, reference.bytes());
    }
    return entry.take();
}

Bytes table(const std::vector<Bytes>& entries) {
    ProtobufWriter writer;
    for (const auto& entry : entries) writer.messageField(1, entry);
    return writer.take();
}

// The template with the body "Heading\nBold and plain\nItalic end": a heading
// paragraph, a bold run and an italic run from the template's styles.
Bytes documentWithBody() {
    return IWAArchive::replacingPayload(content("Index/Document.iwa"), kBodyStorage, [](const Bytes& old) {
        ProtobufWriter body;
        const std::string text = "Heading\nBold and plain\nItalic end";
        for (const auto& field : ProtobufMessage(old).fields()) {
            if (field.number == 5) {
                body.stringField(3, text);
                body.messageField(5, table({runEntry(0, 1731502), runEntry(8, 1731511)}));
            } else if (field.number == 7) {
                body.messageField(7, table({runEntry(0, 1731481), runEntry(8, 1731481), runEntry(23, 1731481)}));
                body.messageField(8, table({runEntry(0, std::nullopt), runEntry(8, 1731541), runEntry(12, std::nullopt),
                                            runEntry(23, 1731544), runEntry(29, std::nullopt)}));
            } else if (field.number == 6) {
                ProtobufWriter level;
                level.varintField(1, 0);
                level.varintField(2, 0);
                level.varintField(3, 0);
                body.messageField(6, table({level.bytes()}));
            } else {
                body.append(field);
            }
        }
        return body.take();
    });
}

TEST(BlankTemplateAsDocument, OurReaderOpensItWithAnEmptyBodyAndResolvesStyles) {
    test::TemporaryDirectory directory;
    const PagesFile blank(writeDocument(directory, "blank.pages"));
    for (const auto& paragraph : blank.document().paragraphs) EXPECT_EQ(paragraph.text, "");
    EXPECT_EQ(blank.markdown().find_first_not_of("\n"), std::string::npos);

    const PagesFile filled(writeDocument(directory, "body.pages", {{"Index/Document.iwa", documentWithBody()}}));
    const auto& paragraphs = filled.document().paragraphs;
    ASSERT_EQ(paragraphs.size(), 3u);
    EXPECT_EQ(paragraphs[0].text, "Heading");
    EXPECT_EQ(paragraphs[0].headingLevel, 1);
    EXPECT_FALSE(paragraphs[1].headingLevel);
    EXPECT_FALSE(paragraphs[1].isCodeBlock);
    const std::string markdown = filled.markdown();
    EXPECT_NE(markdown.find("# Heading"), std::string::npos) << markdown;
    EXPECT_NE(markdown.find("**Bold**"), std::string::npos) << markdown;
    EXPECT_NE(markdown.find("Italic"), std::string::npos) << markdown;

    IWAObjectStore styles;
    for (auto& object : IWAArchive::objects(content("Index/DocumentStylesheet.iwa"))) styles.add(object);
    const std::map<std::uint64_t, std::optional<int>> levels = {
        {1731502, 1}, {1731503, 2}, {1731504, 3}, {1731505, 4}, {1731491, 1}, {1731511, std::nullopt},
        {1731517, std::nullopt}, {1731522, std::nullopt}};
    for (const auto& [id, level] : levels) {
        const auto base = ProtobufMessage(styles.object(id)->payload).message(1);
        EXPECT_EQ(PagesParser::headingLevel(textOf(*base->bytes(2))), level) << id;
    }
}

TEST(BlankTemplateAsDocument, LibetonyekReadsTheTemplateAndAVariantWithText) {
    if (!test::commandExists("pages2text") || !test::commandExists("pages2html")) GTEST_SKIP() << "no libetonyek tools";
    test::TemporaryDirectory directory;
    const auto blank = writeDocument(directory, "blank.pages");
    for (const char* tool : {"pages2text", "pages2html"}) {
        const auto result = test::runCommand({tool, blank.string()});
        EXPECT_EQ(result.status, 0) << tool << ": " << result.standardError;
    }
    const auto filled = writeDocument(directory, "body.pages", {{"Index/Document.iwa", documentWithBody()}});
    const auto text = test::runCommand({"pages2text", filled.string()});
    EXPECT_EQ(text.status, 0) << text.standardError;
    EXPECT_NE(text.standardOutput.find("Heading"), std::string::npos) << text.standardOutput;
    EXPECT_NE(text.standardOutput.find("Bold and plain"), std::string::npos) << text.standardOutput;
    const auto html = test::runCommand({"pages2html", filled.string()});
    EXPECT_EQ(html.status, 0) << html.standardError;
    EXPECT_NE(html.standardOutput.find("font-weight: bold"), std::string::npos) << html.standardOutput;
    EXPECT_NE(html.standardOutput.find("font-style: italic"), std::string::npos) << html.standardOutput;
    EXPECT_NE(html.standardOutput.find(">Italic<"), std::string::npos) << html.standardOutput;
}

}  // namespace
}  // namespace lumaro
