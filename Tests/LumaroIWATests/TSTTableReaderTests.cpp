#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "LumaroIWA/IWAContainer.hpp"
#include "LumaroIWA/Protobuf.hpp"
#include "LumaroIWA/TSTCellFormat.hpp"
#include "LumaroIWA/TSTTableReader.hpp"
#include "LumaroIWA/UTF8Text.hpp"
#include "Support/TestSupport.hpp"

using namespace lumaro;
using Alignment = TSTTable::Alignment;
using Grid = std::vector<std::vector<std::string>>;

namespace {

constexpr std::uint8_t kText = 3;
constexpr std::uint64_t kBias = 6176;

void putLE(Bytes& bytes, std::size_t at, std::uint64_t value, std::size_t width) {
    if (bytes.size() < at + width) bytes.resize(at + width);
    for (std::size_t index = 0; index < width; ++index) bytes[at + index] = static_cast<std::uint8_t>(value >> (8 * index));
}

Bytes decimal128(std::uint64_t coefficient, std::uint64_t exponent, bool negative = false) {
    Bytes bytes;
    putLE(bytes, 0, coefficient, 8);
    putLE(bytes, 8, (negative ? 1ull << 63 : 0) | (exponent << 49), 8);
    return bytes;
}

Bytes doubleBytes(double value) {
    Bytes bytes;
    putLE(bytes, 0, std::bit_cast<std::uint64_t>(value), 8);
    return bytes;
}

Bytes reference(std::uint64_t identifier) {
    ProtobufWriter writer;
    writer.varintField(1, identifier);
    return writer.take();
}

// A cell of the current layout: kind at 1, flags at 8 (0x40: a style key at
// 16), key (and value) at 12.
Bytes currentCell(std::uint8_t kind, std::uint32_t key, std::optional<std::uint32_t> styleKey = std::nullopt) {
    Bytes cell(24, 0);
    cell[0] = 5;
    cell[1] = kind;
    if (styleKey) cell[8] = 0x40;
    putLE(cell, 12, key, 4);
    if (styleKey) putLE(cell, 16, *styleKey, 4);
    return cell;
}

Bytes currentValueCell(std::uint8_t kind, const Bytes& value, bool styled = false) {
    Bytes cell(std::max<std::size_t>(12 + value.size(), 20), 0);
    cell[0] = 5;
    cell[1] = kind;
    if (styled) cell[8] = 0x40;
    std::copy(value.begin(), value.end(), cell.begin() + 12);
    return cell;
}

// A cell of the older layout: key at 16, value 12 bytes before its end.
Bytes olderCell(std::uint8_t kind, std::uint32_t key, double value) {
    Bytes cell(32, 0);
    cell[1] = kind;
    putLE(cell, 16, key, 4);
    putLE(cell, 20, std::bit_cast<std::uint64_t>(value), 8);
    return cell;
}

struct Row {
    std::uint64_t index;
    std::vector<std::optional<Bytes>> cells;  // absent: 0xFFFF in the offsets
    bool older = false;
    bool strayCellBuffer = false;  // a field 6 without its field 7
};

// Builds a table model with its data store, keyed tables and tiles.
class TableBuilder {
public:
    std::uint64_t rows = 3, columns = 1;
    std::uint64_t modelType = TSTTableReader::kTableModelType;
    std::optional<std::uint64_t> tileSize;
    bool withTileStorage = true;
    std::map<std::uint32_t, std::string> strings;
    std::map<std::uint32_t, std::uint64_t> styleAlignments;  // style key -> alignment value
    IWAObjectStore store;

    void addRows(std::uint64_t tileNumber, const std::vector<Row>& rowInfos) { tiles_.push_back({tileNumber, rowInfos}); }
    void addRichText(std::uint32_t key, const std::string& text, bool throughHolder = false) {
        richTexts_.push_back({key, text, throughHolder});
    }
    void add(std::uint64_t identifier, std::uint64_t type, Bytes payload) { store.add({identifier, type, std::move(payload)}); }

