#include <cstdint>
#include <cstdlib>
#include <vector>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroPages/IWAObjectGraph.hpp"
#include "LumaroPages/IWAPackage.hpp"

namespace {

lumaro::Bytes framedStream(const std::vector<lumaro::IWARecord>& records) {
    lumaro::Bytes stream;
    for (const auto& record : records) {
        const lumaro::Bytes framed = record.framed();
        stream.insert(stream.end(), framed.begin(), framed.end());
    }
    return stream;
}

// Framing what was parsed, parsing that and framing again changes nothing.
void checkReframing(const lumaro::IWAPackage& package) {
    for (const auto& file : package.files) {
        const auto* iwa = file.content.asIwa();
        if (iwa == nullptr) continue;
        const lumaro::Bytes stream = framedStream(iwa->records);
        const auto again = lumaro::IWAPackage::read({{"Index/Again.iwa", lumaro::IWAArchive::encode(lumaro::ByteView(stream))}});
        const auto* reparsed = again.files.at(0).content.asIwa();
        if (stream.empty()) continue;
        if (reparsed == nullptr || framedStream(reparsed->records) != stream) std::abort();
    }
}

// The graph's edits on whatever was read: nothing may crash.
void editAsGraph(const lumaro::IWAPackage& package, lumaro::ByteView payload) {
    lumaro::IWAObjectGraph graph = lumaro::IWAObjectGraph::read(package);
    const lumaro::Bytes bytes(payload.begin(), payload.end());
    try {
        const std::uint64_t added = graph.addObject(std::nullopt, 2001, bytes, "Index/Document.iwa");
        graph.replacePayload(added, std::nullopt, bytes);
    } catch (const lumaro::IWAObjectGraphError&) {
        // the largest identifier is taken
    }
    graph.syncPackageMetadata();
    for (const auto& file : graph.package().files) (void)lumaro::IWAPackage::serialized(file.content);
}

}  // namespace

// The input as a stored ZIP document and as one decompressed record stream.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const lumaro::ByteView input(data, size);
    if (const auto zipped = lumaro::IWAPackage::readZip(input)) {
        for (const auto& file : zipped->files) (void)lumaro::IWAPackage::serialized(file.content);
        checkReframing(*zipped);
    }
    const auto records = lumaro::IWAPackage::read({{"Index/Document.iwa", lumaro::IWAArchive::encode(input)}});
    checkReframing(records);
    editAsGraph(records, input.first(std::min<std::size_t>(size, 256)));
    return 0;
}
