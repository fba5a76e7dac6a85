// The IWA reader on small object stores built by hand.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "LumaroIWA/Protobuf.hpp"
#include "LumaroPages/PagesParser.hpp"

using namespace lumaro;

namespace {

using Build = std::function<void(ProtobufWriter&)>;
using Paragraph = PagesDocument::Paragraph;

Bytes message(const Build& build) {
    ProtobufWriter writer;
    build(writer);
    return writer.take();
}

Bytes reference(std::uint64_t identifier) {
    return message([&](ProtobufWriter& w) { w.varintField(1, identifier); });
}

// An attribute table: (position, referenced object) entries; 0 = no reference.
Bytes table(std::initializer_list<std::pair<std::uint64_t, std::uint64_t>> entries) {
    return message([&](ProtobufWriter& w) {
        for (const auto& entry : entries)
            w.messageField(1, message([&](ProtobufWriter& e) {
                e.varintField(1, entry.first);
                if (entry.second) e.messageField(2, reference(entry.second));
            }));
    });
}

// A style with character properties set by `properties` and an optional parent.
Bytes style(const Build& properties, std::uint64_t parent = 0, const std::string& identifier = "") {
    return message([&](ProtobufWriter& w) {
        w.messageField(1, message([&](ProtobufWriter& base) {
            if (!identifier.empty()) base.stringField(2, identifier);
            if (parent) base.messageField(3, reference(parent));
        }));
        w.messageField(11, message(properties));
    });
}

const Build kNoProperties = [](ProtobufWriter&) {};

struct StorageSpec {
    std::string text;
    std::optional<std::uint64_t> kind;
    std::vector<std::pair<std::int64_t, Bytes>> tables;  // field number, table
};

Bytes storage(const StorageSpec& shape) {
    return message([&](ProtobufWriter& w) {
        if (shape.kind) w.varintField(1, *shape.kind);
        w.stringField(3, shape.text);
        for (const auto& [field, bytes] : shape.tables) w.messageField(field, bytes);
    });
}

struct Store {
    IWAObjectStore objects;
    Store& add(std::uint64_t identifier, std::uint64_t type, Bytes payload) {
        objects.add(IWAObject{identifier, type, std::move(payload)});
        return *this;
    }
};

PagesDocument build(const Store& store) {
    PagesParser parser;
    return parser.buildDocument(store.objects);
}

std::vector<std::string> texts(const PagesDocument& document) {
    std::vector<std::string> result;
    for (const auto& paragraph : document.paragraphs) result.push_back(paragraph.text);
    return result;
}

const std::string kEmoji = "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units
const std::string kObject = "\xEF\xBF\xBC";     // U+FFFC
const std::string kParagraphBreak = "\xE2\x80\xA9";
const std::string kLineBreak = "\xE2\x80\xA8";

// ---------------------------------------------------------------------------

TEST(PagesParserBody, ChoosesBodyStoragesByKind) {
    Store fallback;
    fallback.add(1, 2001, storage({"", 0, {}}))
        .add(2, 2001, storage({"never the body", 1, {}}))
        .add(3, 2001, storage({"kind three", 3, {}}));
    EXPECT_EQ(texts(build(fallback)), std::vector<std::string>{"kind three"});

    Store onlyKindOne;
    onlyKindOne.add(1, 2001, storage({"header", 1, {}}));
    EXPECT_TRUE(build(onlyKindOne).paragraphs.empty());

    Store tie;  // equally long fallbacks: the earlier one wins
    tie.add(1, 2001, storage({"", std::nullopt, {}})).add(5, 2001, storage({"abc", 4, {}})).add(6, 2001, storage({"xyz", 3, {}}));
    EXPECT_EQ(texts(build(tie)), std::vector<std::string>{"abc"});

    Store several;  // every body candidate with text, in store order; storages of other kinds ignored
    several.add(1, 2001, storage({"one", std::nullopt, {}})).add(2, 2001, storage({"side", 3, {}})).add(3, 2001, storage({"two", 0, {}}));
    EXPECT_EQ(texts(build(several)), (std::vector<std::string>{"one", "two"}));
}

TEST(PagesParserBody, SplitsParagraphsAtLineFeedAndParagraphSeparator) {
    Store store;
    store.add(1, 2001, storage({"A\nB", std::nullopt, {}}));
    EXPECT_EQ(texts(build(store)), (std::vector<std::string>{"A", "B"}));

    Store trailing;
    trailing.add(1, 2001, storage({"A" + kParagraphBreak, std::nullopt, {}}));
    EXPECT_EQ(texts(build(trailing)), (std::vector<std::string>{"A", ""}));

    // Section, page and column breaks end a paragraph too and are not kept.
    Store breaks;
    breaks.add(1, 2001, storage({"a\x04" "b\x05" "c\x0C" "d", std::nullopt, {}}));
    EXPECT_EQ(texts(build(breaks)), (std::vector<std::string>{"a", "b", "c", "d"}));

    Store lineBreaks;
    lineBreaks.add(1, 2001, storage({"a" + kLineBreak + kLineBreak + "b", std::nullopt, {}}));
    EXPECT_EQ(texts(build(lineBreaks)), std::vector<std::string>{"a" + kLineBreak + kLineBreak + "b"});

    Store damaged;  // invalid UTF-8 becomes U+FFFD, each chunk repaired on its own
    damaged.add(1, 2001, message([](ProtobufWriter& w) {
        w.bytesField(3, Bytes{'a', 0xE2, 0x82});
        w.bytesField(3, Bytes{0xAC, 'b'});
    }));
    EXPECT_EQ(texts(build(damaged)), std::vector<std::string>{"a\xEF\xBF\xBD\xEF\xBF\xBD" "b"});
}

TEST(PagesParserBody, PositionsCountUTF16UnitsAcrossParagraphs) {
    // A bold run at UTF-16 position 4: after "x", the emoji (2 units) and "y".
    Store store;
    store.add(10, 2021, style([](ProtobufWriter& w) { w.varintField(1, 1); }))
        .add(1, 2001, storage({"x" + kEmoji + "yz", std::nullopt, {{8, table({{4, 10}})}}}));
    const auto document = build(store);
    ASSERT_EQ(document.paragraphs.size(), 1u);
    const auto& spans = document.paragraphs[0].emphasis;
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0].start, 0);
    EXPECT_FALSE(spans[0].bold);
    EXPECT_EQ(spans[1].start, 4);
    EXPECT_TRUE(spans[1].bold);

    // A link from 3 to 10 over "abcde" \n "fghij" is clipped into both paragraphs.
    Store links;
    links.add(20, 2032, message([](ProtobufWriter& w) { w.stringField(2, "https://example.com/"); }))
        .add(1, 2001, storage({"abcde\nfghij", std::nullopt, {{11, table({{3, 20}, {10, 0}})}}}));
    const auto linked = build(links);
    ASSERT_EQ(linked.paragraphs.size(), 2u);
    ASSERT_EQ(linked.paragraphs[0].links.size(), 1u);
    EXPECT_EQ(linked.paragraphs[0].links[0].start, 3);
    EXPECT_EQ(linked.paragraphs[0].links[0].end, 5);
    ASSERT_EQ(linked.paragraphs[1].links.size(), 1u);
    EXPECT_EQ(linked.paragraphs[1].links[0].start, 0);
    EXPECT_EQ(linked.paragraphs[1].links[0].end, 4);
    EXPECT_EQ(linked.paragraphs[1].links[0].url, "https://example.com/");
}

