#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "LumaroPages/PagesFile.hpp"
#include "LumaroPages/PagesLegacyParser.hpp"
#include "Support/TestSupport.hpp"

using lumaro::PagesDocument;
using lumaro::PagesFileError;
using lumaro::PagesLegacyHeading;
using lumaro::PagesLegacyParser;
using ColumnAlignment = lumaro::PagesDocument::Paragraph::Table::ColumnAlignment;

namespace {

PagesDocument parse(const std::string& xml) {
    const lumaro::Bytes bytes(xml.begin(), xml.end());
    return PagesLegacyParser().parseDocument(bytes);
}

std::string document(const std::string& content) {
    return "<?xml version=\"1.0\"?><sl:document xmlns:sf=\"urn:sf\" xmlns:sfa=\"urn:sfa\" xmlns:sl=\"urn:sl\">" +
           content + "</sl:document>";
}

std::string body(const std::string& paragraphs) {
    return "<sf:text-storage sf:kind=\"body\"><sf:text-body>" + paragraphs + "</sf:text-body></sf:text-storage>";
}

std::vector<std::string> texts(const PagesDocument& document) {
    std::vector<std::string> result;
    for (const auto& paragraph : document.paragraphs) result.push_back(paragraph.text);
    return result;
}

std::optional<int> level(const char* name) { return PagesLegacyHeading::level(std::string_view(name)); }

TEST(PagesLegacyParser, OnlyParagraphsInsideTheBodyAreRead) {
    const auto parsed = parse(document(
        "<sf:p>before any storage</sf:p>"
        "<sf:text-storage sf:kind=\"header\"><sf:p>header</sf:p></sf:text-storage>" +
        body("<sf:p>one</sf:p>"
             "<sf:text-storage sf:kind=\"textbox\"><sf:p>box inside body</sf:p></sf:text-storage>"
             "<sf:p>two</sf:p>") +
        "<sf:text-storage><sf:p>no kind</sf:p></sf:text-storage><sf:p>after</sf:p>"));
    EXPECT_EQ(texts(parsed), (std::vector<std::string>{"one", "box inside body", "two"}));
    EXPECT_TRUE(parsed.imageAssets.empty());
    EXPECT_TRUE(parsed.footnotes.empty());
}

TEST(PagesLegacyParser, ParagraphTextKeepsWhitespaceBreaksAndTabsButNotGhostText) {
    const auto parsed = parse(document(body(
        "<sf:p>  lead<sf:tab/>tab<sf:br/>br<sf:lnbr/>ln<sf:crbr/>cr<sf:pgbr/>pg<sf:line-break/>end </sf:p>"
        "<sf:p/>"
        "<sf:p>a<sf:ghost-text>placeholder<sf:ghost-text>deeper</sf:ghost-text><sf:br/>still</sf:ghost-text>b</sf:p>"
        "<sf:p>x &amp; &#x263A; <sf:span>y</sf:span></sf:p>")));
    EXPECT_EQ(texts(parsed),
              (std::vector<std::string>{"  lead\ttab\nbr\nln\ncr\npg\nend ", "", "ab", "x & \xE2\x98\xBA y"}));
}

TEST(PagesLegacyParser, AnUnclosedParagraphIsDiscardedByTheNextOne) {
    const auto parsed = parse(document(body("<sf:p>outer<sf:p>inner</sf:p>tail</sf:p>")));
    EXPECT_EQ(texts(parsed), (std::vector<std::string>{"inner"}));
}

TEST(PagesLegacyHeading, LevelsFromStyleNamesInSeveralLanguages) {
    EXPECT_EQ(level("\xC3\x9C" "berschrift 3"), 3);
    EXPECT_EQ(level("\xC3\x9C" "BERSCHRIFT 3"), 3);
    EXPECT_EQ(level("U\xCC\x88" "berschrift 4"), 4);  // decomposed U + diaeresis
    EXPECT_EQ(level("Ueberschrift 5"), 5);
    EXPECT_EQ(level("Sous-titre"), 2);
    EXPECT_EQ(level("Untertitel"), 2);
    EXPECT_EQ(level("Subtitle 1"), 2);
    EXPECT_EQ(level("T\xC3\x8DTULO"), 1);
    EXPECT_EQ(level("Titolo"), 1);
    EXPECT_EQ(level("Chapter Title"), 1);
    EXPECT_EQ(level("Heading"), 2);
    EXPECT_EQ(level("Heading 0"), 1);
    EXPECT_EQ(level("Heading 9"), 6);
    EXPECT_EQ(level("Heading 12"), 1);
    EXPECT_EQ(level("Encabezado 4"), 4);
    EXPECT_EQ(level("Rubrik 3"), 3);
    EXPECT_EQ(level("Heading \xD9\xA3"), 2);     // ARABIC-INDIC DIGIT THREE is a number, not a decimal digit
    EXPECT_EQ(level("Heading \xC2\xB2 4"), 2);   // superscript two comes first
    EXPECT_EQ(level("Heading 3\xCC\x81"), 2);    // a digit with a mark is not one digit
    EXPECT_EQ(level("Body"), std::nullopt);
    EXPECT_EQ(level("Body 3"), std::nullopt);
    EXPECT_EQ(level(""), std::nullopt);
    EXPECT_EQ(PagesLegacyHeading::level(std::nullopt), std::nullopt);
    EXPECT_EQ(level("HEADING\xFF 3"), 2);  // not UTF-8: ASCII letters still match
}

TEST(PagesLegacyParser, HeadingLevelsFollowStyleReferencesAndParents) {
    const auto parsed = parse(document(
        "<sf:stylesheet>"
        "<sf:paragraphstyle sf:name=\"Title\" sf:ident=\"title\"/>"
        "<sf:paragraphstyle sfa:ID=\"SFWPParagraphStyle-7\" sf:parent-ident=\"title\"/>"
        "<sf:paragraphstyle sf:name=\"Heading 3\" sf:ident=\"h3\" sfa:ID=\"ID-h3\"/>"
        "<sf:paragraphstyle sf:ident=\"loop-a\" sf:parent-ident=\"loop-b\"/>"
        "<sf:paragraphstyle sf:ident=\"loop-b\" sf:parent-ident=\"loop-a\"/>"
        "<sf:paragraphstyle sf:name=\"Body\" sf:ident=\"h3\"/>"  // replaces h3 under its ident only
        "</sf:stylesheet>" +
        body("<sf:p sf:style=\"SFWPParagraphStyle-7\">a</sf:p><sf:p sf:style=\"ID-h3\">b</sf:p>"
             "<sf:p sf:style=\"h3\">c</sf:p><sf:p sf:style=\"loop-a\">d</sf:p>"
             "<sf:p sf:style=\"missing\">e</sf:p><sf:p>f</sf:p>")));
    std::vector<std::optional<int>> levels;
    for (const auto& paragraph : parsed.paragraphs) levels.push_back(paragraph.headingLevel);
    EXPECT_EQ(levels, (std::vector<std::optional<int>>{1, 3, std::nullopt, std::nullopt, std::nullopt, std::nullopt}));
}

TEST(PagesLegacyParser, StyleParentChainsAreFollowedSixteenDeep) {
    // Style s0 is named; s_k names s_(k-1) as parent. A paragraph on s15 is 16
    // records from the name, one on s16 is 17.
    std::string styles = "<sf:paragraphstyle sf:name=\"Heading 4\" sf:ident=\"s0\"/>";
    for (int k = 1; k <= 16; ++k) {
        styles += "<sf:paragraphstyle sf:ident=\"s" + std::to_string(k) + "\" sf:parent-ident=\"s" +
                  std::to_string(k - 1) + "\"/>";
    }
    const auto parsed = parse(document(styles + body("<sf:p sf:style=\"s15\">in</sf:p><sf:p sf:style=\"s16\">out</sf:p>")));
    ASSERT_EQ(parsed.paragraphs.size(), 2u);
    EXPECT_EQ(parsed.paragraphs[0].headingLevel, 4);
    EXPECT_EQ(parsed.paragraphs[1].headingLevel, std::nullopt);
}

TEST(PagesLegacyParser, TablesAreTrimmedAndAppendedAfterTheText) {
    const std::string table =
        "<sf:grid sf:numcols=\"3\" sf:numrows=\"3\"><sf:datasource>"
        "<sf:t sf:v=\"Name\"/><sf:t sf:v=\"Count\"/><sf:e/>"
        "<sf:t sf:v=\"pears\"/><sf:n sf:v=\"12\"/><sf:e/>"
        "<sf:e/><sf:e/><sf:e/>"
        "</sf:datasource></sf:grid>";
    const std::string emptyTable =
        "<sf:grid sf:numcols=\"2\" sf:numrows=\"1\"><sf:datasource><sf:e/><sf:e/></sf:datasource></sf:grid>";
    const auto parsed = parse(document(body("<sf:p>before</sf:p>" + table + emptyTable + "<sf:p>after</sf:p>")));
    ASSERT_EQ(parsed.paragraphs.size(), 3u);
    EXPECT_EQ(parsed.paragraphs[1].text, "after");
    const auto& last = parsed.paragraphs[2];
    EXPECT_EQ(last.text, "");
    EXPECT_EQ(last.headingLevel, std::nullopt);
    ASSERT_EQ(last.tables.size(), 1u);
    EXPECT_EQ(last.tables[0].cells, (std::vector<std::vector<std::string>>{{"Name", "Count"}, {"pears", "12"}}));
    EXPECT_EQ(last.tables[0].columnAlignments, (std::vector{ColumnAlignment::left, ColumnAlignment::right}));
}

TEST(PagesLegacyParser, MalformedXMLIsAnErrorWithTheParserMessage) {
    for (const std::string& xml : {document(body("<sf:p>open")), std::string("not xml at all"), std::string()}) {
        try {
            parse(xml);
            FAIL() << "no error for " << xml;
        } catch (const PagesFileError& error) {
            EXPECT_EQ(error.kind(), PagesFileError::Case::legacyXMLParsingFailed);
            ASSERT_TRUE(error.underlying().has_value());
            EXPECT_EQ(std::string(error.what()), "Failed to parse legacy Pages index.xml: " + *error.underlying());
            EXPECT_NE(error.underlying()->find(", column "), std::string::npos) << *error.underlying();
        }
    }
}

TEST(PagesLegacyParser, EncodingComesFromTheDocument) {
    const std::string latin1 =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><d><sf:text-storage sf:kind=\"body\"><sf:p>caf\xE9</sf:p>"
        "</sf:text-storage></d>";
    EXPECT_EQ(texts(parse(latin1)), (std::vector<std::string>{"caf\xC3\xA9"}));
}

TEST(PagesLegacyParser, EntityExpansionIsBounded) {
    // Each level multiplies by ten: fully expanded this is 10^9 copies of "lol".
    std::string declarations = "<!ENTITY l0 \"lol\">";
    for (int k = 1; k <= 9; ++k) {
        std::string references;
        for (int i = 0; i < 10; ++i) references += "&l" + std::to_string(k - 1) + ";";
        declarations += "<!ENTITY l" + std::to_string(k) + " \"" + references + "\">";
    }
    const std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE d [" + declarations +
                             "]><d><sf:text-storage sf:kind=\"body\"><sf:p>&l9;</sf:p></sf:text-storage></d>";
    EXPECT_THROW(parse(bomb), PagesFileError);

    // Modest use of internal entities still reads.
    const std::string modest = "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY co \"Kelvane Inc.\">]><d>"
                               "<sf:text-storage sf:kind=\"body\"><sf:p>&co; and &co;</sf:p></sf:text-storage></d>";
    EXPECT_EQ(texts(parse(modest)), (std::vector<std::string>{"Kelvane Inc. and Kelvane Inc."}));
}

TEST(PagesLegacyParser, DeepNestingDoesNotExhaustTheStack) {
    constexpr int kDepth = 200000;
    std::string xml = "<d><sf:text-storage sf:kind=\"body\"><sf:p>";
    for (int i = 0; i < kDepth; ++i) xml += "<sf:ghost-text><sf:text-storage sf:kind=\"x\">";
    xml += "hidden";
    for (int i = 0; i < kDepth; ++i) xml += "</sf:text-storage></sf:ghost-text>";
    xml += "shown</sf:p></sf:text-storage></d>";
    EXPECT_EQ(texts(parse(xml)), (std::vector<std::string>{"shown"}));
}

// index.xml of the legacy documents among the fixtures, read with unzip.
std::string fixtureIndexXML(const std::string& name) {
    const auto path = lumaro::test::fixturesDirectory() / name;
    const auto result = lumaro::test::runCommand({"unzip", "-p", path.string(), "index.xml"});
    EXPECT_EQ(result.status, 0) << name;
    return result.standardOutput;
}

bool hasParagraph(const PagesDocument& document, const std::string& text) {
    const auto all = texts(document);
    return std::find(all.begin(), all.end(), text) != all.end();
}

bool mentions(const PagesDocument& document, const std::string& text) {
    for (const auto& paragraph : document.paragraphs) {
        if (paragraph.text.find(text) != std::string::npos) return true;
    }
    return false;
}

TEST(PagesLegacyParser, FixtureDocumentsGiveTheirParagraphs) {
    if (!lumaro::test::commandExists("unzip")) GTEST_SKIP() << "unzip is not installed";
    // Pages ends these paragraphs with a line-break element.
    const auto lorem = parse(fixtureIndexXML("lorem-ipsum-pages09.pages"));
    EXPECT_TRUE(hasParagraph(lorem, "Variatio Ipsius\n"));
    EXPECT_TRUE(mentions(lorem, "Lorem ipsum dolor sit amet, consectetur adipiscing elit."));
    for (const auto& paragraph : lorem.paragraphs) EXPECT_TRUE(paragraph.tables.empty());

    // The template's placeholder text is ghost text: its title paragraph keeps
    // its level but none of the placeholder's words.
    const auto sample = parse(fixtureIndexXML("testPages.pages"));
    EXPECT_TRUE(hasParagraph(sample, "Sample pages document\n"));
    EXPECT_TRUE(hasParagraph(sample, "Some plain text to parse.\n"));
    EXPECT_FALSE(mentions(sample, "Consectetur adipiscing elit"));
    EXPECT_TRUE(std::any_of(sample.paragraphs.begin(), sample.paragraphs.end(),
                            [](const auto& paragraph) { return paragraph.headingLevel == 1; }));
    ASSERT_FALSE(sample.paragraphs.empty());
    ASSERT_EQ(sample.paragraphs.back().tables.size(), 1u);
    EXPECT_EQ(sample.paragraphs.back().tables[0].cells[0],
              (std::vector<std::string>{"Column one", "Column two", "Column three"}));

    const auto manual = parse(fixtureIndexXML("smsd-manual.pages"));
    EXPECT_TRUE(hasParagraph(manual, "Filetypes\n"));
    std::size_t tableCount = 0;
    for (const auto& paragraph : manual.paragraphs) tableCount += paragraph.tables.size();
    EXPECT_EQ(tableCount, 3u);

    const auto layout = parse(fixtureIndexXML("testPagesLayout.pages"));
    ASSERT_FALSE(layout.paragraphs.empty());
    EXPECT_EQ(layout.paragraphs.back().tables.size(), 1u);
    const auto footnotes = parse(fixtureIndexXML("testPagesHeadersFootersFootnotes.pages"));
    EXPECT_FALSE(mentions(footnotes, "THIS IS SOME HEADER TEXT"));
    EXPECT_NO_THROW(parse(fixtureIndexXML("testPagesHeadersFootersAlphaLower.pages")));
}

TEST(PagesLegacyParser, GzippedFixtureReadsOnceUnzipped) {
    if (!lumaro::test::commandExists("gunzip")) GTEST_SKIP() << "gunzip is not installed";
    const auto path = lumaro::test::fixturesDirectory() / "pages4.xml.gz";
    const auto xml = lumaro::test::runCommand({"gunzip", "-c", path.string()});
    ASSERT_EQ(xml.status, 0);
    const auto parsed = parse(xml.standardOutput);
    for (const auto& paragraph : parsed.paragraphs) EXPECT_TRUE(paragraph.tables.empty());
}

}  // namespace

namespace {

// golden/legacy/<fixture>.md holds the Markdown of a legacy fixture's index.xml,
// checked by hand against pages2text.
TEST(PagesLegacyParser, FixtureMarkdownMatchesGolden) {
    if (!lumaro::test::commandExists("unzip")) GTEST_SKIP() << "unzip is not installed";
    const auto folder = lumaro::test::sourceDirectory() / "Tests" / "LumaroPagesTests" / "golden" / "legacy";
    std::size_t compared = 0;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        if (item.path().extension() != ".md") continue;
        SCOPED_TRACE(item.path().string());
        const auto markdown = parse(fixtureIndexXML(item.path().stem().string())).markdown();
        EXPECT_EQ(markdown, lumaro::test::readFileText(item.path()));
        ++compared;
    }
    EXPECT_GE(compared, 2u);
}

}  // namespace