    std::optional<TSTTable> read(std::map<std::string, Alignment> richAlignments = {}) {
        build();
        return TSTTableReader::table(
            kModel, store, [](const IWAObject& object) { return std::string("*").append(TSTTableReader::plainText(object)).append("*"); },
            [richAlignments](const IWAObject& object) -> std::optional<Alignment> {
                const auto found = richAlignments.find(TSTTableReader::plainText(object));
                if (found == richAlignments.end()) return std::nullopt;
                return found->second;
            });
    }

    static constexpr std::uint64_t kModel = 100;

private:
    struct Tile {
        std::uint64_t number;
        std::vector<Row> rows;
    };
    struct RichText {
        std::uint32_t key;
        std::string text;
        bool throughHolder;
    };

    static Bytes rowInfo(const Row& row) {
        Bytes cells, offsets;
        for (const auto& cell : row.cells) {
            putLE(offsets, offsets.size(), cell ? cells.size() : 0xFFFF, 2);
            if (cell) cells.insert(cells.end(), cell->begin(), cell->end());
        }
        ProtobufWriter writer;
        writer.varintField(1, row.index);
        if (row.strayCellBuffer) writer.bytesField(6, Bytes{5, 3, 0, 0});
        writer.bytesField(row.older ? 3 : 6, cells);
        writer.bytesField(row.older ? 4 : 7, offsets);
        return writer.take();
    }

    std::uint64_t keyedTable(std::uint64_t identifier, const std::vector<Bytes>& entries) {
        ProtobufWriter table;
        for (const auto& entry : entries) table.messageField(3, entry);
        add(identifier, 6005, table.take());
        return identifier;
    }

    void build() {
        std::uint64_t next = 1000;
        std::vector<Bytes> stringEntries, styleEntries, richEntries;
        for (const auto& [key, text] : strings) {
            ProtobufWriter entry;
            entry.varintField(1, key);
            entry.stringField(3, text);
            stringEntries.push_back(entry.take());
        }
        for (const auto& [key, alignment] : styleAlignments) {
            ProtobufWriter paragraph, style, entry;
            paragraph.varintField(1, alignment);
            style.messageField(12, paragraph.bytes());
            add(++next, 6004, style.take());
            entry.varintField(1, key);
            entry.messageField(4, reference(next));
            styleEntries.push_back(entry.take());
        }
        for (const auto& rich : richTexts_) {
            ProtobufWriter storage, entry;
            storage.stringField(3, rich.text);
            const std::uint64_t storageID = ++next;
            add(storageID, TSTTableReader::kTextStorageType, storage.take());
            if (rich.throughHolder) {
                ProtobufWriter holder;
                holder.messageField(1, reference(storageID));
                add(++next, 6218, holder.take());
            }
            entry.varintField(1, rich.key);
            entry.messageField(9, reference(rich.throughHolder ? next : storageID));
            richEntries.push_back(entry.take());
        }
        ProtobufWriter tileStorage;
        for (const auto& tile : tiles_) {
            ProtobufWriter tileObject, tileEntry;
            for (const auto& row : tile.rows) tileObject.messageField(5, rowInfo(row));
            add(++next, 6002, tileObject.take());
            tileEntry.varintField(1, tile.number);
            tileEntry.messageField(2, reference(next));
            tileStorage.messageField(1, tileEntry.bytes());
        }
        if (tileSize) tileStorage.varintField(2, *tileSize);

        ProtobufWriter dataStore, model;
        if (withTileStorage) dataStore.messageField(3, tileStorage.bytes());
        dataStore.messageField(4, reference(keyedTable(10, stringEntries)));
        dataStore.messageField(5, reference(keyedTable(11, styleEntries)));
        dataStore.messageField(17, reference(keyedTable(12, richEntries)));
        model.varintField(6, rows);
        model.varintField(7, columns);
        model.messageField(4, dataStore.bytes());
        add(kModel, modelType, model.take());
    }