TEST(PagesParserBody, ParagraphAndCharacterStylesGiveEmphasisBoldAndCode) {
    Store store;
    store.add(30, 2022, style([](ProtobufWriter& w) {
             w.varintField(1, 1);
             w.floatField(3, 14.0f);
         }))
        .add(31, 2021, style([](ProtobufWriter& w) { w.stringField(5, "Menlo-Regular"); }))
        .add(32, 2021, style([](ProtobufWriter& w) { w.varintField(2, 1); }))
        .add(33, 2021, style([](ProtobufWriter& w) { w.stringField(5, "Courier New"); }))
        .add(34, 2021, style([](ProtobufWriter& w) { w.varintField(1, 0); }))
        // "bold para" under a bold paragraph style, then a paragraph with
        // character styles only.
        .add(1, 2001, storage({"bold\nab cd", std::nullopt,
                               {{5, table({{0, 30}})},
                                // two runs at 5: the later (Menlo) decides; italic at 7; a run
                                // without style at 8 resets to unset.
                                {8, table({{5, 32}, {5, 31}, {7, 32}, {8, 0}})}}}));
    const auto document = build(store);
    ASSERT_EQ(document.paragraphs.size(), 2u);
    const auto& first = document.paragraphs[0];
    EXPECT_TRUE(first.bold);
    EXPECT_EQ(first.fontSize, 14.0);
    ASSERT_EQ(first.emphasis.size(), 1u);
    EXPECT_TRUE(first.emphasis[0].bold);

    const auto& second = document.paragraphs[1];
    EXPECT_TRUE(second.bold);  // the paragraph style carries over
    ASSERT_EQ(second.emphasis.size(), 3u);
    EXPECT_TRUE(second.emphasis[0].code);
    EXPECT_FALSE(second.emphasis[0].italic);
    EXPECT_EQ(second.emphasis[1].start, 2);
    EXPECT_TRUE(second.emphasis[1].italic);
    EXPECT_FALSE(second.emphasis[1].code);
    EXPECT_EQ(second.emphasis[2].start, 3);
    EXPECT_FALSE(second.emphasis[2].italic);
    EXPECT_TRUE(second.emphasis[2].bold);  // back to the paragraph style's bold

    // A character style that sets bold leaves the paragraph's own flag alone.
    Store characterBold;
    characterBold.add(40, 2021, style([](ProtobufWriter& w) { w.varintField(1, 1); }))
        .add(41, 2021, style([](ProtobufWriter& w) { w.stringField(5, "Courier New"); }))
        .add(1, 2001, storage({"word next", std::nullopt, {{8, table({{0, 40}, {5, 41}})}}}));
    const auto plain = build(characterBold).paragraphs.at(0);
    EXPECT_FALSE(plain.bold);
    EXPECT_FALSE(plain.fontSize.has_value());
    EXPECT_TRUE(plain.emphasis.at(0).bold);
    EXPECT_TRUE(plain.emphasis.at(1).code);
}

