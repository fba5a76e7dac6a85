// Links, footnotes, images and tables anchored in a text storage, and the
// inline Markdown of rich table cells.
#include <unordered_set>

#include "LumaroIWA/TSTTableReader.hpp"
#include "LumaroPages/PagesAttributeTable.hpp"
#include "LumaroPages/PagesParser.hpp"
#include "LumaroPages/PagesReaderText.hpp"
#include "LumaroPages/PagesWireView.hpp"

namespace lumaro {

namespace {

constexpr std::int64_t kTextChunkField = 3;
constexpr std::int64_t kSmartFieldTableField = 11;
constexpr std::int64_t kHyperlinkURLField = 2;
constexpr std::uint64_t kHyperlinkType = 2032;
constexpr std::int64_t kDrawableField = 1;
constexpr std::int64_t kTableModelField = 2;
constexpr std::int64_t kParagraphPropertiesField = 12;
constexpr std::int64_t kAlignmentField = 1;
constexpr std::uint64_t kAlignmentRight = 1;
constexpr std::uint64_t kAlignmentCenter = 2;
// A footnote storage is looked for at most this many references away from
// the object an attribute-table entry names.
constexpr int kFootnoteSearchDepth = 3;

// Every length-delimited field of a storage, read as an attribute table:
// attachments and footnote references sit in tables of this shape whatever
// their field number.
template <typename Visit>
void forEachAttributeTable(ByteView storage, Visit visit) {
    PagesWireView(storage).forEach([&](const PagesWireView::Field& field) {
        if (field.wireType == PagesWireView::kLengthDelimited)
            visit(PagesAttributeTable::entries(ProtobufMessage(field.bytes)));
    });
}

std::unordered_set<std::int64_t> attachmentPositions(std::string_view text) {
    std::unordered_set<std::int64_t> positions;
    std::int64_t position = 0;
    for (std::size_t index = 0; index < text.size();) {
        const char32_t scalar = PagesReaderText::nextScalar(text, index);
        if (scalar == PagesReaderText::kObjectReplacement) positions.insert(position);
        position += PagesReaderText::utf16Width(scalar);
    }
    return positions;
}

// Position -> the first value `resolve` finds for an entry at an attachment
// character there. A position keeps its first result; an entry that resolves
// to nothing leaves it open for later entries.
template <typename Value, typename Resolve>
std::map<std::int64_t, Value> resolveAttachments(ByteView storage, std::string_view text,
                                                 Resolve resolve) {
    std::map<std::int64_t, Value> result;
    const auto positions = attachmentPositions(text);
    if (positions.empty()) return result;
    forEachAttributeTable(storage, [&](const std::vector<PagesAttributeEntry>& entries) {
        for (const PagesAttributeEntry& entry : entries) {
            if (!entry.objectID || !positions.contains(entry.position) || result.contains(entry.position)) continue;
            if (std::optional<Value> value = resolve(*entry.objectID)) result.emplace(entry.position, std::move(*value));
        }
    });
    return result;
}

PagesParser::Table::ColumnAlignment columnAlignment(TSTTable::Alignment alignment) {
    switch (alignment) {
        case TSTTable::Alignment::center: return PagesParser::Table::ColumnAlignment::center;
        case TSTTable::Alignment::right: return PagesParser::Table::ColumnAlignment::right;
        case TSTTable::Alignment::left: break;
    }
    return PagesParser::Table::ColumnAlignment::left;
}

std::optional<std::uint64_t> referenceAt(const ProtobufMessage& message, std::int64_t field) {
    const auto reference = message.message(field);
    return reference ? PagesAttributeTable::referencedIdentifier(*reference) : std::nullopt;
}

}  // namespace

std::vector<PagesParser::LinkRun> PagesParser::linkRuns(ByteView storage, const IWAObjectStore& store) {
    struct Anchor {
        std::int64_t position;
        std::optional<std::string> url;
    };
    std::vector<Anchor> anchors;
    for (const PagesAttributeEntry& entry : PagesAttributeTable::entries(storage, kSmartFieldTableField)) {
        Anchor anchor{entry.position, std::nullopt};
        // Only hyperlinks carry a URL in field 2; other smart fields (dates,
        // placeholders) keep formats and prompts there.
        const IWAObject* object = entry.objectID ? store.object(*entry.objectID) : nullptr;
        if (object && object->type == kHyperlinkType) {
            const ProtobufMessage link(object->payload);
            if (const Bytes* url = link.bytesPointer(kHyperlinkURLField)) anchor.url = PagesReaderText::repairedUTF8(*url);
        }
        anchors.push_back(std::move(anchor));
    }
    PagesAttributeTable::sortByPosition(anchors);
    // A link runs from its own entry to the next entry of the table.
    std::vector<LinkRun> runs;
    for (std::size_t i = 0; i + 1 < anchors.size(); ++i)
        if (anchors[i].url && anchors[i].position < anchors[i + 1].position)
            runs.push_back(LinkRun{anchors[i].position, anchors[i + 1].position, *anchors[i].url});
    return runs;
}

std::vector<PagesParser::FootnoteRun> PagesParser::footnoteRuns(ByteView storage,
                                                                const FootnoteStorageIDs& footnoteStorageIDs,
                                                                const IWAObjectStore& store) {
    std::vector<FootnoteRun> runs;
    FootnoteSearchMemo memo;
    forEachAttributeTable(storage, [&](const std::vector<PagesAttributeEntry>& entries) {
        for (const PagesAttributeEntry& entry : entries) {
            if (!entry.objectID) continue;
            if (const auto footnote = resolveFootnoteStorage(*entry.objectID, footnoteStorageIDs, store, 0, memo))
                runs.push_back(FootnoteRun{entry.position, *footnote});
        }
    });
    PagesAttributeTable::sortByPosition(runs);
    return runs;
}

std::optional<std::uint64_t> PagesParser::resolveFootnoteStorage(std::uint64_t objectID,
                                                                 const FootnoteStorageIDs& footnoteStorageIDs,
                                                                 const IWAObjectStore& store, int depth) {
    FootnoteSearchMemo memo;
    return resolveFootnoteStorage(objectID, footnoteStorageIDs, store, depth, memo);
}

std::optional<std::uint64_t> PagesParser::resolveFootnoteStorage(std::uint64_t objectID,
                                                                 const FootnoteStorageIDs& footnoteStorageIDs,
                                                                 const IWAObjectStore& store, int depth,
                                                                 FootnoteSearchMemo& memo) {
    if (footnoteStorageIDs.contains(objectID)) return objectID;
    if (depth >= kFootnoteSearchDepth) return std::nullopt;
    // The answer depends only on the object and the depth, so an object
    // reached again (from another entry, or through several paths) costs one
    // lookup instead of a new search.
    const auto key = std::make_pair(objectID, depth);
    if (const auto remembered = memo.find(key); remembered != memo.end()) return remembered->second;
    std::optional<std::uint64_t> found;
    if (const IWAObject* object = store.object(objectID)) {
        const ProtobufMessage message(object->payload);
        for (const ProtobufField& field : message.fields()) {
            const Bytes* bytes = field.lengthDelimited();
            if (!bytes) continue;
            const auto candidate = PagesAttributeTable::referencedIdentifier(ProtobufMessage(*bytes));
            if (!candidate) continue;
            if (footnoteStorageIDs.contains(*candidate)) {
                found = candidate;
                break;
            }
            if (store.object(*candidate)) {
                found = resolveFootnoteStorage(*candidate, footnoteStorageIDs, store, depth + 1, memo);
                if (found) break;
            }
        }
    }
    memo.emplace(key, found);
    return found;
}

std::string PagesParser::footnoteText(ByteView storage) {
    std::string cleaned;
    const std::string text = storageText(storage);
    for (std::size_t index = 0; index < text.size();) {
        const char32_t scalar = PagesReaderText::nextScalar(text, index);
        if (scalar == PagesReaderText::kObjectReplacement) continue;  // the footnote's own number mark
        if (scalar == PagesReaderText::kLineSeparator || scalar == PagesReaderText::kLineFeed || scalar == U'\t')
            cleaned.push_back(' ');
        else
            PagesReaderText::appendUTF8(scalar, cleaned);
    }
    return PagesReaderText::trimmingWhitespaceAndNewlines(cleaned);
}

std::map<std::int64_t, std::string> PagesParser::attachmentImageNames(ByteView storage, std::string_view text,
                                                                      const PagesImageCatalog& catalog) {
    return resolveAttachments<std::string>(storage, text, [&](std::uint64_t objectID) -> std::optional<std::string> {
        const auto dataID = catalog.resolveDataID(objectID, 0);
        return dataID ? catalog.referenceName(*dataID) : std::nullopt;
    });
}

std::map<std::int64_t, PagesParser::Table> PagesParser::attachmentTableGrids(ByteView storage, std::string_view text,
                                                                             const IWAObjectStore& store) {
    return resolveAttachments<Table>(storage, text,
                                     [&](std::uint64_t objectID) { return tableGrid(objectID, store); });
}

std::optional<PagesParser::Table> PagesParser::tableGrid(std::uint64_t forAttachment, const IWAObjectStore& store) {
    const IWAObject* attachment = store.object(forAttachment);
    if (!attachment || attachment->type != kDrawableAttachmentType) return std::nullopt;
    const auto drawableID = referenceAt(ProtobufMessage(attachment->payload), kDrawableField);
    const IWAObject* drawable = drawableID ? store.object(*drawableID) : nullptr;
    if (!drawable || drawable->type != kTableDrawableType) return std::nullopt;
    const auto modelID = referenceAt(ProtobufMessage(drawable->payload), kTableModelField);
    if (!modelID) return std::nullopt;

    const auto grid = TSTTableReader::table(
        *modelID, store, [&](const IWAObject& cell) { return cellMarkdown(cell, store); },
        [&](const IWAObject& cell) -> std::optional<TSTTable::Alignment> {
            const auto alignment = cellAlignment(cell, store);
            if (alignment == Table::ColumnAlignment::center) return TSTTable::Alignment::center;
            if (alignment == Table::ColumnAlignment::right) return TSTTable::Alignment::right;
            return std::nullopt;
        });
    if (!grid) return std::nullopt;
    Table table;
    table.cells = grid->cells;
    for (const TSTTable::Alignment alignment : grid->columnAlignments)
        table.columnAlignments.push_back(columnAlignment(alignment));
    return table;
}

std::string PagesParser::cellMarkdown(const IWAObject& cellStorage, const IWAObjectStore& store) {
    const ByteView storage(cellStorage.payload);
    PagesDocument::Paragraph cell;
    cell.text = storageText(storage);
    const auto paragraphRuns = paragraphStyleRuns(storage);
    const auto characterRunList = characterRuns(storage, store);

    std::vector<std::int64_t> boundaries{0};
    for (const auto& run : paragraphRuns) boundaries.push_back(run.position);
    for (const auto& run : characterRunList) boundaries.push_back(run.position);
    std::sort(boundaries.begin(), boundaries.end());
    boundaries.erase(std::unique(boundaries.begin(), boundaries.end()), boundaries.end());

    CharStyleFlags paragraphFlags;
    CharStyleFlags characterFlags;
    std::size_t paragraphCursor = 0;
    std::size_t characterCursor = 0;
    const auto effective = [&](std::optional<bool> CharStyleFlags::*flag) {
        return (characterFlags.*flag).value_or((paragraphFlags.*flag).value_or(false));
    };
    for (const std::int64_t boundary : boundaries) {
        for (; paragraphCursor < paragraphRuns.size() && paragraphRuns[paragraphCursor].position <= boundary;
             ++paragraphCursor)
            if (const auto style = paragraphRuns[paragraphCursor].styleID)
                paragraphFlags = resolvedCharFlags(*style, store);
        for (; characterCursor < characterRunList.size() && characterRunList[characterCursor].position <= boundary;
             ++characterCursor)
            characterFlags = characterRunList[characterCursor].flags;
        PagesDocument::Paragraph::EmphasisSpan span;
        span.start = static_cast<int>(std::min<std::int64_t>(boundary, std::numeric_limits<int>::max()));
        span.bold = effective(&CharStyleFlags::bold);
        span.italic = effective(&CharStyleFlags::italic);
        span.underline = effective(&CharStyleFlags::underline);
        span.strike = effective(&CharStyleFlags::strike);
        cell.emphasis.push_back(span);  // cells never get code spans
    }
    return cell.renderedText(false, true, false);
}

std::optional<PagesParser::Table::ColumnAlignment> PagesParser::cellAlignment(const IWAObject& cellStorage,
                                                                              const IWAObjectStore& store) {
    for (const ParagraphStyleRun& run : paragraphStyleRuns(cellStorage.payload)) {
        if (!run.styleID) continue;
        const IWAObject* style = store.object(*run.styleID);
        if (!style) return std::nullopt;
        const auto properties = ProtobufMessage(style->payload).message(kParagraphPropertiesField);
        const auto alignment = properties ? properties->varint(kAlignmentField) : std::nullopt;
        if (alignment == kAlignmentRight) return Table::ColumnAlignment::right;
        if (alignment == kAlignmentCenter) return Table::ColumnAlignment::center;
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace lumaro
