// Arbitrary bytes as an .iwa file, as a record stream and as the payload of
// a body text storage, loaded into one object store and built into a
// document: the reader must never crash, hang or read out of bounds, and the
// document it builds must keep its own invariants.
#include <cstdlib>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroPages/PagesParser.hpp"

using namespace lumaro;

namespace {

constexpr std::uint64_t kFuzzedStorageID = 0xF0220;

void checkInvariants(const PagesDocument& document) {
    for (const auto& paragraph : document.paragraphs) {
        std::size_t attachments = 0;
        for (std::size_t at = paragraph.text.find("\xEF\xBF\xBC"); at != std::string::npos;
             at = paragraph.text.find("\xEF\xBF\xBC", at + 3))
            ++attachments;
        if (paragraph.attachmentReferences.size() != attachments) std::abort();
        for (std::size_t i = 1; i < paragraph.emphasis.size(); ++i)
            if (paragraph.emphasis[i].start < paragraph.emphasis[i - 1].start) std::abort();
        for (const auto& link : paragraph.links)
            if (link.start < 0 || link.end <= link.start) std::abort();
        for (const auto& marker : paragraph.footnoteMarkers)
            if (marker.offset < 0 || marker.number < 1) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView input(data, size);
    std::vector<IWAContainer::Entry> entries{{"Index/Document.iwa", Bytes(input.begin(), input.end())}};
    IWAObjectStore store = PagesParser::loadObjectStore(std::move(entries));
    for (IWAObject& object : IWAArchive::parse(input)) store.add(std::move(object));
    store.add(IWAObject{kFuzzedStorageID, PagesParser::kTextStorageType, Bytes(input.begin(), input.end())});

    PagesParser parser;
    const PagesDocument document = parser.buildDocument(store);
    checkInvariants(document);
    (void)document.markdown();
    return 0;
}
