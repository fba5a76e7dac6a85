// The template table: one 5 x 4 table (one header row, one header column) as
// the objects a one-table document adds to the blank template. Every table the
// writer makes is a copy of this set with shifted identifiers and some payloads
// replaced, so the set only has to be consistent and to read as an empty table
// of the right shape. Objects whose content the writer never looks at carry
// empty payloads; they keep the identifiers, types and files the writer's copy
// machinery expects.

#include "TemplateMessage.hpp"

namespace lumaro::templatesource {
namespace {

constexpr std::uint64_t kStylesheet = 1732613;
constexpr std::uint64_t kBodyStorage = 1732539;
constexpr std::uint64_t kBodyStyle = 1731511;
constexpr std::uint64_t kTableHeaderStyle = 1731526;
constexpr std::uint64_t kTableBodyStyle = 1731527;
constexpr std::uint64_t kNoneListStyle = 1731481;
constexpr std::uint64_t kTableCellStyle = 1731720;

constexpr std::uint64_t kTableDrawable = 1733236;
constexpr std::uint64_t kTableModel = 1733271;
constexpr std::uint64_t kCellTile = 1733209;
constexpr std::uint64_t kSecondTile = 1733765;
constexpr std::uint64_t kRowColumnIdentifiers = 1733217;
constexpr std::uint64_t kStrokeSidecar = 1733259;
constexpr std::uint64_t kRowBucket = 1733229;
constexpr std::uint64_t kColumnBucket = 1733266;
constexpr std::uint64_t kStringList = 1733190;
constexpr std::uint64_t kStyleList = 1733212;
constexpr std::uint64_t kRichTextList = 1733197;
constexpr std::uint64_t kFormulaList = 1733192;
constexpr std::uint64_t kFormatList = 1733193;
constexpr std::uint64_t kCommentList = 1733194;
constexpr std::uint64_t kHeaderParagraphStyle = 1734364;
constexpr std::uint64_t kTableAttachment = 1734389;
constexpr std::uint64_t kCaptionStorage = 1734247;

constexpr std::uint64_t kRows = 5;
constexpr std::uint64_t kColumns = 4;
constexpr float kRowHeight = 22.73f;
constexpr float kColumnWidth = 120.38605f;
constexpr std::uint64_t kCellStorageVersion = 5;

const std::string kCalculationEngine = "Index/CalculationEngine-1732610.iwa";
const std::string kViewState = "Index/ViewState.iwa";

// Data list kinds as the table reads them.
enum ListType : std::uint64_t { strings = 1, formats = 2, formulas = 3, cellStyles = 4, richText = 8, comments = 10 };

Message dataList(ListType type) { return Message().varint(1, type).varint(2, 1); }

void appendLittle(Bytes& bytes, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// Offsets of a row's records, padded with "no cell" to 255 entries.
Bytes offsetTable(std::uint64_t recordSize) {
    Bytes table;
    for (std::uint64_t column = 0; column < 255; ++column)
        appendLittle(table, column < kColumns ? column * recordSize : 0xFFFF, 2);
    return table;
}

// Every cell empty: the older records are empty-cell placeholders, the
// current ones plain cells pointing at the empty strings of the string list
// (row 0 with the header paragraph style key 1).
Message tileRow(std::uint64_t row) {
    Bytes older;
    Bytes current;
    const bool header = row == 0;
    for (std::uint64_t column = 0; column < kColumns; ++column) {
        const Bytes placeholder = {0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        older.insert(older.end(), placeholder.begin(), placeholder.end());
        const Bytes prefix = {0x05, 0x03, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(header ? 0x48 : 0x08), 0x10, 0x02, 0};
        current.insert(current.end(), prefix.begin(), prefix.end());
        appendLittle(current, row * kColumns + column + 1, 4);
        if (header) appendLittle(current, 1, 4);
        const Bytes suffix = {0x05, 0, 0, 0, 0x01, 0, 0, 0};
        current.insert(current.end(), suffix.begin(), suffix.end());
    }
    Message info;
    info.varint(1, row)
        .varint(2, kColumns)
        .raw(3, older)
        .raw(4, offsetTable(12))
        .varint(5, kCellStorageVersion)
        .raw(6, current)
        .raw(7, offsetTable(header ? 28 : 24));
    return info;
}

Message cellTile() {
    Message tile;
    tile.varint(1, 0).varint(2, 0).varint(3, 0).varint(4, kRows);
    for (std::uint64_t row = 0; row < kRows; ++row) tile.message(5, tileRow(row));
    tile.varint(6, kCellStorageVersion).varint(7, 1);
    return tile;
}

Message emptyTile() { return Message().varint(1, 0).varint(2, 0).varint(3, 0).varint(4, 0).varint(6, 5).varint(7, 1); }

Message stringList() {
    Message list;
    list.varint(1, strings).varint(2, kRows * kColumns + 1);
    for (std::uint64_t key = 1; key <= kRows * kColumns; ++key)
        list.message(3, Message().varint(1, key).varint(2, 1).text(3, ""));
    return list;
}

Message styleList() {
    Message list;
    list.varint(1, cellStyles).varint(2, 2).message(3, Message().varint(1, 1).varint(2, 1).ref(4, kHeaderParagraphStyle));
    return list;
}

Message bucket(std::uint64_t count, float size, std::uint64_t across) {
    Message bucket;
    bucket.varint(1, 1);
    for (std::uint64_t i = 0; i < count; ++i)
        bucket.message(2, Message().varint(1, i).f32(2, size).varint(3, 0).varint(4, across));
    return bucket;
}

// Stable identifiers of rows and columns (high nibble 5 for columns, 6 for rows).
Message rowColumnIdentifiers() {
    constexpr std::uint64_t kColumnBase = 0x5000000000000001ull;
    constexpr std::uint64_t kColumnLow = 0x0300000000000007ull;
    constexpr std::uint64_t kRowBase = 0x6000000000000001ull;
    constexpr std::uint64_t kRowLow = 0x0300000000000009ull;
    constexpr std::uint64_t kStep = 0x10000;
    Message table;
    for (std::uint64_t i = 0; i < kColumns; ++i) table.message(1, Message().varint(1, kColumnBase + i * kStep).varint(2, kColumnLow));
    for (int field : {2, 3})
        for (std::uint64_t i = 0; i < kColumns; ++i) table.varint(field, i);
    for (std::uint64_t i = 0; i < kRows; ++i) table.message(4, Message().varint(1, kRowBase + i * kStep).varint(2, kRowLow));
    for (int field : {5, 6})
        for (std::uint64_t i = 0; i < kRows; ++i) table.varint(field, i);
    return table;
}

Message tableModel() {
    Message rowHeaders;
    rowHeaders.varint(1, 1).ref(2, kRowBucket);
    Message tiles;
    tiles.message(1, Message().varint(1, 0).ref(2, kCellTile)).varint(2, 256);
    Message store;
    store.message(1, rowHeaders)
        .ref(2, kColumnBucket)
        .message(3, tiles)
        .ref(4, kStringList)
        .ref(5, kStyleList)
        .ref(6, kFormulaList)
        .ref(11, kFormatList)
        .ref(17, kRichTextList)
        .ref(19, kCommentList);
    Message model;
    model.text(1, "9A0C4E71-3B25-4F86-A1D9-6E27B58C0F14")
        .message(4, store)
        .varint(6, kRows)
        .varint(7, kColumns)
        .text(8, "Table 1")
        .varint(9, 1)
        .varint(10, 1)
        .ref(18, kTableCellStyle)
        .ref(19, kTableCellStyle)
        .ref(20, kTableCellStyle)
        .ref(21, kTableCellStyle)
        .varint(22, 0)
        .ref(24, kTableBodyStyle)
        .ref(25, kTableHeaderStyle)
        .ref(26, kTableHeaderStyle)
        .ref(27, kTableBodyStyle)
        .ref(49, kStrokeSidecar);
    return model;
}

// Placed inline in the body, as wide as the text column.
Message tableDrawable() {
    Message geometry;
    geometry.message(1, Message().f32(1, 0.0f).f32(2, 0.0f))
        .message(2, Message().f32(1, kColumnWidth * kColumns).f32(2, kRowHeight * kRows))
        .varint(3, 3)
        .f32(4, 0.0f);
    Message drawable;
    drawable.message(1, geometry).ref(2, kBodyStorage).varint(12, 1).varint(13, 1);
    return Message().message(1, drawable).ref(2, kTableModel);
}

Message attachment() {
    return Message().ref(1, kTableDrawable).varint(2, 0).f32(3, 0.0f).varint(4, 0).f32(5, 0.0f);
}

// Header cells of columns without their own alignment are centred.
Message headerParagraphStyle() {
    Message base;
    base.ref(3, kTableHeaderStyle).varint(4, 1).ref(5, kStylesheet);
    return Message().message(1, base).varint(10, 1).empty(11).message(12, Message().varint(1, 2));
}

Message captionStorage() {
    Message entry = runEntry(0, kBodyStyle);
    Message paragraphData;
    paragraphData.varint(1, 0).varint(2, 0).varint(3, 0);
    Message storage;
    storage.varint(1, 3)
        .ref(2, kStylesheet)
        .text(3, "Table 1")
        .message(5, Message().message(1, entry))
        .message(6, Message().message(1, paragraphData))
        .message(7, Message().message(1, runEntry(0, kNoneListStyle)))
        .varint(10, 1);
    return storage;
}

TableRecord in(const std::string& file, std::uint64_t identifier, std::uint64_t type, Message payload = Message()) {
    return {file, {identifier, type, std::move(payload)}};
}

std::string dataListFile(std::uint64_t identifier) {
    return "Index/Tables/DataList-" + std::to_string(identifier) + "-2.iwa";
}

}  // namespace

std::vector<TableRecord> tableRecords() {
    const std::string& ce = kCalculationEngine;
    std::vector<TableRecord> records = {
        in(ce, 1734377, 4008), in(ce, 1734378, 4008), in(ce, 1734397, 4009), in(ce, 1734379, 4008),
        in(ce, 1734398, 4009), in(ce, 1734380, 4008), in(ce, 1734381, 4008), in(ce, 1734382, 4008),
        in(ce, 1734383, 4008), in(ce, 1734384, 4008), in(ce, 1734385, 4008), in(ce, 1734386, 4008),
        in(ce, 1734387, 4008), in(ce, 1732664, 4004), in(ce, 1734399, 6365),
        in(ce, kTableDrawable, 6000, tableDrawable()), in(ce, 1734246, 633),
        in(ce, kCaptionStorage, 2001, captionStorage()), in(ce, 1734400, 634), in(ce, 1733247, 3097),
        in(ce, kTableModel, 6001, tableModel()), in(ce, 1733250, 4004),
        in(ce, kRowColumnIdentifiers, 6267, rowColumnIdentifiers()),
        in(ce, kStrokeSidecar, 6305, Message().varint(1, 2).varint(2, kColumns).varint(3, kRows)),
        in(ce, 1733214, 6372), in(ce, 1733234, 6373), in(ce, 1733254, 6383), in(ce, 1733255, 6220),
        in(ce, 1733270, 6220), in(ce, 1733231, 6204), in(ce, 1733227, 6204), in(ce, 1733222, 6316),
        in(ce, 1733230, 6267), in(ce, 1733246, 6317), in(ce, 1733224, 6318), in(ce, 1733233, 6267),
        in("Index/Document.iwa", kTableAttachment, 2003, attachment()),
        in("Index/DocumentStylesheet.iwa", kHeaderParagraphStyle, 2022, headerParagraphStyle()),
        in("Index/Metadata.iwa", 1734988, 11015),
        in(kViewState, 1734980, 10147), in(kViewState, 1734981, 10131), in(kViewState, 1734982, 10133),
        in(kViewState, 1734983, 219), in(kViewState, 1734984, 10132), in(kViewState, 1734985, 219),
        in(kViewState, 1734986, 10132), in(kViewState, 1734987, 3061),
    };
    const std::vector<std::pair<std::uint64_t, ListType>> lists = {
        {1733192, formulas}, {1733193, formats}, {1733194, comments}, {1733196, formulas}, {kRichTextList, richText},
        {1733198, formats},  {1733200, formats}, {1733203, formats},  {1733211, formats},  {kStyleList, cellStyles},
        {1733219, formulas}, {1733766, strings}, {1733767, strings},  {1733768, strings},  {1733769, strings},
        {1733770, strings},  {1733771, strings}, {1733772, strings},  {1733773, strings},  {1733774, strings},
        {1733775, strings},  {1733776, strings}, {1734161, formats}};
    for (const auto& [identifier, type] : lists)
        records.push_back(in(dataListFile(identifier), identifier, 6005,
                             identifier == kStyleList ? styleList() : dataList(type)));
    records.push_back(in("Index/Tables/DataList.iwa", kStringList, 6005, stringList()));
    for (std::uint64_t identifier : {1733232ull, 1733252ull})
        records.push_back(in("Index/Tables/HeaderStorageBucket-" + std::to_string(identifier) + "-2.iwa", identifier,
                             6006, Message().varint(1, 1)));
    records.push_back(in("Index/Tables/HeaderStorageBucket-1733266-2.iwa", kColumnBucket, 6006,
                         bucket(kColumns, kColumnWidth, kRows)));
    records.push_back(in("Index/Tables/HeaderStorageBucket.iwa", kRowBucket, 6006, bucket(kRows, kRowHeight, kColumns)));
    records.push_back(in("Index/Tables/Tile-1733765-2.iwa", kSecondTile, 6002, emptyTile()));
    records.push_back(in("Index/Tables/Tile.iwa", kCellTile, 6002, cellTile()));
    return records;
}

}  // namespace lumaro::templatesource
