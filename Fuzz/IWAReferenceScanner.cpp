// Scanning arbitrary bytes for references, with the varints found in the
// input as the known identifiers: every result is known and reported once.
#include <cstdlib>
#include <unordered_set>

#include "LumaroIWA/IWAReferenceScanner.hpp"
#include "LumaroIWA/Protobuf.hpp"

using namespace lumaro;

namespace {

void collectVarints(const ProtobufMessage& message, int depth, std::unordered_set<std::uint64_t>& known) {
    for (const auto& field : message.fields()) {
        if (const auto* value = field.varint()) known.insert(*value);
        if (const auto* bytes = field.lengthDelimited(); bytes && depth < 3) {
            collectVarints(ProtobufMessage(*bytes), depth + 1, known);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView input(data, size);
    std::unordered_set<std::uint64_t> known{0, 1, 2};
    collectVarints(ProtobufMessage(input), 0, known);
    const auto found = IWAReferenceScanner::referencedObjectIDs(input, known);
    std::unordered_set<std::uint64_t> unique;
    for (const auto identifier : found) {
        if (!known.contains(identifier) || !unique.insert(identifier).second) std::abort();
    }
    return 0;
}
