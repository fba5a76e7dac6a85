#include "LumaroIWA/TSTTableReader.hpp"

#include <algorithm>
#include <map>

#include "LumaroIWA/Protobuf.hpp"
#include "LumaroIWA/TSTCellFormat.hpp"
#include "LumaroIWA/UTF8Text.hpp"

namespace lumaro {

namespace {

// Table model (6001) fields.
constexpr std::int64_t kModelRowCount = 6;
constexpr std::int64_t kModelColumnCount = 7;
constexpr std::int64_t kModelDataStore = 4;
// Data store fields.
constexpr std::int64_t kStoreTileStorage = 3;
constexpr std::int64_t kStoreStringTable = 4;
constexpr std::int64_t kStoreStyleTable = 5;
constexpr std::int64_t kStoreRichTextTable = 17;
// Keyed tables: entries in field 3, each keyed by field 1.
constexpr std::int64_t kTableEntries = 3;
constexpr std::int64_t kEntryKey = 1;
constexpr std::int64_t kStringEntryText = 3;
constexpr std::int64_t kStyleEntryStyle = 4;
constexpr std::int64_t kRichTextEntryStorage = 9;
// Cell style: the horizontal alignment is field 1 of field 12.
constexpr std::int64_t kStyleParagraphProperties = 12;
constexpr std::int64_t kStyleAlignment = 1;
constexpr std::uint64_t kAlignmentRight = 1;
constexpr std::uint64_t kAlignmentCenter = 2;
// Tile storage and tiles.
constexpr std::int64_t kTileStorageTiles = 1;
constexpr std::int64_t kTileStorageTileSize = 2;
constexpr std::uint64_t kDefaultTileSize = 256;
constexpr std::int64_t kTileNumber = 1;
constexpr std::int64_t kTileObject = 2;
constexpr std::int64_t kTileRowInfos = 5;
// Row infos: their row within the tile, and the buffers of the two layouts.
constexpr std::int64_t kRowIndex = 1;
constexpr std::int64_t kCurrentCellBuffer = 6;
constexpr std::int64_t kCurrentOffsetBuffer = 7;
constexpr std::int64_t kOlderCellBuffer = 3;
constexpr std::int64_t kOlderOffsetBuffer = 4;
// A reference is a message whose field 1 is an object identifier.
constexpr std::int64_t kReferenceIdentifier = 1;

constexpr std::uint16_t kNoCell = 0xFFFF;
// Cell layout offsets, from the cell's own offset.
constexpr std::size_t kCellKindOffset = 1;
constexpr std::size_t kCellFlagsOffset = 8;
constexpr std::uint8_t kCellHasStyle = 0x40;
constexpr std::size_t kCurrentKeyOffset = 12;
constexpr std::size_t kCurrentStyleKeyOffset = 16;
constexpr std::size_t kOlderKeyOffset = 16;
constexpr std::size_t kOlderValueFromEnd = 12;

using KeyMap = std::map<std::uint32_t, std::uint64_t>;

std::optional<std::uint64_t> reference(const ProtobufMessage& message, std::int64_t field) {
    const auto ref = message.message(field);
    if (!ref) return std::nullopt;
    return ref->varint(kReferenceIdentifier);
}

std::uint32_t readUInt32(ByteView buffer, std::size_t at) {
    return std::uint32_t(buffer[at]) | std::uint32_t(buffer[at + 1]) << 8 | std::uint32_t(buffer[at + 2]) << 16 |
           std::uint32_t(buffer[at + 3]) << 24;
}

// Offset buffer to one offset per column, -1 where the column has no cell.
std::vector<long> cellOffsets(ByteView buffer) {
    std::vector<long> offsets;
    offsets.reserve(buffer.size() / 2);
    for (std::size_t at = 0; at + 1 < buffer.size(); at += 2) {
        const auto value = static_cast<std::uint16_t>(buffer[at] | buffer[at + 1] << 8);
        offsets.push_back(value == kNoCell ? -1 : static_cast<long>(value));
    }
    return offsets;
}

// Entries of a keyed table object; `read` gives an entry's value, absent to
// pass it over. Later keys replace earlier ones. Keys are 32-bit in the cells.
template <typename Value, typename Read>
std::map<std::uint32_t, Value> keyedEntries(const IWAObjectStore& store, std::optional<std::uint64_t> tableID,
                                            Read read) {
    std::map<std::uint32_t, Value> entries;
    const IWAObject* table = tableID ? store.object(*tableID) : nullptr;
    if (!table) return entries;
    for (const auto& entry : ProtobufMessage(table->payload).messages(kTableEntries)) {
        const auto key = entry.varint(kEntryKey);
        if (!key || *key > UINT32_MAX) continue;
        if (auto value = read(entry)) entries[static_cast<std::uint32_t>(*key)] = std::move(*value);
    }
    return entries;
}

struct KeyedTables {
    std::map<std::uint32_t, std::string> strings;
    KeyMap styles;
    KeyMap richTexts;  // key to the identifier of a text storage
};

KeyedTables readKeyedTables(const IWAObjectStore& store, const ProtobufMessage& dataStore) {
    KeyedTables tables;
    tables.strings = keyedEntries<std::string>(
        store, reference(dataStore, kStoreStringTable), [](const ProtobufMessage& entry) -> std::optional<std::string> {
            const Bytes* text = entry.bytesPointer(kStringEntryText);
            if (!text) return std::nullopt;
            return decodingUTF8(*text);
        });
    tables.styles = keyedEntries<std::uint64_t>(store, reference(dataStore, kStoreStyleTable),
                                                [](const ProtobufMessage& entry) { return reference(entry, kStyleEntryStyle); });
    tables.richTexts = keyedEntries<std::uint64_t>(
        store, reference(dataStore, kStoreRichTextTable),
        [&store](const ProtobufMessage& entry) -> std::optional<std::uint64_t> {
            const auto identifier = reference(entry, kRichTextEntryStorage);
            const IWAObject* object = identifier ? store.object(*identifier) : nullptr;
            if (!object) return std::nullopt;
            if (object->type == TSTTableReader::kTextStorageType) return identifier;
            // A holder whose field 1 refers to the storage.
            return reference(ProtobufMessage(object->payload), kReferenceIdentifier);
        });
    return tables;
}

TSTTable::Alignment styleAlignment(const IWAObjectStore& store, const KeyMap& styles, std::uint32_t styleKey) {
    const auto style = styles.find(styleKey);
    const IWAObject* object = style == styles.end() ? nullptr : store.object(style->second);
    if (!object) return TSTTable::Alignment::left;
    const auto properties = ProtobufMessage(object->payload).message(kStyleParagraphProperties);
    const auto alignment = properties ? properties->varint(kStyleAlignment) : std::nullopt;
    if (alignment == kAlignmentRight) return TSTTable::Alignment::right;
    if (alignment == kAlignmentCenter) return TSTTable::Alignment::center;
    return TSTTable::Alignment::left;
}

// One row of cells, the row's index in the grid and which layout it uses.
struct RowInfo {
    std::uint64_t row;
    ProtobufMessage message;
};

std::vector<RowInfo> collectRowInfos(const IWAObjectStore& store, const ProtobufMessage& tileStorage,
                                     std::uint64_t rowCount) {
    std::vector<RowInfo> rows;
    const std::uint64_t tileSize = tileStorage.varint(kTileStorageTileSize).value_or(kDefaultTileSize);
    for (const auto& tile : tileStorage.messages(kTileStorageTiles)) {
        const auto tileID = reference(tile, kTileObject);
        const IWAObject* tileObject = tileID ? store.object(*tileID) : nullptr;
        if (!tileObject) continue;
        std::uint64_t baseRow;
        if (__builtin_mul_overflow(tile.varint(kTileNumber).value_or(0), tileSize, &baseRow)) continue;
        for (auto& info : ProtobufMessage(tileObject->payload).messages(kTileRowInfos)) {
            const auto index = info.varint(kRowIndex);
            std::uint64_t row;
            if (!index || __builtin_add_overflow(baseRow, *index, &row) || row >= rowCount) continue;
            rows.push_back({row, std::move(info)});
        }
    }
    return rows;
}

class GridBuilder {
public:
    GridBuilder(const IWAObjectStore& store, const KeyedTables& tables, std::size_t rows, std::size_t columns,
                const TSTTableReader::RichTextReader& richText, const TSTTableReader::RichAlignmentReader& richAlignment)
        : store_(store),
          tables_(tables),
          richText_(richText),
          richAlignment_(richAlignment),
          cells_(rows, std::vector<std::string>(columns)),
          alignments_(columns, TSTTable::Alignment::left),
          explicit_(columns, false),
          numeric_(columns, false),
          text_(columns, false) {}