    std::vector<Tile> tiles_;
    std::vector<RichText> richTexts_;
};

std::string utf8(ByteView bytes) { return decodingUTF8(bytes); }
std::string utf8(std::initializer_list<std::uint8_t> bytes) { return decodingUTF8(Bytes(bytes)); }

}  // namespace

TEST(TSTCellFormat, Decimal128) {
    auto text = [](std::uint64_t coefficient, std::uint64_t exponent, bool negative = false) {
        return TSTCellFormat::decimal128String(decimal128(coefficient, exponent, negative), 0);
    };
    EXPECT_EQ(text(12345, 6174), "123.45");
    EXPECT_EQ(text(5, 6173), "0.005");
    EXPECT_EQ(text(1200, 6175), "120");
    EXPECT_EQ(text(7, 6178), "700");
    EXPECT_EQ(text(0, 6176, true), "0");
    EXPECT_EQ(text(0, 6170, true), "0");
    EXPECT_EQ(text(0, 6180, true), "0");  // zero is never written "0000"
    EXPECT_EQ(text(25, 6175, true), "-2.5");
    EXPECT_EQ(text(18446744073709551615ull, kBias), "18446744073709551615");
    EXPECT_EQ(text(3, 6300), "3" + std::string(40, '0'));  // at most 40 zeros
    EXPECT_EQ(text(1, 0)->size(), 6178u);                  // "0." and 6176 digits

    Bytes infinity = decimal128(0, 0);
    infinity[15] = 0x78;
    EXPECT_EQ(TSTCellFormat::decimal128String(infinity, 0), std::nullopt);
    Bytes wide = decimal128(1, kBias);
    wide[8] = 1;  // a coefficient bit above the low 64
    EXPECT_EQ(TSTCellFormat::decimal128String(wide, 0), std::nullopt);
    EXPECT_EQ(TSTCellFormat::decimal128String(decimal128(1, kBias), 1), std::nullopt);  // 15 bytes left
    EXPECT_EQ(TSTCellFormat::decimal128String(decimal128(1, kBias), 99), std::nullopt);
}

TEST(TSTCellFormat, DoublesDatesDurationsBooleans) {
    EXPECT_EQ(TSTCellFormat::formatDouble(3.0), "3");
    EXPECT_EQ(TSTCellFormat::formatDouble(-0.0), "0");
    EXPECT_EQ(TSTCellFormat::formatDouble(0.1), "0.1");
    EXPECT_EQ(TSTCellFormat::formatDouble(-42.0), "-42");
    EXPECT_EQ(TSTCellFormat::formatDouble(999999999999999.0), "999999999999999");
    EXPECT_EQ(TSTCellFormat::formatDouble(1e15), "1e+15");
    EXPECT_EQ(TSTCellFormat::formatDouble(1.0 / 3.0), "0.333333333333");
    EXPECT_EQ(TSTCellFormat::formatDouble(std::nan("")), "");
    EXPECT_EQ(TSTCellFormat::formatDouble(-INFINITY), "");
    EXPECT_EQ(TSTCellFormat::formatDouble(std::numeric_limits<double>::denorm_min()), "");

    EXPECT_EQ(TSTCellFormat::dateString(0), "2001-01-01 00:00");
    EXPECT_EQ(TSTCellFormat::dateString(-0.5), "2000-12-31 23:59");
    EXPECT_EQ(TSTCellFormat::dateString(730996200.0), "2024-03-01 14:30");  // after a leap day
    EXPECT_EQ(TSTCellFormat::dateString(730909859.9), "2024-02-29 14:30");  // seconds are cut, not rounded
    EXPECT_EQ(TSTCellFormat::dateString(-978307200.0), "1970-01-01 00:00");
    EXPECT_EQ(TSTCellFormat::dateString(252424080000.0 - 978307200.0), "9969-01-01 00:00");
    EXPECT_EQ(TSTCellFormat::dateString(-62135596800.0 - 978307200.0), "0001-01-01 00:00");
    EXPECT_EQ(TSTCellFormat::dateString(-62135596800.0 - 978307200.0 - 86400), "0001-12-31 00:00");  // 1 BC
    EXPECT_EQ(TSTCellFormat::dateString(INFINITY), std::nullopt);
    EXPECT_EQ(TSTCellFormat::dateString(1e300), std::nullopt);

    EXPECT_EQ(TSTCellFormat::durationString(89.5), "90s");
    EXPECT_EQ(TSTCellFormat::durationString(-89.5), "-90s");
    EXPECT_EQ(TSTCellFormat::durationString(-0.4), "0s");
    EXPECT_EQ(TSTCellFormat::durationString(1e19), std::nullopt);
    EXPECT_EQ(TSTCellFormat::durationString(std::nan("")), std::nullopt);

    auto boolean = [](double value) { return TSTCellFormat::frozenValue(doubleBytes(value), 0, 7, true); };
    EXPECT_EQ(boolean(0.0), "false");
    EXPECT_EQ(boolean(-0.0), "false");
    EXPECT_EQ(boolean(2.0), "true");
    EXPECT_EQ(TSTCellFormat::frozenValue(doubleBytes(3), 0, 2, false), "3");
    EXPECT_EQ(TSTCellFormat::frozenValue(doubleBytes(3), 1, 5, false), std::nullopt);  // 7 bytes left
    EXPECT_EQ(TSTCellFormat::frozenValue(doubleBytes(3), 0, kText, false), std::nullopt);
}