TEST(PagesParserStyles, ChainsInheritUnsetPropertiesWithinEightStyles) {
    PagesParser parser;
    Store store;
    store.add(2, 2021, style([](ProtobufWriter& w) {
             w.varintField(1, 0);
             w.varintField(2, 0);
         }))
        .add(1, 2021, style([](ProtobufWriter& w) { w.varintField(2, 1); }, 2));
    const auto flags = parser.resolvedCharFlags(1, store.objects);
    EXPECT_EQ(flags.italic, true);
    EXPECT_EQ(flags.bold, false);
    EXPECT_FALSE(flags.fontSize.has_value());

    // Ten styles 101..110, each the parent of the one before; only 110 sets bold.
    Store chain;
    for (std::uint64_t id = 101; id <= 110; ++id)
        chain.add(id, 2021, style(id == 110 ? Build([](ProtobufWriter& w) { w.varintField(1, 1); }) : kNoProperties,
                                  id < 110 ? id + 1 : 0));
    EXPECT_FALSE(parser.resolvedCharFlags(101, chain.objects).bold.has_value());
    EXPECT_EQ(parser.resolvedCharFlags(103, chain.objects).bold, true);  // eight styles from 103 reach 110

    Store loop;
    loop.add(7, 2021, style([](ProtobufWriter& w) { w.varintField(11, 1); }, 7));
    loop.add(8, 2021, style(kNoProperties, 9)).add(9, 2021, style(kNoProperties, 8));
    EXPECT_EQ(parser.resolvedCharFlags(7, loop.objects).underline, true);
    EXPECT_FALSE(parser.resolvedCharFlags(8, loop.objects).underline.has_value());
}

