// The format decision, the object store, the choice of body storages and the
// walk of one storage into paragraphs.
#include "LumaroPages/PagesParser.hpp"
#include "LumaroPages/PagesLegacyParser.hpp"

#include <algorithm>
#include <functional>
#include <limits>

#include "LumaroPages/PagesAttributeTable.hpp"
#include "LumaroPages/PagesFile.hpp"
#include "LumaroPages/PagesReaderText.hpp"
#include "LumaroPages/PagesWireView.hpp"

namespace fs = std::filesystem;

namespace lumaro {

namespace {

constexpr std::int64_t kStorageKindField = 1;
constexpr std::int64_t kTextChunkField = 3;
constexpr std::int64_t kParagraphStyleTableField = 5;
constexpr std::int64_t kParagraphDataTableField = 6;
constexpr std::int64_t kListStyleTableField = 7;
constexpr std::int64_t kCharacterStyleTableField = 8;

constexpr std::uint64_t kBodyStorageKind = 0;
constexpr std::uint64_t kNeverBodyStorageKind = 1;
constexpr std::uint64_t kFootnoteStorageKind = 2;

constexpr const char* kIndexPrefix = "Index/";
constexpr const char* kIWASuffix = ".iwa";
constexpr const char* kLegacyIndex = "index.xml";
constexpr const char* kGzippedLegacyIndex = "index.xml.gz";

// List levels beyond this are kept at it: a level only indents its item, and
// a value taken from the file as it stands could ask the Markdown output for
// gigabytes of indentation.
constexpr std::int64_t kDeepestListLevel = 100;

constexpr std::string_view kMonospaceFontNeedles[] = {"menlo", "courier", "monaco", "consol", "mono",
                                                     "andale", "pt mono", "ibm plex mono", "sfmono", "sf mono"};

bool isMonospaceFont(const std::optional<std::string>& fontName) {
    if (!fontName) return false;
    std::string lowered = *fontName;
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const std::string_view needle : kMonospaceFontNeedles)
        if (lowered.find(needle) != std::string::npos) return true;
    return false;
}

std::optional<std::uint64_t> storageKind(ByteView storage) { return PagesWireView(storage).varint(kStorageKindField); }

bool hasText(ByteView storage) {
    bool found = false;
    PagesWireView(storage).forEach([&](const PagesWireView::Field& field) {
        found = found || (field.number == kTextChunkField && field.wireType == PagesWireView::kLengthDelimited &&
                          !field.bytes.empty());
    });
    return found;
}

std::size_t paragraphBreakCount(std::string_view text) {
    std::size_t count = static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return PagesReaderText::endsParagraph(static_cast<unsigned char>(c));
    }));
    constexpr std::string_view kParagraphSeparatorUTF8 = "\xE2\x80\xA9";
    for (auto at = text.find(kParagraphSeparatorUTF8); at != std::string_view::npos;
         at = text.find(kParagraphSeparatorUTF8, at + kParagraphSeparatorUTF8.size()))
        ++count;
    return count;
}

int paragraphOffset(std::int64_t position, std::int64_t paragraphStart) {
    return static_cast<int>(position - paragraphStart);
}

// Effective emphasis of a character: the character style's value when it
// sets one, else the paragraph style's, else off.
struct Emphasis {
    bool bold = false, italic = false, underline = false, strike = false, code = false;
    bool operator==(const Emphasis&) const = default;
};

}  // namespace

// ---------------------------------------------------------------------------
// Format decision

struct PagesParser::PackageSource {
    std::function<std::vector<IWAContainer::Entry>(const std::string& prefix, const std::string& suffix)> entries;
    std::function<std::optional<Bytes>(const std::string& named)> data;
};