TEST(UTF8Text, IllFormedSequencesBecomeReplacementCharacters) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(utf8({'a', 0xFF, 'b'}), "a" + replacement + "b");
    EXPECT_EQ(utf8({0xE2, 0x82}), replacement);                                     // truncated: one
    EXPECT_EQ(utf8({0xE2, 0x82, 'x'}), replacement + "x");
    EXPECT_EQ(utf8({0xC0, 0xAF}), replacement + replacement);                       // overlong
    EXPECT_EQ(utf8({0xED, 0xA0, 0x80}), replacement + replacement + replacement);  // surrogate
    EXPECT_EQ(utf8({0xF4, 0x90, 0x80, 0x80}), replacement + replacement + replacement + replacement);
    const std::string valid = "é€𝄞";
    EXPECT_EQ(utf8(ByteView(reinterpret_cast<const std::uint8_t*>(valid.data()), valid.size())), valid);
}

TEST(TSTTableReader, ModelsThatCannotBeReadAreAbsent) {
    auto read = [](auto change) {
        TableBuilder table;
        table.addRows(0, {{0, {currentCell(kText, 1)}}});
        table.strings = {{1, "a"}};
        change(table);
        return table.read();
    };
    EXPECT_TRUE(read([](TableBuilder&) {}));
    EXPECT_FALSE(read([](TableBuilder& t) { t.modelType = 6000; }));
    EXPECT_FALSE(read([](TableBuilder& t) { t.rows = 0; }));
    EXPECT_FALSE(read([](TableBuilder& t) { t.columns = 0; }));
    EXPECT_FALSE(read([](TableBuilder& t) { t.withTileStorage = false; }));
    EXPECT_FALSE(read([](TableBuilder& t) { t.rows = 1ull << 40; }));             // too large to allocate
    EXPECT_FALSE(read([](TableBuilder& t) { t.rows = t.columns = 1ull << 32; }));  // product overflows
    EXPECT_FALSE(TSTTableReader::table(
        7, IWAObjectStore(), [](const IWAObject&) { return ""; }, [](const IWAObject&) { return std::nullopt; }));
}