TEST(PagesParserStyles, HeadingLevelsFromStyleIdentifiers) {
    const std::vector<std::pair<std::string, std::optional<int>>> cases = {
        {"paragraphstyle-Heading 2", 2}, {"paragraphstyle-Heading 9", 6},  {"paragraphstyle-Heading 0", 1},
        {"paragraphstyle-Heading -3", 1}, {"paragraphstyle-Heading +4", 4}, {"paragraphstyle-Heading x", std::nullopt},
        {"paragraphstyle-Heading 2 ", std::nullopt}, {"paragraphstyle-Heading +-2", std::nullopt},
        {"paragraphstyle-Heading 99999999999999999999", std::nullopt}, {"paragraphstyle-Heading", 1},
        {"paragraphstyle-Heading ", std::nullopt}, {"paragraphstyle-Title", 1}, {"paragraphstyle-title", std::nullopt},
        {"Heading 1", std::nullopt}, {"custom-paragraphstyle-Heading 3", 3}, {"paragraphstyle-Body", std::nullopt},
    };
    for (const auto& [identifier, level] : cases)
        EXPECT_EQ(PagesParser::headingLevel(identifier), level) << identifier;
}

TEST(PagesParserStyles, TraitsComeFromTheFirstIdentifierOfTheChain) {
    Store store;
    store.add(50, 2022, style(kNoProperties, 0, "lumaro-code-block"))
        .add(51, 2022, style(kNoProperties, 50))
        .add(52, 2022, style(kNoProperties, 0, "paragraphstyle-Heading 3"))
        .add(53, 2022, style(kNoProperties, 52, "paragraphstyle-Body"))  // the child's identifier decides
        .add(1, 2001, storage({"code\nhead\nbody", std::nullopt, {{5, table({{0, 51}, {5, 52}, {10, 53}})}}}));
    const auto document = build(store);
    ASSERT_EQ(document.paragraphs.size(), 3u);
    EXPECT_TRUE(document.paragraphs[0].isCodeBlock);
    EXPECT_FALSE(document.paragraphs[0].headingLevel.has_value());
    EXPECT_EQ(document.paragraphs[1].headingLevel, 3);
    EXPECT_FALSE(document.paragraphs[1].isCodeBlock);
    EXPECT_FALSE(document.paragraphs[2].headingLevel.has_value());

    // Nine styles without identifier above one with it: the eighth ends the walk.
    Store deep;
    deep.add(209, 2022, style(kNoProperties, 0, "paragraphstyle-Title"));
    for (std::uint64_t id = 201; id < 209; ++id) deep.add(id, 2022, style(kNoProperties, id + 1));
    PagesParser parser;
    EXPECT_FALSE(parser.identifierTraits(201, deep.objects).headingLevel.has_value());
    EXPECT_EQ(parser.identifierTraits(202, deep.objects).headingLevel, 1);
}

Bytes listStyle(std::initializer_list<std::uint64_t> labelTypes, std::uint64_t parent = 0) {
    return message([&](ProtobufWriter& w) {
        w.messageField(1, message([&](ProtobufWriter& base) {
            if (parent) base.messageField(3, reference(parent));
        }));
        for (const auto type : labelTypes) w.varintField(11, type);
    });
}

