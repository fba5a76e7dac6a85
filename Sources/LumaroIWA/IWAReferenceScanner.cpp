#include "LumaroIWA/IWAReferenceScanner.hpp"

#include "LumaroIWA/Protobuf.hpp"

namespace lumaro {

namespace {

// A reference message holds the identifier in field 1 and at most the
// optional extras of fields 2 and 3.
constexpr std::int64_t kReferenceIdentifier = 1;
constexpr std::int64_t kLastReferenceField = 3;

struct ScanState {
    const std::unordered_set<std::uint64_t>& known;
    std::vector<std::uint64_t> found;
    std::unordered_set<std::uint64_t> seen;
};

// The identifier of a reference-shaped message, else absent.
std::optional<std::uint64_t> referenceIdentifier(const ProtobufMessage& message) {
    if (message.fields().empty()) return std::nullopt;
    for (const auto& field : message.fields()) {
        if (field.number < kReferenceIdentifier || field.number > kLastReferenceField) return std::nullopt;
    }
    for (const auto& field : message.fields()) {
        if (field.number == kReferenceIdentifier) {
            if (const auto* value = field.varint()) return *value;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void walkChildren(const ProtobufMessage& message, ScanState& state, int depth);

void walk(const ProtobufMessage& message, ScanState& state, int depth) {
    if (depth > IWAReferenceScanner::kMaximumDepth) return;
    if (const auto identifier = referenceIdentifier(message); identifier && state.known.contains(*identifier)) {
        if (state.seen.insert(*identifier).second) state.found.push_back(*identifier);
        return;
    }
    walkChildren(message, state, depth + 1);
}

// Every non-empty byte string inside a message is tried as a message of its own.
void walkChildren(const ProtobufMessage& message, ScanState& state, int depth) {
    for (const auto& field : message.fields()) {
        const auto* bytes = field.lengthDelimited();
        if (!bytes || bytes->empty()) continue;
        const ProtobufMessage child(*bytes);
        if (!child.fields().empty()) walk(child, state, depth);
    }
}

}  // namespace

std::vector<std::uint64_t> IWAReferenceScanner::referencedObjectIDs(ByteView payload,
                                                                    const std::unordered_set<std::uint64_t>& known) {
    ScanState state{known, {}, {}};
    // The top-level message is never a reference itself; its children start at depth 1.
    walkChildren(ProtobufMessage(payload), state, 1);
    return state.found;
}

}  // namespace lumaro