PagesDocument PagesParser::readDocument(const fs::path& url) {
    std::error_code ignored;
    if (!fs::exists(url, ignored)) throw PagesFileError::fileNotFound(url);

    const PackageSource atLocation{
        [&](const std::string& prefix, const std::string& suffix) { return IWAContainer::entries(url, prefix, suffix); },
        [&](const std::string& named) { return IWAContainer::data(url, named); }};
    if (auto document = readPackage(atLocation, url)) return std::move(*document);

    // A ZIP saved for iCloud wraps the whole package in one top folder.
    if (const auto folder = IWAContainer::topFolder(url)) {
        const PackageSource inFolder{[&](const std::string& prefix, const std::string& suffix) {
                                         return IWAContainer::entriesInFolder(url, *folder, prefix, suffix);
                                     },
                                     [&](const std::string& named) {
                                         return IWAContainer::dataInFolder(url, *folder, named);
                                     }};
        if (auto document = readPackage(inFolder, url)) return std::move(*document);
    }
    throw PagesFileError::notAnIWorkDocument(url);
}

std::optional<PagesDocument> PagesParser::readPackage(const PackageSource& source, const fs::path& url) {
    if (auto entries = source.entries(kIndexPrefix, kIWASuffix); !entries.empty()) {
        const IWAObjectStore store = loadObjectStore(std::move(entries));
        return buildDocument(store);
    }
    if (const auto index = source.data(kLegacyIndex)) return readLegacyDocument(*index, url);
    if (source.data(kGzippedLegacyIndex)) throw PagesFileError::legacyGzipUnsupported(url);
    return std::nullopt;
}

PagesDocument PagesParser::readLegacyDocument(const Bytes& indexXML, const fs::path& url) {
    (void)url;
    return PagesLegacyParser().parseDocument(indexXML);
}

IWAObjectStore PagesParser::loadObjectStore(std::vector<IWAContainer::Entry> entries) {
    IWAObjectStore store;
    for (IWAContainer::Entry& entry : entries) {
        std::vector<IWAObject> objects;
        try {
            objects = IWAArchive::objects(entry.data);
        } catch (const Error&) {
            // A stream with damaged framing or compression is skipped; the
            // other streams of the document still count.
        }
        Bytes().swap(entry.data);
        for (IWAObject& object : objects) store.add(std::move(object));
    }
    return store;
}

// ---------------------------------------------------------------------------
// Body storages

std::string PagesParser::storageText(ByteView storage) {
    std::string text;
    PagesWireView(storage).forEach([&](const PagesWireView::Field& field) {
        if (field.number == kTextChunkField && field.wireType == PagesWireView::kLengthDelimited)
            PagesReaderText::appendRepairedUTF8(field.bytes, text);
    });
    return text;
}

std::string_view PagesParser::storageTextView(ByteView storage, std::string& owned) {
    std::optional<ByteView> only;
    int chunks = 0;
    PagesWireView(storage).forEach([&](const PagesWireView::Field& field) {
        if (field.number == kTextChunkField && field.wireType == PagesWireView::kLengthDelimited) {
            ++chunks;
            only = field.bytes;
        }
    });
    if (chunks == 1 && PagesReaderText::isValidUTF8(*only))
        return std::string_view(reinterpret_cast<const char*>(only->data()), only->size());
    owned = storageText(storage);
    return owned;
}

