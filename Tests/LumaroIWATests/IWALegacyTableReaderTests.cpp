#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LumaroIWA/IWALegacyTableReader.hpp"
#include "Support/TestSupport.hpp"

using lumaro::IWALegacyError;
using lumaro::IWALegacyTableReader;
using lumaro::TSTTable;
using Alignment = lumaro::TSTTable::Alignment;
using Grid = std::vector<std::vector<std::string>>;

namespace {

std::vector<TSTTable> tablesOf(const std::string& xml) {
    const lumaro::Bytes bytes(xml.begin(), xml.end());
    return IWALegacyTableReader::tables(bytes);
}

std::string document(const std::string& body) {
    return "<?xml version=\"1.0\"?><sl:document xmlns:sf=\"urn:sf\" xmlns:sfa=\"urn:sfa\" xmlns:sl=\"urn:sl\">" + body +
           "</sl:document>";
}

// A grid whose cells are text cells with the given values.
std::string grid(const std::string& columns, const std::string& rows, const std::vector<std::string>& values) {
    std::string cells;
    for (const auto& value : values) cells += "<sf:t><sf:ct sfa:s=\"" + value + "\"/></sf:t>";
    return "<sf:tabular-model><sf:grid sf:numcols=\"" + columns + "\" sf:numrows=\"" + rows +
           "\"><sf:datasource>" + cells + "</sf:datasource></sf:grid></sf:tabular-model>";
}

TEST(IWALegacyTableReader, CellsFillRowsAndNumberColumnsAlignRight) {
    auto tables = tablesOf(document(grid("2", "2", {"A", "B", "1", "2"})));
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].cells, (Grid{{"A", "B"}, {"1", "2"}}));
    EXPECT_EQ(tables[0].columnAlignments, (std::vector{Alignment::right, Alignment::right}));

    tables = tablesOf(document(grid("2", "2", {"A", "B", "x", "2"})));
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].columnAlignments, (std::vector{Alignment::left, Alignment::right}));
}

TEST(IWALegacyTableReader, NumberTestIsWholeTextStrtodSyntax) {
    // Row 0 is a header of non-numbers and never counts; empty body cells are ignored.
    const auto tables = tablesOf(document(grid(
        "7", "3", {"h", "h", "h", "h", "h", "h", "h",
                   " 5", "1e3", "nan", "5x", "0x1p3", "", "-inf",
                   "6", "7", "8", "9", "10", "", ""})));
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].columnAlignments,
              (std::vector{Alignment::left, Alignment::right, Alignment::right, Alignment::left, Alignment::right,
                           Alignment::left, Alignment::right}));
}

TEST(IWALegacyTableReader, CellValueSources) {
    const auto tables = tablesOf(document(
        "<sf:grid sf:numcols=\"5\" sf:numrows=\"1\"><sf:datasource>"
        "<sf:n sf:v=\"3\"><sf:ct sfa:s=\"three\"/></sf:n>"   // the rich text replaces the value
        "<sf:n sf:v=\"4\" sfa:number=\"5\"/>"                 // sf:v comes first
        "<sf:d sfa:number=\"6\"/>"
        "<sf:f sf:v=\"1\"><sf:fo sf:fs=\"=A1+B1\"/></sf:f>"
        "<sf:e/>"
        "</sf:datasource></sf:grid>"));
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].cells, (Grid{{"three", "4", "6", "=A1+B1", ""}}));
    EXPECT_EQ(tables[0].columnAlignments, std::vector<Alignment>(5, Alignment::left));
}

TEST(IWALegacyTableReader, CellsBeyondTheGridAreDroppedAndMissingOnesEmpty) {
    auto tables = tablesOf(document(grid("2", "2", {"a", "b", "c", "d", "e"})));
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].cells, (Grid{{"a", "b"}, {"c", "d"}}));

    tables = tablesOf(document(grid("2", "3", {"a", "b", "c"})));
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].cells, (Grid{{"a", "b"}, {"c", ""}, {"", ""}}));
}

