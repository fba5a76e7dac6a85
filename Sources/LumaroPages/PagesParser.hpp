#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/IWAContainer.hpp"
#include "LumaroIWA/Protobuf.hpp"
#include "LumaroPages/PagesDocument.hpp"
#include "LumaroPages/PagesImageCatalog.hpp"
#include "LumaroPages/PagesWireView.hpp"

namespace lumaro {

// Reads an IWA document into a PagesDocument: picks the body text storages,
// walks them scalar by scalar and resolves their styles, lists, links,
// footnotes, images and tables. One parser serves one document; its caches of
// resolved styles live exactly as long as that read.
//
// Every position below counts UTF-16 code units of a storage's text. A
// `storage` argument is the payload of a text storage object (type 2001); it
// is read in place, so that a large body text is never copied whole.
class PagesParser {
public:
    // Character properties of a style chain; an unset value means no style of
    // the chain sets it.
    struct CharStyleFlags {
        std::optional<bool> bold;
        std::optional<bool> italic;
        std::optional<bool> underline;
        std::optional<bool> strike;
        std::optional<double> fontSize;
        std::optional<std::string> fontName;

        bool allSet() const { return bold && italic && underline && strike && fontSize && fontName; }
    };

    struct IdentifierTraits {
        std::optional<int> headingLevel;
        bool isCodeBlock = false;
    };

    struct ParagraphStyleRun {
        std::int64_t position = 0;
        std::optional<std::uint64_t> styleID;
    };
    struct CharacterRun {
        std::int64_t position = 0;
        CharStyleFlags flags;
    };
    struct ListLevelRun {
        std::int64_t position = 0;
        std::int64_t level = 0;
    };
    struct ListStyleRun {
        std::int64_t position = 0;
        std::uint64_t styleID = 0;
    };
    struct ListMembership {
        std::optional<std::int64_t> level;  // unset: not a list item
        bool ordered = false;
    };
    enum class ListMarker { none, bullet, numbered };

    struct LinkRun {
        std::int64_t start = 0;
        std::int64_t end = 0;  // exclusive
        std::string url;
    };
    struct FootnoteRun {
        std::int64_t position = 0;
        std::uint64_t storageID = 0;
    };

    using Table = PagesDocument::Paragraph::Table;
    using FootnoteTexts = std::unordered_map<std::uint64_t, std::string>;
    using FootnoteStorageIDs = std::set<std::uint64_t>;

    static constexpr std::uint64_t kTextStorageType = 2001;
    static constexpr std::uint64_t kDrawableAttachmentType = 2003;
    static constexpr std::uint64_t kTableDrawableType = 6000;
    static constexpr std::string_view kCodeBlockStyleIdentifier = "lumaro-code-block";

    // The format decision: an IWA document when the container lists any
    // Index/*.iwa entry, else a legacy index.xml, else an error.
    PagesDocument readDocument(const std::filesystem::path& url);
    // Decodes every entry into one store; entries whose stream does not decode
    // are skipped. Each entry's bytes are released once decoded.
    static IWAObjectStore loadObjectStore(std::vector<IWAContainer::Entry> entries);

    PagesDocument buildDocument(const IWAObjectStore& store);
    std::vector<PagesDocument::Paragraph> makeParagraphs(std::string_view text, ByteView storage,
                                                         const IWAObjectStore& store,
                                                         const PagesImageCatalog& catalog,
                                                         const FootnoteStorageIDs& footnoteStorageIDs,
                                                         const FootnoteTexts& footnoteTexts, int& footnoteCounter,
                                                         std::vector<PagesDocument::Footnote>& footnotes);

    // The storage text: every chunk of field 3, each repaired as UTF-8.
    static std::string storageText(ByteView storage);

    // Run readers, each sorted stably by position.
    static std::vector<ParagraphStyleRun> paragraphStyleRuns(ByteView storage);
    std::vector<CharacterRun> characterRuns(ByteView storage, const IWAObjectStore& store);
    static std::vector<ListLevelRun> listLevels(ByteView storage);
    static std::vector<ListStyleRun> listStyleRuns(ByteView storage);

    // Style chains.
    CharStyleFlags resolvedCharFlags(std::uint64_t forStyle, const IWAObjectStore& store);
    IdentifierTraits identifierTraits(std::uint64_t forStyle, const IWAObjectStore& store);
    static std::optional<int> headingLevel(std::string_view forStyleIdentifier);
    static ListMembership listMembership(std::int64_t atUTF16, const std::vector<ListLevelRun>& levels,
                                         const std::vector<ListStyleRun>& listStyles, const IWAObjectStore& store);
    static ListMarker resolveListMarker(std::uint64_t style, std::int64_t level, const IWAObjectStore& store,
                                        int depth);

    // Links, footnotes, images and tables anchored in a storage.
    static std::vector<LinkRun> linkRuns(ByteView storage, const IWAObjectStore& store);
    std::vector<FootnoteRun> footnoteRuns(ByteView storage, const FootnoteStorageIDs& footnoteStorageIDs,
                                          const IWAObjectStore& store);
    std::optional<std::uint64_t> resolveFootnoteStorage(std::uint64_t objectID,
                                                        const FootnoteStorageIDs& footnoteStorageIDs,
                                                        const IWAObjectStore& store, int depth);
    static std::string footnoteText(ByteView storage);
    static std::map<std::int64_t, std::string> attachmentImageNames(ByteView storage, std::string_view text,
                                                                    const PagesImageCatalog& catalog);
    std::map<std::int64_t, Table> attachmentTableGrids(ByteView storage, std::string_view text,
                                                       const IWAObjectStore& store);
    std::optional<Table> tableGrid(std::uint64_t forAttachment, const IWAObjectStore& store);
    std::string cellMarkdown(const IWAObject& cellStorage, const IWAObjectStore& store);
    static std::optional<Table::ColumnAlignment> cellAlignment(const IWAObject& cellStorage,
                                                               const IWAObjectStore& store);

private:
    // Where a document's files come from: the location itself, or the one
    // package folder that a ZIP wraps.
    struct PackageSource;
    std::optional<PagesDocument> readPackage(const PackageSource& source, const std::filesystem::path& url);
    // The storage text, as a view of the payload when it is one well-formed
    // chunk (the usual case), else repaired into `owned`.
    static std::string_view storageTextView(ByteView storage, std::string& owned);
    // Character style table entries (position, style) before resolution.
    static std::vector<ParagraphStyleRun> characterStyleRuns(ByteView storage);

    using FootnoteSearchMemo = std::map<std::pair<std::uint64_t, int>, std::optional<std::uint64_t>>;
    std::optional<std::uint64_t> resolveFootnoteStorage(std::uint64_t objectID,
                                                        const FootnoteStorageIDs& footnoteStorageIDs,
                                                        const IWAObjectStore& store, int depth,
                                                        FootnoteSearchMemo& memo);
    // The reader of documents that keep their content in index.xml.
    PagesDocument readLegacyDocument(const Bytes& indexXML, const std::filesystem::path& url);

    std::unordered_map<std::uint64_t, CharStyleFlags> charFlagsCache_;
    std::unordered_map<std::uint64_t, IdentifierTraits> identifierTraitsCache_;
};

}  // namespace lumaro
