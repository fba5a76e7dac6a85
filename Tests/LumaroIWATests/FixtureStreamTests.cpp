#include <gtest/gtest.h>

#include <map>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/IWAContainer.hpp"
#include "Support/TestSupport.hpp"

namespace fs = std::filesystem;
using namespace lumaro;

namespace {

constexpr std::uint64_t kDocumentArchiveType = 10000;

// The Index/*.iwa streams of a document as the document reader finds them:
// at the root of the container, or in the package under a ZIP's top folder.
std::vector<IWAContainer::Entry> documentStreams(const fs::path& document) {
    auto entries = IWAContainer::entries(document, "Index/", ".iwa");
    if (entries.empty())
        if (const auto folder = IWAContainer::topFolder(document))
            entries = IWAContainer::entriesInFolder(document, *folder, "Index/", ".iwa");
    return entries;
}

std::vector<fs::path> containerDocuments() {
    std::vector<fs::path> documents;
    for (const auto& document : test::fixtureDocuments())
        if (document.filename() != "pages4.xml.gz") documents.push_back(document);  // a bare gzip stream
    return documents;
}

bool sameObjects(const std::vector<IWAObject>& a, const std::vector<IWAObject>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const IWAObject& x, const IWAObject& y) {
        return x.identifier == y.identifier && x.type == y.type && x.payload == y.payload;
    });
}

}  // namespace

TEST(FixtureStreams, EveryDocumentDecodesIntoSaneObjects) {
    std::size_t iwaDocuments = 0;
    for (const auto& document : containerDocuments()) {
        const std::string name = document.filename().string();
        const auto streams = documentStreams(document);
        if (streams.empty()) continue;  // a legacy document
        ++iwaDocuments;
        IWAObjectStore store;
        std::map<std::uint64_t, std::uint64_t> typeOf;
        for (const auto& stream : streams) {
            std::vector<IWAObject> objects;
            ASSERT_NO_THROW(objects = IWAArchive::objects(stream.data)) << name << " " << stream.path;
            EXPECT_FALSE(objects.empty()) << name << " " << stream.path;
            if (stream.path == "Index/Document.iwa") {
                // The document archive opens the main stream.
                ASSERT_FALSE(objects.empty());
                EXPECT_EQ(objects.front().identifier, 1u) << name;
                EXPECT_EQ(objects.front().type, kDocumentArchiveType) << name;
            }
            for (auto& object : objects) {
                EXPECT_NE(object.identifier, 0u) << name << " " << stream.path;
                EXPECT_NE(object.type, 0u) << name << " " << stream.path;
                // Some documents repeat an object; the repeat has the same type.
                const auto [known, added] = typeOf.emplace(object.identifier, object.type);
                EXPECT_EQ(known->second, object.type) << name << " object " << object.identifier;
                store.add(std::move(object));
            }
        }
        ASSERT_NE(store.object(1), nullptr) << name;
        EXPECT_EQ(store.object(1)->type, kDocumentArchiveType) << name;
        EXPECT_EQ(store.objects(kDocumentArchiveType).size(), 1u) << name;
        EXPECT_GT(store.objects().size(), 100u) << name;
    }
    EXPECT_EQ(iwaDocuments, 14u);
}

TEST(FixtureStreams, ReencodedStreamsDecodeToTheSameObjects) {
    std::size_t streamCount = 0;
    for (const auto& document : containerDocuments()) {
        for (const auto& stream : documentStreams(document)) {
            const std::string where = document.filename().string() + " " + stream.path;
            const auto objects = IWAArchive::objects(stream.data);
            EXPECT_TRUE(sameObjects(IWAArchive::objects(IWAArchive::encode(objects)), objects)) << where;

            const Bytes records = IWAArchive::decompress(stream.data);
            const Bytes reencoded = IWAArchive::encode(records);
            EXPECT_EQ(IWAArchive::decompress(reencoded), records) << where;
            EXPECT_TRUE(sameObjects(IWAArchive::objects(reencoded), objects)) << where;
            ++streamCount;
        }
    }
    EXPECT_GT(streamCount, 400u);
}