TEST(TSTTableReader, ColumnAlignmentFollowsBodyCellKinds) {
    TableBuilder table;
    table.columns = 4;
    table.strings = {{1, "Name"}, {2, "Count"}, {3, "n/a"}};
    const auto number = currentValueCell(2, decimal128(42, kBias));
    table.addRows(0, {
        // Header cells never mark a column: column 3 holds only a header number.
        {0, {currentCell(kText, 1), currentCell(kText, 2), currentCell(kText, 2), number}},
        {1, {currentCell(kText, 1), number, number, std::nullopt}},
        // An empty text cell (key 9 is in no table) keeps column 1 right;
        // a non-empty one (key 3) keeps column 2 left.
        {2, {std::nullopt, currentCell(kText, 9), currentCell(kText, 3), std::nullopt}},
    });
    const auto read = table.read();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->cells, (Grid{{"Name", "Count", "Count", "42"}, {"Name", "42", "42", ""}, {"", "", "n/a", ""}}));
    EXPECT_EQ(read->columnAlignments,
              (std::vector<Alignment>{Alignment::left, Alignment::right, Alignment::left, Alignment::left}));
}

TEST(TSTTableReader, CellStylesSetTheAlignmentExplicitly) {
    TableBuilder table;
    table.columns = 4;
    table.rows = 3;
    table.strings = {{1, "x"}};
    table.styleAlignments = {{0, 0}, {5, 1}, {6, 2}};
    const auto styledNumber = currentValueCell(2, decimal128(8, kBias), true);  // style key 0 (the high word)
    table.addRows(0, {{1,
                       {currentCell(kText, 1, 5), styledNumber, currentCell(kText, 1, 6), currentCell(kText, 1, 77)}},
                      {2, {currentCell(kText, 1), styledNumber, std::nullopt, currentValueCell(2, decimal128(1, kBias))}}});
    const auto read = table.read();
    ASSERT_TRUE(read);
    // Right from a style on text cells; a style with alignment 0 keeps numbers
    // left; a style key missing from the table is an explicit left.
    EXPECT_EQ(read->columnAlignments,
              (std::vector<Alignment>{Alignment::right, Alignment::left, Alignment::center, Alignment::left}));
    EXPECT_EQ(read->cells[1], (std::vector<std::string>{"x", "8", "x", "x"}));
}

TEST(TSTTableReader, MissingCellsAndDamagedBuffersLeaveCellsEmpty) {
    TableBuilder table;
    table.columns = 3;
    table.rows = 4;
    table.strings = {{1, "a"}, {7, "later"}, {3, "stale"}};
    Bytes truncated = currentCell(kText, 1);
    truncated.resize(14);  // the key does not fit
    table.addRows(0, {
        {1, {std::nullopt, currentValueCell(2, decimal128(5, kBias)), currentCell(kText, 1)}},
        {2, {currentCell(kText, 7), std::nullopt, truncated}},
        {9, {currentCell(kText, 1)}},  // beyond the row count
        // An empty cell's key word is its style key, not a string key.
        {3, {currentCell(0, 3), std::nullopt, std::nullopt}},
    });
    const auto read = table.read();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->cells, (Grid{{"", "", ""}, {"", "5", "a"}, {"later", "", ""}, {"", "", ""}}));
    EXPECT_EQ(read->columnAlignments, (std::vector<Alignment>{Alignment::left, Alignment::right, Alignment::left}));
}

TEST(TSTTableReader, OlderLayoutAndTiles) {
    TableBuilder table;
    table.columns = 3;
    table.rows = 6;
    table.tileSize = 2;
    table.strings = {{1, "one"}, {4, "kept"}};
    // A row info with field 6 but no field 7 is read through fields 3 and 4.
    Row mixed{1, {olderCell(kText, 1, 0), olderCell(2, 0, 3.0), olderCell(5, 0, 0)}, true, true};
    table.addRows(0, {mixed});
    table.addRows(2, {{0, {olderCell(6, 0, 89.5), olderCell(7, 0, -0.0), olderCell(9, 4, 0)}, true}});
    table.addRows(1ull << 63, {{0, {olderCell(kText, 1, 0)}, true}});  // base row overflows
    const auto read = table.read();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->cells, (Grid{{"", "", ""},
                                 {"one", "3", "2001-01-01 00:00"},
                                 {"", "", ""},
                                 {"", "", ""},
                                 {"90s", "false", "kept"},  // kind 9 has no rich text in this layout
                                 {"", "", ""}}));
    EXPECT_EQ(read->columnAlignments, (std::vector<Alignment>{Alignment::left, Alignment::right, Alignment::left}));
}