    void read(const RowInfo& info) {
        const ProtobufMessage& message = info.message;
        const Bytes* cells = message.bytesPointer(kCurrentCellBuffer);
        const Bytes* offsets = message.bytesPointer(kCurrentOffsetBuffer);
        bool current = cells && offsets;
        if (!current) {
            cells = message.bytesPointer(kOlderCellBuffer);
            offsets = message.bytesPointer(kOlderOffsetBuffer);
            if (!cells || !offsets) return;
        }
        const auto columnOffsets = cellOffsets(*offsets);
        const std::size_t columns = std::min(columnOffsets.size(), alignments_.size());
        for (std::size_t column = 0; column < columns; ++column) {
            if (columnOffsets[column] >= 0)
                readCell(*cells, columnOffsets, static_cast<std::size_t>(columnOffsets[column]), info.row, column,
                         current);
        }
    }

    TSTTable finish() {
        for (std::size_t column = 0; column < alignments_.size(); ++column)
            if (!explicit_[column] && numeric_[column] && !text_[column]) alignments_[column] = TSTTable::Alignment::right;
        return TSTTable(std::move(cells_), std::move(alignments_));
    }

private:
    // The cell ends where the next cell of the row starts, or with the buffer.
    static std::size_t cellEnd(const std::vector<long>& offsets, std::size_t offset, std::size_t bufferSize) {
        std::size_t end = bufferSize;
        for (const long other : offsets)
            if (other > static_cast<long>(offset) && static_cast<std::size_t>(other) < end) end = static_cast<std::size_t>(other);
        return end;
    }