TEST(PagesParserLists, MembershipLevelAndKindFromListStyles) {
    Store store;
    store.add(60, 2023, listStyle({1, 3}))
        .add(61, 2023, listStyle({0}))
        .add(62, 2023, listStyle({}, 60))  // inherits its label types
        .add(63, 2023, message([](ProtobufWriter& w) { w.packedVarintField(11, {3}); }));
    const auto& objects = store.objects;
    using Levels = std::vector<PagesParser::ListLevelRun>;
    using Styles = std::vector<PagesParser::ListStyleRun>;
    const auto at = [&](std::int64_t p, const Levels& levels, const Styles& styles) {
        return PagesParser::listMembership(p, levels, styles, objects);
    };
    const Styles bulletThenNumbers{{0, 60}};
    EXPECT_EQ(at(0, {{0, 0}}, bulletThenNumbers).level, 0);
    EXPECT_FALSE(at(0, {{0, 0}}, bulletThenNumbers).ordered);
    EXPECT_TRUE(at(0, {{0, 1}}, bulletThenNumbers).ordered);
    EXPECT_TRUE(at(0, {{0, 5}}, bulletThenNumbers).ordered);
    EXPECT_EQ(at(0, {{0, 5}}, bulletThenNumbers).level, 5);
    EXPECT_EQ(at(9, {}, bulletThenNumbers).level, 0);  // no level run: level 0

    EXPECT_FALSE(at(0, {{0, 0}}, {{0, 61}}).level.has_value());  // label type none
    EXPECT_FALSE(at(3, {{0, 1}}, {{5, 60}}).level.has_value());  // before the first list style
    EXPECT_EQ(at(7, {{0, 1}, {6, 2}}, {{5, 60}}).level, 2);
    EXPECT_FALSE(at(20, {}, {{0, 60}, {10, 61}}).level.has_value());  // a later "none" style ends the list
    EXPECT_TRUE(at(0, {{0, 1}}, {{0, 62}}).ordered);
    EXPECT_FALSE(at(0, {}, {{0, 63}}).level.has_value());  // packed label types are not read
    EXPECT_FALSE(at(0, {}, {{0, 999}}).level.has_value());  // missing style

    // Through the walk: list levels go to each paragraph from its start.
    Store walk;
    walk.add(60, 2023, listStyle({1, 3}))
        .add(1, 2001, storage({"a\nb\nc", std::nullopt, {{6, message([](ProtobufWriter& w) {
                                                                w.messageField(1, message([](ProtobufWriter& e) {
                                                                    e.varintField(1, 2);
                                                                    e.varintField(2, 1);
                                                                }));
                                                            })},
                                                        {7, table({{2, 60}})}}}));
    const auto document = build(walk);
    ASSERT_EQ(document.paragraphs.size(), 3u);
    EXPECT_FALSE(document.paragraphs[0].listLevel.has_value());
    EXPECT_EQ(document.paragraphs[1].listLevel, 1);
    EXPECT_TRUE(document.paragraphs[1].listOrdered);
    EXPECT_EQ(document.paragraphs[2].listLevel, 1);
}

TEST(PagesParserLists, AbsurdListLevelsStayBounded) {
    Store store;
    store.add(60, 2023, listStyle({1}))
        .add(1, 2001, storage({"deep", std::nullopt, {{6, message([](ProtobufWriter& w) {
                                                          w.messageField(1, message([](ProtobufWriter& e) {
                                                              e.varintField(1, 0);
                                                              e.varintField(2, 1ull << 40);
                                                          }));
                                                      })},
                                                      {7, table({{0, 60}})}}}));
    const auto document = build(store);
    ASSERT_TRUE(document.paragraphs.at(0).listLevel.has_value());
    EXPECT_LE(*document.paragraphs[0].listLevel, 100);
}

TEST(PagesParserLinks, RunsEndAtTheNextSmartFieldEntry) {
    Store store;
    store.add(20, 2032, message([](ProtobufWriter& w) { w.stringField(2, "a"); }))
        .add(21, 2032, message([](ProtobufWriter& w) { w.stringField(2, "b"); }))
        .add(22, 2032, message([](ProtobufWriter& w) { w.varintField(1, 1); }));
    const auto runs = [&](const Bytes& smartFields) {
        return PagesParser::linkRuns(storage({"", std::nullopt, {{11, smartFields}}}), store.objects);
    };
    auto one = runs(table({{9, 22}, {5, 20}}));  // entries out of order
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].start, 5);
    EXPECT_EQ(one[0].end, 9);
    EXPECT_EQ(one[0].url, "a");

    auto two = runs(table({{5, 20}, {9, 21}, {12, 22}}));
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1].start, 9);
    EXPECT_EQ(two[1].end, 12);
    EXPECT_EQ(two[1].url, "b");

    EXPECT_TRUE(runs(table({{5, 20}})).empty());
    // A date field keeps its format in field 2: it is no link.
    store.add(23, 2034, message([](ProtobufWriter& w) { w.stringField(2, "MMMM d, y"); }));
    EXPECT_TRUE(runs(table({{0, 23}, {9, 0}})).empty());
    EXPECT_TRUE(runs(table({{5, 20}, {5, 21}})).empty());  // the second entry at 5 is last
    EXPECT_EQ(runs(table({{5, 20}, {5, 0}, {7, 0}})).size(), 0u);
}