TEST(TSTTableReader, RichTextCells) {
    TableBuilder table;
    table.columns = 3;
    table.strings = {{8, "plain"}};
    table.addRichText(1, "Heading");
    table.addRichText(2, "Body", true);  // through a holder object
    table.addRichText(3, "Centered");
    table.addRows(0, {{0, {currentCell(9, 3), currentCell(9, 1), currentCell(9, 8)}},
                      {1, {currentCell(9, 2), currentCell(9, 1), std::nullopt}},
                      {2, {currentCell(9, 3), currentCell(kText, 8), std::nullopt}}});
    const auto read = table.read({{"Centered", Alignment::center}, {"Body", Alignment::right}});
    ASSERT_TRUE(read);
    EXPECT_EQ(read->cells, (Grid{{"*Centered*", "*Heading*", "plain"}, {"*Body*", "*Heading*", ""}, {"*Centered*", "plain", ""}}));
    // Column 0: the header's center is not taken, the body's right then center is.
    EXPECT_EQ(read->columnAlignments, (std::vector<Alignment>{Alignment::center, Alignment::left, Alignment::left}));
}

TEST(TSTTable, TrimmedToUsedRange) {
    const TSTTable grid({{"", "", ""}, {"x", "", ""}, {"", "", ""}}, {Alignment::right, Alignment::center, Alignment::left});
    const auto trimmed = grid.trimmedToUsedRange();
    ASSERT_TRUE(trimmed);
    EXPECT_EQ(trimmed->rows(), 2u);
    EXPECT_EQ(trimmed->columns(), 1u);
    EXPECT_EQ(*trimmed, TSTTable({{""}, {"x"}}, {Alignment::right}));

    // Short rows and missing alignments are filled; whitespace is text.
    const TSTTable ragged({{"a"}, {"", "", " "}}, {});
    EXPECT_EQ(ragged.trimmedToUsedRange(),
              TSTTable({{"a", "", ""}, {"", "", " "}}, {Alignment::left, Alignment::left, Alignment::left}));
    EXPECT_EQ(TSTTable({{"", ""}}, {}).trimmedToUsedRange(), std::nullopt);
    EXPECT_EQ(TSTTable().columns(), 0u);
}

TEST(TSTTable, AlignmentRawValues) {
    for (const auto alignment : {Alignment::left, Alignment::center, Alignment::right})
        EXPECT_EQ(TSTTable::alignmentFromRawValue(TSTTable::rawValue(alignment)), alignment);
    EXPECT_EQ(TSTTable::rawValue(Alignment::center), "center");
    EXPECT_EQ(TSTTable::alignmentFromRawValue("Left"), std::nullopt);
    EXPECT_EQ(TSTTable::alignmentFromRawValue(""), std::nullopt);
}