TEST(IWALegacyTableReader, CountsDecideWhetherThereIsATable) {
    EXPECT_TRUE(tablesOf(document("<sf:p>no tables here</sf:p>")).empty());
    EXPECT_TRUE(tablesOf(document(grid("0", "2", {"a", "b"}))).empty());
    EXPECT_TRUE(tablesOf(document(grid("2x", "2", {"a", "b"}))).empty());
    EXPECT_TRUE(tablesOf(document(grid("-2", "2", {"a", "b"}))).empty());
    EXPECT_TRUE(tablesOf(document(grid("99999999999999999999", "1", {"a"}))).empty());
    EXPECT_EQ(tablesOf(document(grid("+1", "1", {"a"}))).size(), 1u);
    // A data source before any grid has nothing to size it.
    EXPECT_TRUE(tablesOf(document("<sf:datasource><sf:t sf:v=\"a\"/></sf:datasource>")).empty());
    // Counts too large to allocate give no table rather than exhausting memory.
    EXPECT_TRUE(tablesOf(document(grid("1000000000", "1000000000", {"a"}))).empty());
    EXPECT_TRUE(tablesOf(document(grid("9223372036854775807", "9223372036854775807", {"a"}))).empty());
}

TEST(IWALegacyTableReader, DataSourcesShareTheCellsOfTheirGrid) {
    // A second data source in the same grid appends to the first one's cells;
    // a data source after the grid reuses its counts.
    const auto tables = tablesOf(document(
        "<sf:grid sf:numcols=\"2\" sf:numrows=\"2\">"
        "<sf:datasource><sf:t sf:v=\"a\"/><sf:t sf:v=\"b\"/></sf:datasource>"
        "<sf:datasource><sf:t sf:v=\"c\"/></sf:datasource>"
        "</sf:grid>"
        "<sf:grid sf:numcols=\"1\" sf:numrows=\"1\"/>"
        "<sf:datasource><sf:t sf:v=\"z\"/></sf:datasource>"));
    ASSERT_EQ(tables.size(), 3u);
    EXPECT_EQ(tables[0].cells, (Grid{{"a", "b"}, {"", ""}}));
    EXPECT_EQ(tables[1].cells, (Grid{{"a", "b"}, {"c", ""}}));
    EXPECT_EQ(tables[2].cells, (Grid{{"z"}}));
}

TEST(IWALegacyTableReader, NamesMatchWithTheirPrefixes) {
    // Namespace processing is off: another prefix for the same namespace is another name.
    const auto tables = tablesOf(
        "<doc xmlns:x=\"urn:sf\"><x:grid x:numcols=\"1\" x:numrows=\"1\"><x:datasource><x:t x:v=\"a\"/>"
        "</x:datasource></x:grid><sf:grid sf:numcols=\"1\" sf:numrows=\"1\"><sf:datasource>"
        "<sf:t SF:v=\"b\"/></sf:datasource></sf:grid></doc>");
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].cells, (Grid{{""}}));
}

TEST(IWALegacyTableReader, MalformedXMLThrowsWithTheParserMessage) {
    try {
        tablesOf(document(grid("1", "1", {"a"})) + "<unclosed");
        FAIL() << "no error";
    } catch (const IWALegacyError& error) {
        ASSERT_TRUE(error.underlying().has_value());
        EXPECT_NE(error.underlying()->find("line 1"), std::string::npos) << *error.underlying();
        EXPECT_NE(std::string(error.what()).find(*error.underlying()), std::string::npos);
    }
    EXPECT_THROW(tablesOf(""), IWALegacyError);
}

TEST(IWALegacyTableReader, FixtureTable) {
    const auto path = lumaro::test::fixturesDirectory() / "testPages.pages";
    if (!lumaro::test::commandExists("unzip")) GTEST_SKIP() << "unzip is not installed";
    const auto xml = lumaro::test::runCommand({"unzip", "-p", path.string(), "index.xml"});
    ASSERT_EQ(xml.status, 0);
    const auto tables = tablesOf(xml.standardOutput);
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].cells, (Grid{{"Column one", "Column two", "Column three"},
                                     {"Cell one", "Cell two", "Cell three"},
                                     {"Cell four", "Cell five", "Cell six"},
                                     {"Cell seven", "Cell eight", "Cell nine"}}));
}

}  // namespace