    void readCell(const Bytes& buffer, const std::vector<long>& offsets, std::size_t offset, std::uint64_t row,
                  std::size_t column, bool current) {
        const std::size_t keyAt = offset + (current ? kCurrentKeyOffset : kOlderKeyOffset);
        if (keyAt + 4 > buffer.size()) return;
        std::size_t valueAt = keyAt;
        if (!current) {
            const std::size_t end = cellEnd(offsets, offset, buffer.size());
            if (end < offset + kOlderValueFromEnd) return;
            valueAt = end - kOlderValueFromEnd;
        }
        const std::uint32_t key = readUInt32(buffer, keyAt);
        const std::uint8_t kind = buffer[offset + kCellKindOffset];
        std::string& text = cells_[row][column];
        const bool body = row > 0;

        const IWAObject* richTarget = current && kind == TSTCellFormat::kRichText ? richTextTarget(key) : nullptr;
        if (richTarget) {
            text = richText_(*richTarget);
            if (!body) return;
            if (const auto alignment = richAlignment_(*richTarget)) setExplicit(column, *alignment);
        } else if (auto value = TSTCellFormat::frozenValue(buffer, valueAt, kind, current)) {
            text = std::move(*value);
        } else if (kind == TSTCellFormat::kEmpty) {
            // An empty cell carries no text key: the word at the key position
            // is its style key, which must not be taken for a string.
        } else if (const auto found = tables_.strings.find(key); found != tables_.strings.end()) {
            text = found->second;
        }
        if (!body) return;

        const bool numeric = kind == TSTCellFormat::kNumber || kind == TSTCellFormat::kDate ||
                             kind == TSTCellFormat::kDuration || kind == TSTCellFormat::kBoolean;
        if (numeric) numeric_[column] = true;
        else if (!text.empty()) text_[column] = true;

        const std::size_t styleKeyAt = offset + kCurrentStyleKeyOffset;
        if (current && offset + kCellFlagsOffset < buffer.size() && (buffer[offset + kCellFlagsOffset] & kCellHasStyle) &&
            styleKeyAt + 4 <= buffer.size())
            setExplicit(column, styleAlignment(store_, tables_.styles, readUInt32(buffer, styleKeyAt)));
    }