PagesDocument PagesParser::buildDocument(const IWAObjectStore& store) {
    const std::vector<const IWAObject*> storages = store.objects(kTextStorageType);

    // Body candidates are storages of kind 0 (or none); when none of them has
    // text, the longest storage that may be a body stands in for them.
    std::vector<const IWAObject*> body;
    bool bodyHasText = false;
    FootnoteTexts footnoteTexts;
    FootnoteStorageIDs footnoteStorageIDs;
    for (const IWAObject* storage : storages) {
        const ByteView message(storage->payload);
        const auto kind = storageKind(message);
        if (!kind || *kind == kBodyStorageKind) {
            body.push_back(storage);
            bodyHasText = bodyHasText || hasText(message);
        }
        if (kind == kFootnoteStorageKind) {
            footnoteStorageIDs.insert(storage->identifier);
            footnoteTexts[storage->identifier] = footnoteText(message);
        }
    }
    if (!bodyHasText) {
        body.clear();
        std::size_t longest = 0;
        for (const IWAObject* storage : storages) {
            const ByteView message(storage->payload);
            if (storageKind(message) == kNeverBodyStorageKind) continue;
            const std::size_t characters = PagesReaderText::graphemeCount(storageText(message));
            if (body.empty() || characters > longest) {
                body.assign(1, storage);
                longest = characters;
            }
        }
    }

    const PagesImageCatalog catalog(store);
    PagesDocument document;
    int footnoteCounter = 0;
    for (const IWAObject* storage : body) {
        const ByteView message(storage->payload);
        std::string owned;
        const std::string_view text = storageTextView(message, owned);
        if (text.empty()) continue;
        auto paragraphs = makeParagraphs(text, message, store, catalog, footnoteStorageIDs, footnoteTexts,
                                         footnoteCounter, document.footnotes);
        if (document.paragraphs.empty())
            document.paragraphs = std::move(paragraphs);
        else
            std::move(paragraphs.begin(), paragraphs.end(), std::back_inserter(document.paragraphs));
    }
    for (const PagesImageCatalog::Asset& asset : catalog.assets())
        document.imageAssets.push_back(PagesDocument::ImageAsset{asset.referenceName, asset.dataFileName});
    return document;
}

// ---------------------------------------------------------------------------
// Run readers

std::vector<PagesParser::ParagraphStyleRun> PagesParser::paragraphStyleRuns(ByteView storage) {
    std::vector<ParagraphStyleRun> runs;
    for (const PagesAttributeEntry& entry : PagesAttributeTable::entries(storage, kParagraphStyleTableField))
        runs.push_back(ParagraphStyleRun{entry.position, entry.objectID});
    PagesAttributeTable::sortByPosition(runs);
    return runs;
}

std::vector<PagesParser::CharacterRun> PagesParser::characterRuns(ByteView storage,
                                                                  const IWAObjectStore& store) {
    std::vector<CharacterRun> runs;
    for (const PagesAttributeEntry& entry : PagesAttributeTable::entries(storage, kCharacterStyleTableField))
        runs.push_back(CharacterRun{entry.position,
                                    entry.objectID ? resolvedCharFlags(*entry.objectID, store) : CharStyleFlags()});
    PagesAttributeTable::sortByPosition(runs);
    return runs;
}

std::vector<PagesParser::ParagraphStyleRun> PagesParser::characterStyleRuns(ByteView storage) {
    std::vector<ParagraphStyleRun> runs;
    for (const PagesAttributeEntry& entry : PagesAttributeTable::entries(storage, kCharacterStyleTableField))
        runs.push_back(ParagraphStyleRun{entry.position, entry.objectID});
    PagesAttributeTable::sortByPosition(runs);
    return runs;
}

std::vector<PagesParser::ListLevelRun> PagesParser::listLevels(ByteView storage) {
    std::vector<ListLevelRun> runs;
    for (const PagesAttributeEntry& entry : PagesAttributeTable::entries(storage, kParagraphDataTableField)) {
        // A level is the raw varint taken as a signed 64-bit number.
        const auto level = static_cast<std::int64_t>(entry.value.value_or(0));
        runs.push_back(ListLevelRun{entry.position, level});
    }
    PagesAttributeTable::sortByPosition(runs);
    return runs;
}

std::vector<PagesParser::ListStyleRun> PagesParser::listStyleRuns(ByteView storage) {
    std::vector<ListStyleRun> runs;
    for (const PagesAttributeEntry& entry : PagesAttributeTable::entries(storage, kListStyleTableField))
        if (entry.objectID) runs.push_back(ListStyleRun{entry.position, *entry.objectID});
    PagesAttributeTable::sortByPosition(runs);
    return runs;
}