// A footnote: a kind-2 storage, and a mark object that refers to it.
TEST(PagesParserFootnotes, NumberedAcrossStoragesWithCleanedTexts) {
    Store store;
    store.add(70, 2001, storage({kObject + "\tSee" + kLineBreak + "page 4.\n", 2, {}}))
        .add(71, 2001, storage({kObject, 2, {}}))
        .add(80, 2008, message([](ProtobufWriter& w) { w.messageField(1, reference(70)); }))
        .add(81, 2008, message([](ProtobufWriter& w) { w.messageField(1, reference(71)); }))
        .add(1, 2001, storage({"ab\ncd", std::nullopt, {{16, table({{1, 80}, {40, 81}})}}}))
        .add(2, 2001, storage({"ef", 0, {{16, table({{0, 80}})}, {9, table({{0, 80}})}}}));
    const auto document = build(store);
    ASSERT_EQ(document.paragraphs.size(), 3u);
    ASSERT_EQ(document.paragraphs[0].footnoteMarkers.size(), 1u);
    EXPECT_EQ(document.paragraphs[0].footnoteMarkers[0].offset, 1);
    EXPECT_EQ(document.paragraphs[0].footnoteMarkers[0].number, 1);
    // Past the end of the text: at the end of the last paragraph.
    ASSERT_EQ(document.paragraphs[1].footnoteMarkers.size(), 1u);
    EXPECT_EQ(document.paragraphs[1].footnoteMarkers[0].offset, 2);
    EXPECT_EQ(document.paragraphs[1].footnoteMarkers[0].number, 2);
    // The next storage goes on counting; a reference in two tables counts twice.
    ASSERT_EQ(document.paragraphs[2].footnoteMarkers.size(), 2u);
    EXPECT_EQ(document.paragraphs[2].footnoteMarkers[1].number, 4);

    ASSERT_EQ(document.footnotes.size(), 4u);
    EXPECT_EQ(document.footnotes[0].text, "See page 4.");
    EXPECT_EQ(document.footnotes[1].number, 2);
    EXPECT_EQ(document.footnotes[1].text, "");
    EXPECT_EQ(document.footnotes[3].text, "See page 4.");
}

TEST(PagesParserFootnotes, StorageIsFoundAtMostThreeReferencesAway) {
    Store store;
    store.add(90, 2001, storage({"note", 2, {}}));
    // Chains 1xx -> ... -> 90 with the entry's object `hops` references away.
    const auto chain = [&](std::uint64_t first, int hops) {
        for (int i = 0; i < hops; ++i) {
            const std::uint64_t target = i + 1 == hops ? 90 : first + i + 1;
            store.add(first + i, 2008, message([&](ProtobufWriter& w) {
                w.varintField(2, 5);
                w.messageField(4, reference(target));
            }));
        }
    };
    chain(100, 3);
    chain(200, 4);
    PagesParser parser;
    const PagesParser::FootnoteStorageIDs ids{90};
    EXPECT_EQ(parser.resolveFootnoteStorage(100, ids, store.objects, 0), 90u);
    EXPECT_FALSE(parser.resolveFootnoteStorage(200, ids, store.objects, 0).has_value());
    EXPECT_EQ(parser.resolveFootnoteStorage(90, ids, store.objects, 5), 90u);
}