    const IWAObject* richTextTarget(std::uint32_t key) const {
        const auto found = tables_.richTexts.find(key);
        return found == tables_.richTexts.end() ? nullptr : store_.object(found->second);
    }

    void setExplicit(std::size_t column, TSTTable::Alignment alignment) {
        alignments_[column] = alignment;
        explicit_[column] = true;
    }

    const IWAObjectStore& store_;
    const KeyedTables& tables_;
    const TSTTableReader::RichTextReader& richText_;
    const TSTTableReader::RichAlignmentReader& richAlignment_;
    std::vector<std::vector<std::string>> cells_;
    std::vector<TSTTable::Alignment> alignments_;
    std::vector<bool> explicit_, numeric_, text_;
};

}  // namespace

std::optional<TSTTable> TSTTableReader::table(std::uint64_t forModelID, const IWAObjectStore& store,
                                              const RichTextReader& richText, const RichAlignmentReader& richAlignment) {
    const IWAObject* model = store.object(forModelID);
    if (!model || model->type != kTableModelType) return std::nullopt;
    const ProtobufMessage modelMessage(model->payload);
    const std::uint64_t rows = modelMessage.varint(kModelRowCount).value_or(0);
    const std::uint64_t columns = modelMessage.varint(kModelColumnCount).value_or(0);
    if (rows == 0 || columns == 0 || rows > kMaximumCellCount || columns > kMaximumCellCount / rows) return std::nullopt;
    const auto dataStore = modelMessage.message(kModelDataStore);
    if (!dataStore) return std::nullopt;

    const KeyedTables tables = readKeyedTables(store, *dataStore);
    const auto tileStorage = dataStore->message(kStoreTileStorage);
    if (!tileStorage) return std::nullopt;

    GridBuilder grid(store, tables, static_cast<std::size_t>(rows), static_cast<std::size_t>(columns), richText,
                     richAlignment);
    for (const auto& info : collectRowInfos(store, *tileStorage, rows)) grid.read(info);
    return grid.finish();
}

std::string TSTTableReader::plainText(const IWAObject& of) {
    std::string text;
    const ProtobufMessage storage(of.payload);
    for (const auto& field : storage.fields())
        if (field.number == kStringEntryText)
            if (const Bytes* bytes = field.lengthDelimited()) text += decodingUTF8(*bytes);
    return text;
}

std::optional<TSTTable> TSTTable::trimmedToUsedRange() const {
    std::optional<std::size_t> lastRow, lastColumn;
    for (std::size_t row = 0; row < cells.size(); ++row)
        for (std::size_t column = 0; column < cells[row].size(); ++column)
            if (!cells[row][column].empty()) {
                lastRow = row;
                lastColumn = std::max(lastColumn.value_or(0), column);
            }
    if (!lastRow) return std::nullopt;
    std::vector<std::vector<std::string>> trimmed(*lastRow + 1, std::vector<std::string>(*lastColumn + 1));
    for (std::size_t row = 0; row <= *lastRow; ++row)
        for (std::size_t column = 0; column <= *lastColumn && column < cells[row].size(); ++column)
            trimmed[row][column] = cells[row][column];
    std::vector<Alignment> alignments(*lastColumn + 1, Alignment::left);
    std::copy_n(columnAlignments.begin(), std::min(columnAlignments.size(), alignments.size()), alignments.begin());
    return TSTTable(std::move(trimmed), std::move(alignments));
}

std::string_view TSTTable::rawValue(Alignment alignment) {
    switch (alignment) {
        case Alignment::center: return "center";
        case Alignment::right: return "right";
        default: return "left";
    }
}

std::optional<TSTTable::Alignment> TSTTable::alignmentFromRawValue(std::string_view rawValue) {
    if (rawValue == "left") return Alignment::left;
    if (rawValue == "center") return Alignment::center;
    if (rawValue == "right") return Alignment::right;
    return std::nullopt;
}

}  // namespace lumaro