// ---------------------------------------------------------------------------
// Walking one storage

std::vector<PagesDocument::Paragraph> PagesParser::makeParagraphs(
    std::string_view text, ByteView storage, const IWAObjectStore& store,
    const PagesImageCatalog& catalog, const FootnoteStorageIDs& footnoteStorageIDs, const FootnoteTexts& footnoteTexts,
    int& footnoteCounter, std::vector<PagesDocument::Footnote>& footnotes) {
    using Paragraph = PagesDocument::Paragraph;

    const auto paragraphRuns = paragraphStyleRuns(storage);
    // Character styles are resolved as the walk reaches them (through the
    // style cache), which gives the flags of characterRuns() without holding
    // them for every entry at once.
    const auto characterRunList = characterStyleRuns(storage);
    const auto levels = listLevels(storage);
    const auto listStyles = listStyleRuns(storage);
    const auto imageNames = attachmentImageNames(storage, text, catalog);
    auto tableGrids = attachmentTableGrids(storage, text, store);
    const auto footnoteRunList =
        footnoteStorageIDs.empty() ? std::vector<FootnoteRun>() : footnoteRuns(storage, footnoteStorageIDs, store);
    const auto links = linkRuns(storage, store);

    std::vector<Paragraph> paragraphs;
    paragraphs.reserve(paragraphBreakCount(text) + 1);
    std::int64_t position = 0;
    std::int64_t paragraphStart = 0;
    std::size_t paragraphByteStart = 0;  // the open paragraph's text is text[paragraphByteStart, here)
    std::size_t paragraphCursor = 0, characterCursor = 0, footnoteCursor = 0, linkCursor = 0;
    std::optional<std::uint64_t> paragraphStyle;
    bool paragraphStyleApplied = false;
    CharStyleFlags paragraphFlags, characterFlags;
    bool code = false;
    Paragraph open;

    const auto takeFootnote = [&](const FootnoteRun& run, std::int64_t markerPosition) {
        ++footnoteCounter;
        open.footnoteMarkers.push_back(
            Paragraph::FootnoteMarker{paragraphOffset(markerPosition, paragraphStart), footnoteCounter});
        const auto recorded = footnoteTexts.find(run.storageID);
        footnotes.push_back(PagesDocument::Footnote{
            footnoteCounter, recorded == footnoteTexts.end() ? std::string() : recorded->second});
    };

    const auto close = [&](std::size_t paragraphByteEnd) {
        open.text.assign(text.substr(paragraphByteStart, paragraphByteEnd - paragraphByteStart));
        if (paragraphStyleApplied) {
            const IdentifierTraits traits = identifierTraits(*paragraphStyle, store);
            open.headingLevel = traits.headingLevel;
            open.isCodeBlock = traits.isCodeBlock;
            open.fontSize = paragraphFlags.fontSize;
            open.bold = paragraphFlags.bold == true;
        }
        const ListMembership membership = listMembership(paragraphStart, levels, listStyles, store);
        if (membership.level)
            open.listLevel = static_cast<int>(std::clamp<std::int64_t>(
                *membership.level, std::numeric_limits<int>::min(), kDeepestListLevel));
        open.listOrdered = membership.ordered;

        // Link runs come sorted by start and by end, so the ones that end
        // before this paragraph can be passed over for good.
        const std::int64_t paragraphEnd = position;
        while (linkCursor < links.size() && links[linkCursor].end <= paragraphStart) ++linkCursor;
        for (std::size_t i = linkCursor; i < links.size() && links[i].start < paragraphEnd; ++i) {
            const std::int64_t start = std::max(links[i].start, paragraphStart);
            const std::int64_t end = std::min(links[i].end, paragraphEnd);
            if (start < end)
                open.links.push_back(Paragraph::LinkRun{paragraphOffset(start, paragraphStart),
                                                        paragraphOffset(end, paragraphStart), links[i].url});
        }
        paragraphs.push_back(std::move(open));
        open = Paragraph();
    };

    for (std::size_t index = 0; index < text.size();) {
        const std::size_t scalarStart = index;
        const char32_t scalar = PagesReaderText::nextScalar(text, index);

        for (; paragraphCursor < paragraphRuns.size() && paragraphRuns[paragraphCursor].position <= position;
             ++paragraphCursor) {
            const auto style = paragraphRuns[paragraphCursor].styleID;
            if (style && (!paragraphStyleApplied || *style != *paragraphStyle)) {
                paragraphFlags = resolvedCharFlags(*style, store);
                paragraphStyle = style;
                paragraphStyleApplied = true;
            }
        }
        for (; characterCursor < characterRunList.size() && characterRunList[characterCursor].position <= position;
             ++characterCursor) {
            const auto style = characterRunList[characterCursor].styleID;
            characterFlags = style ? resolvedCharFlags(*style, store) : CharStyleFlags();
            code = isMonospaceFont(characterFlags.fontName);
        }
        const Emphasis emphasis{characterFlags.bold.value_or(paragraphFlags.bold.value_or(false)),
                                characterFlags.italic.value_or(paragraphFlags.italic.value_or(false)),
                                characterFlags.underline.value_or(paragraphFlags.underline.value_or(false)),
                                characterFlags.strike.value_or(paragraphFlags.strike.value_or(false)), code};
        for (; footnoteCursor < footnoteRunList.size() && footnoteRunList[footnoteCursor].position <= position;
             ++footnoteCursor)
            takeFootnote(footnoteRunList[footnoteCursor], footnoteRunList[footnoteCursor].position);

        if (PagesReaderText::endsParagraph(scalar)) {
            close(scalarStart);
            position += 1;
            paragraphStart = position;
            paragraphByteStart = index;
            continue;
        }
        if (scalar == PagesReaderText::kObjectReplacement) {
            const auto name = imageNames.find(position);
            open.attachmentReferences.push_back(name == imageNames.end() ? std::nullopt
                                                                         : std::optional<std::string>(name->second));
            if (const auto table = tableGrids.find(position); table != tableGrids.end())
                open.tables.push_back(std::move(table->second));
        }
        const auto& last = open.emphasis;
        if (last.empty() || Emphasis{last.back().bold, last.back().italic, last.back().underline, last.back().strike,
                                     last.back().code} != emphasis)
            open.emphasis.push_back(Paragraph::EmphasisSpan{paragraphOffset(position, paragraphStart), emphasis.bold,
                                                            emphasis.italic, emphasis.underline, emphasis.strike,
                                                            emphasis.code});
        position += PagesReaderText::utf16Width(scalar);

        // Up to the next run boundary nothing but the position changes for
        // ASCII characters that end no paragraph: their emphasis is the one
        // just recorded, so they are passed over in one step.
        std::int64_t nextBoundary = std::numeric_limits<std::int64_t>::max();
        if (paragraphCursor < paragraphRuns.size()) nextBoundary = paragraphRuns[paragraphCursor].position;
        if (characterCursor < characterRunList.size())
            nextBoundary = std::min(nextBoundary, characterRunList[characterCursor].position);
        if (footnoteCursor < footnoteRunList.size())
            nextBoundary = std::min(nextBoundary, footnoteRunList[footnoteCursor].position);
        while (index < text.size() && position < nextBoundary) {
            const auto byte = static_cast<unsigned char>(text[index]);
            if (byte >= 0x80 || PagesReaderText::endsParagraph(byte)) break;
            ++index;
            ++position;
        }
    }
    // References placed past the last character mark the end of the text.
    for (; footnoteCursor < footnoteRunList.size(); ++footnoteCursor)
        takeFootnote(footnoteRunList[footnoteCursor], position);
    close(text.size());
    return paragraphs;
}

}  // namespace lumaro