namespace {

IWAObjectStore fixtureStore(const std::string& name) {
    const auto document = test::fixturesDirectory() / name;
    auto entries = IWAContainer::entries(document, "Index/", ".iwa");
    if (entries.empty())
        if (const auto folder = IWAContainer::topFolder(document))
            entries = IWAContainer::entriesInFolder(document, *folder, "Index/", ".iwa");
    IWAObjectStore store;
    for (const auto& entry : entries)
        for (auto& object : IWAArchive::objects(entry.data)) store.add(std::move(object));
    return store;
}

std::vector<TSTTable> fixtureTables(const std::string& name) {
    const IWAObjectStore store = fixtureStore(name);
    std::vector<TSTTable> tables;
    for (const IWAObject* model : store.objects(TSTTableReader::kTableModelType)) {
        const auto table = TSTTableReader::table(
            model->identifier, store, [](const IWAObject& storage) { return TSTTableReader::plainText(storage); },
            [](const IWAObject&) { return std::nullopt; });
        EXPECT_TRUE(table) << name << " model " << model->identifier;
        if (table) tables.push_back(*table);
    }
    return tables;
}

// The pieces of `text` from each `open` up to the next `close`.
std::vector<std::string> sections(const std::string& text, const std::string& open, const std::string& close) {
    std::vector<std::string> found;
    for (auto start = text.find(open); start != std::string::npos; start = text.find(open, start)) {
        const auto end = text.find(close, start);
        if (end == std::string::npos) break;
        found.push_back(text.substr(start, end - start));
        start = end;
    }
    return found;
}

// A cell of pages2html: tags dropped, the entities it writes decoded,
// surrounding white space trimmed.
std::string htmlCellText(const std::string& cell) {
    std::string plain;
    bool inTag = false;
    for (const char c : cell) {
        if (c == '<') inTag = true;
        else if (c == '>') inTag = false;
        else if (!inTag) plain += c;
    }
    for (const auto& [entity, character] : {std::pair<std::string, std::string>{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}})
        for (auto at = plain.find(entity); at != std::string::npos; at = plain.find(entity, at + 1))
            plain.replace(at, entity.size(), character);
    const auto first = plain.find_first_not_of(" \n");
    if (first == std::string::npos) return "";
    return plain.substr(first, plain.find_last_not_of(" \n") - first + 1);
}

std::vector<Grid> htmlTables(const std::string& html) {
    std::vector<Grid> tables;
    for (const auto& table : sections(html, "<table", "</table>")) {
        Grid grid;
        for (const auto& row : sections(table, "<tr", "</tr>")) {
            grid.emplace_back();
            for (const auto& cell : sections(row, "<td", "</td>")) grid.back().push_back(htmlCellText(cell));
        }
        tables.push_back(grid);
    }
    return tables;
}

}  // namespace

TEST(TSTTableReader, FixtureTablesMatchAnIndependentReader) {
    if (!test::commandExists("pages2html")) GTEST_SKIP() << "pages2html is not installed";
    for (const std::string name : {"envmon-userguide.pages", "testPages2013.pages"}) {
        const auto result = test::runCommand({"pages2html", (test::fixturesDirectory() / name).string()});
        ASSERT_EQ(result.status, 0) << name;
        const auto expected = htmlTables(result.standardOutput);
        const auto tables = fixtureTables(name);
        ASSERT_FALSE(tables.empty()) << name;
        ASSERT_EQ(tables.size(), expected.size()) << name;
        for (std::size_t index = 0; index < tables.size(); ++index) EXPECT_EQ(tables[index].cells, expected[index]) << name;
    }
}

TEST(TSTTableReader, FixtureTablesWithNumbersAndRichText) {
    EXPECT_EQ(fixtureTables("testPages2013.pages").at(0),
              TSTTable({{"Column one", "Column two", "Column three"},
                        {"Cell one", "Cell two", "Cell three"},
                        {"Cell four", "Cell five", "Cell six"},
                        {"Cell seven", "Cell eight", "Cell nine"}},
                       {Alignment::left, Alignment::left, Alignment::left}));

    // Rich-text header cells; a decimal128 quantity column aligned right.
    // Currency cells (another kind) have no text of their own.
    const auto invoice = fixtureTables("pages5-extra-dir.pages");
    ASSERT_EQ(invoice.size(), 1u);
    EXPECT_EQ(invoice[0].cells, (Grid{{"Description", "Quantity", "Unit Price", "Cost"},
                                      {"Item 1", "55", "", ""},
                                      {"Item 2", "13", "", ""},
                                      {"Item 3", "25", "", ""},
                                      {"", "", "", ""},
                                      {"Total", "", "", ""}}));
    EXPECT_EQ(invoice[0].columnAlignments[1], Alignment::right);

    // Eight two-column tables of rich text in document order.
    std::vector<std::size_t> rows;
    for (const auto& table : fixtureTables("doofinder-manual-2018.pages")) {
        EXPECT_EQ(table.columns(), 2u);
        rows.push_back(table.rows());
    }
    EXPECT_EQ(rows, (std::vector<std::size_t>{1, 4, 2, 4, 5, 2, 2, 10}));
}
