// Arbitrary bytes as an .iwa file and as a record stream: decoding must fail
// cleanly or yield objects that re-encode to the same objects, and the
// editing operations must fail cleanly or keep every object readable.
#include <cstdlib>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/Snappy.hpp"

using namespace lumaro;

namespace {

bool sameObjects(const std::vector<IWAObject>& left, const std::vector<IWAObject>& right) {
    if (left.size() != right.size()) return false;
    for (std::size_t index = 0; index < left.size(); ++index) {
        if (left[index].identifier != right[index].identifier || left[index].type != right[index].type ||
            left[index].payload != right[index].payload)
            return false;
    }
    return true;
}

void exercise(const std::vector<IWAObject>& objects, const Bytes& file) {
    IWAObjectStore store;
    for (const auto& object : objects) store.add(object);
    for (const auto& object : objects) {
        const IWAObject* found = store.object(object.identifier);
        if (found == nullptr || found->identifier != object.identifier) std::abort();
        if (store.objects(object.type).empty()) std::abort();
    }
    if (!sameObjects(IWAArchive::objects(IWAArchive::encode(objects)), objects)) std::abort();
    if (objects.empty()) return;

    // The identity transformation keeps every object as it was.
    try {
        const Bytes edited = IWAArchive::replacingPayload(file, objects.front().identifier,
                                                          [](const Bytes& payload) { return payload; });
        if (!sameObjects(IWAArchive::objects(edited), objects)) std::abort();
        const IWAObject extra{objects.back().identifier + 1, 1, {0x08, 0x01}};
        std::vector<IWAObject> expected = objects;
        expected.push_back(extra);
        if (!sameObjects(IWAArchive::objects(IWAArchive::appending({extra}, edited)), expected)) std::abort();
    } catch (const IWAArchiveError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView input(data, size);
    try {
        const auto objects = IWAArchive::objects(input);
        exercise(objects, Bytes(input.begin(), input.end()));
    } catch (const IWAArchiveError&) {
    } catch (const SnappyError&) {
    }
    // The same bytes as a record stream that is already decompressed.
    const auto parsed = IWAArchive::parse(input);
    exercise(parsed, IWAArchive::encode(input));
    return 0;
}