// A package data record: identifier in field 1, stored file name in field 4.
Bytes dataRecord(std::uint64_t id, const std::string& name) {
    return message([&](ProtobufWriter& w) {
        w.varintField(1, id);
        w.stringField(4, name);
    });
}

TEST(PagesParserImages, CatalogueNamesAndFilters) {
    Store store;
    store.add(2, 11006, message([&](ProtobufWriter& w) {
        w.messageField(4, dataRecord(3, "photo-2.jpg"));
        w.messageField(4, dataRecord(1, "photo.png"));
        w.messageField(4, dataRecord(2, "photo-1.png"));
        w.messageField(4, dataRecord(4, "image-small.png"));
        w.messageField(4, dataRecord(5, "PresetImageFill3-1.jpg"));
        w.messageField(4, dataRecord(6, "bullet_1.png"));
        w.messageField(4, dataRecord(7, "notes.txt"));
        w.messageField(4, dataRecord(8, "README"));
        w.messageField(4, dataRecord(9, "dir/inner.png"));
    }));
    const PagesImageCatalog catalog(store.objects);
    ASSERT_EQ(catalog.assets().size(), 3u);
    EXPECT_EQ(catalog.assets()[0].referenceName, "photo.png");
    EXPECT_EQ(catalog.assets()[1].referenceName, "photo-1.png");
    EXPECT_EQ(catalog.assets()[1].dataFileName, "photo-1.png");
    EXPECT_EQ(catalog.assets()[2].referenceName, "photo.jpg");

    std::set<std::string> used{"a.png", "a-1.png", "b"};
    EXPECT_EQ(PagesImageCatalog::uniqueName("a.png", used), "a-2.png");
    EXPECT_EQ(PagesImageCatalog::uniqueName("b", used), "b-1");
    EXPECT_EQ(PagesImageCatalog::logicalName("x-1-22.tiff"), "x-1.tiff");
    EXPECT_EQ(PagesImageCatalog::logicalName("x-.png"), "x-.png");
    EXPECT_EQ(PagesImageCatalog::logicalName("-3.png"), ".png");
    EXPECT_TRUE(PagesImageCatalog::isImageName("Scan.JPEG"));
}

TEST(PagesParserImages, DataRecordsAreFoundToNestingDepthSeven) {
    const auto nested = [](int depth, std::uint64_t id) {
        Bytes inner = message([&](ProtobufWriter& w) {
            w.varintField(1, id);
            w.stringField(4, "deep" + std::to_string(depth) + ".png");
        });
        for (int level = depth; level > 1; --level) inner = message([&](ProtobufWriter& w) { w.messageField(1, inner); });
        return message([&](ProtobufWriter& w) { w.messageField(2, inner); });  // the object's own message: depth 0
    };
    Store store;
    store.add(1, 1, nested(7, 70)).add(2, 1, nested(8, 80));
    const PagesImageCatalog catalog(store.objects);
    ASSERT_EQ(catalog.assets().size(), 1u);
    EXPECT_EQ(catalog.assets()[0].dataID, 70u);
}

TEST(PagesParserImages, LaterDataRecordsReplaceEarlierOnesInWalkOrder) {
    // The outer record's own fields follow the nested one on the wire, but the
    // outer message comes first in the walk, so the nested name wins; a later
    // record that names no image replaces nothing.
    Store store;
    store.add(1, 1, message([](ProtobufWriter& w) {
        w.messageField(2, dataRecord(5, "inner.png"));
        w.varintField(1, 5);
        w.stringField(4, "outer.png");
        w.messageField(3, dataRecord(5, "notes.txt"));
    }));
    store.add(2, 1, message([](ProtobufWriter& w) { w.messageField(2, dataRecord(6, "first.png")); }));
    store.add(3, 1, dataRecord(6, "second.jpg"));
    const PagesImageCatalog catalog(store.objects);
    ASSERT_EQ(catalog.assets().size(), 2u);
    EXPECT_EQ(catalog.assets()[0].dataFileName, "inner.png");
    EXPECT_EQ(catalog.assets()[1].dataFileName, "second.jpg");
}

