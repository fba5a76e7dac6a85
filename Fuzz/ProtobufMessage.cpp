// Lenient decoding of arbitrary bytes, every lookup, and re-encoding: the
// fields written back with append() must decode to the same fields.
#include <cstdlib>

#include "LumaroIWA/Protobuf.hpp"

using namespace lumaro;

namespace {

bool sameFields(const ProtobufMessage& left, const ProtobufMessage& right) {
    if (left.fields().size() != right.fields().size()) return false;
    for (std::size_t index = 0; index < left.fields().size(); ++index) {
        const auto& a = left.fields()[index];
        const auto& b = right.fields()[index];
        if (a.number != b.number || a.value.index() != b.value.index()) return false;
        if (a.varint() && *a.varint() != *b.varint()) return false;
        if (a.lengthDelimited() && *a.lengthDelimited() != *b.lengthDelimited()) return false;
        if (a.fixed32() && *a.fixed32() != *b.fixed32()) return false;
        if (a.fixed64() && *a.fixed64() != *b.fixed64()) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ProtobufMessage message(ByteView(data, size));
    // Lookups scan all fields, so only the first few numbers are looked up.
    constexpr std::size_t kLookedUpFields = 64;
    std::size_t seen = 0;
    for (std::size_t index = 0; index < message.fields().size() && index < kLookedUpFields; ++index) {
        const auto number = message.fields()[index].number;
        seen += message.varint(number).has_value() + message.bytes(number).has_value() +
                message.float32(number).has_value() + message.allBytes(number).size() +
                message.allVarints(number).size() + (message.bytesPointer(number) != nullptr);
        if (const auto nested = message.message(number)) seen += nested->fields().size();
    }
    for (const auto& nested : message.messages(1)) seen += nested.fields().size();

    ProtobufWriter writer;
    for (const auto& field : message.fields()) writer.append(field);
    if (!sameFields(ProtobufMessage(writer.bytes()), message)) std::abort();
    return seen == SIZE_MAX;
}