TEST(PagesParserImages, AttachmentsResolveOnlyAtObjectCharacters) {
    Store store;
    store.add(2, 11006, message([](ProtobufWriter& w) {
             w.messageField(4, message([](ProtobufWriter& d) {
                 d.varintField(1, 5);
                 d.stringField(4, "shot-1.png");
             }));
         }))
        .add(300, 3005, message([](ProtobufWriter& w) { w.messageField(11, reference(5)); }))
        .add(301, 2003, message([](ProtobufWriter& w) { w.messageField(1, reference(300)); }))
        // "a" U+FFFC "b" U+FFFC: an entry at 0 (no attachment there) and at 1
        // resolve; the second attachment has no image.
        .add(1, 2001, storage({"a" + kObject + "b" + kObject, std::nullopt, {{9, table({{0, 301}, {1, 301}, {3, 999}})}}}));
    const auto document = build(store);
    ASSERT_EQ(document.paragraphs.size(), 1u);
    const auto& references = document.paragraphs[0].attachmentReferences;
    ASSERT_EQ(references.size(), 2u);
    EXPECT_EQ(references[0], "shot.png");
    EXPECT_FALSE(references[1].has_value());
    ASSERT_EQ(document.imageAssets.size(), 1u);
    EXPECT_EQ(document.imageAssets[0].referenceName, "shot.png");
    EXPECT_EQ(document.imageAssets[0].dataFileName, "shot-1.png");
}

TEST(PagesParserTables, RichCellsRenderInlineMarkdownAndAlignment) {
    Store store;
    store.add(40, 2021, style([](ProtobufWriter& w) { w.varintField(1, 1); }))
        .add(41, 2022, message([](ProtobufWriter& w) { w.messageField(12, message([](ProtobufWriter& p) { p.varintField(1, 2); })); }))
        .add(42, 2022, message([](ProtobufWriter& w) { w.messageField(12, message([](ProtobufWriter& p) { p.varintField(1, 1); })); }))
        .add(500, 2001, storage({"a b", std::nullopt, {{8, table({{2, 40}})}, {5, table({{0, 0}, {0, 41}})}}}))
        .add(501, 2001, storage({"x\ny", std::nullopt, {{5, table({{0, 42}})}}}))
        .add(502, 2001, storage({"z", std::nullopt, {}}));
    PagesParser parser;
    EXPECT_EQ(parser.cellMarkdown(*store.objects.object(500), store.objects), "a **b**");
    EXPECT_EQ(parser.cellMarkdown(*store.objects.object(501), store.objects), "x\ny");
    EXPECT_EQ(PagesParser::cellAlignment(*store.objects.object(500), store.objects),
              PagesParser::Table::ColumnAlignment::center);
    EXPECT_EQ(PagesParser::cellAlignment(*store.objects.object(501), store.objects),
              PagesParser::Table::ColumnAlignment::right);
    EXPECT_FALSE(PagesParser::cellAlignment(*store.objects.object(502), store.objects).has_value());
}

TEST(PagesParserTables, DrawableThatIsNotATableGivesNoGrid) {
    Store store;
    store.add(600, 3005, message([](ProtobufWriter& w) { w.messageField(2, reference(601)); }))
        .add(601, 6001, message([](ProtobufWriter& w) { w.varintField(6, 1); }))
        .add(602, 2003, message([](ProtobufWriter& w) { w.messageField(1, reference(600)); }))
        .add(603, 6000, message([](ProtobufWriter& w) { w.messageField(2, reference(601)); }))
        .add(604, 3005, message([](ProtobufWriter& w) { w.messageField(1, reference(603)); }));
    PagesParser parser;
    EXPECT_FALSE(parser.tableGrid(602, store.objects).has_value());  // drawable of type 3005
    EXPECT_FALSE(parser.tableGrid(604, store.objects).has_value());  // attachment not of type 2003
    EXPECT_FALSE(parser.tableGrid(999, store.objects).has_value());
}

}  // namespace
