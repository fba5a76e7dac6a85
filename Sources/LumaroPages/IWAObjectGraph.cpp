#include "LumaroPages/IWAObjectGraph.hpp"

#include <algorithm>
#include <limits>

#include "LumaroIWA/IWAReferenceScanner.hpp"
#include "LumaroIWA/Protobuf.hpp"

namespace lumaro {
namespace {

constexpr std::int64_t kMessageInfoType = 1;
constexpr std::int64_t kHighestIdentifierField = 1;  // of the package metadata
constexpr std::uint64_t kLargestIdentifier = std::numeric_limits<std::uint64_t>::max();

std::optional<std::uint64_t> firstVarint(const std::vector<ProtobufField>& fields, std::int64_t number) {
    for (const ProtobufField& field : fields)
        if (field.number == number)
            if (const std::uint64_t* value = field.varint()) return *value;
    return std::nullopt;
}

// The payload with every field 1 written in its place as the varint `value`
// (appended when there is none); every other field is kept as it was.
Bytes withHighestIdentifier(const Bytes& payload, std::uint64_t value) {
    ProtobufWriter writer;
    bool replaced = false;
    const ProtobufMessage message(payload);
    for (const ProtobufField& field : message.fields()) {
        if (field.number == kHighestIdentifierField) {
            writer.varintField(kHighestIdentifierField, value);
            replaced = true;
        } else {
            writer.append(field);
        }
    }
    if (!replaced) writer.varintField(kHighestIdentifierField, value);
    return writer.take();
}

}  // namespace

IWAObjectGraphError::IWAObjectGraphError() : Error("No object identifier is left to give a new object.") {}

IWAObjectGraph IWAObjectGraph::read(IWAPackage package) {
    IWAObjectGraph graph;
    for (IWAPackage::File& file : package.files) {
        if (auto* iwa = std::get_if<IWAPackage::Content::Iwa>(&file.content.value)) {
            graph.components.push_back({std::move(file.path), std::move(iwa->records), std::move(iwa->original)});
        } else {
            auto& raw = std::get<IWAPackage::Content::Raw>(file.content.value);
            graph.rawFiles.push_back({std::move(file.path), std::move(raw.bytes)});
        }
    }
    return graph;
}

std::unordered_set<std::uint64_t> IWAObjectGraph::allIdentifiers() const {
    std::unordered_set<std::uint64_t> identifiers;
    for (const Component& component : components)
        for (const IWARecord& record : component.records) identifiers.insert(record.identifier);
    return identifiers;
}

std::optional<std::uint64_t> IWAObjectGraph::largestIdentifier() const {
    std::optional<std::uint64_t> largest;
    for (const Component& component : components)
        for (const IWARecord& record : component.records)
            if (!largest || record.identifier > *largest) largest = record.identifier;
    return largest;
}

IWARecord* IWAObjectGraph::firstRecord(std::uint64_t identifier) {
    for (Component& component : components)
        for (IWARecord& record : component.records)
            if (record.identifier == identifier) return &record;
    return nullptr;
}

IWARecord::Part IWAObjectGraph::synthesizedPart(std::uint64_t type, Bytes payload,
                                                std::vector<std::uint64_t> references) {
    IWARecord::Part part;
    part.messageInfo.push_back({kMessageInfoType, ProtobufField::Varint{type}});
    part.payload = std::move(payload);
    part.synthesizedReferences = std::move(references);
    return part;
}

std::uint64_t IWAObjectGraph::addObject(std::optional<std::uint64_t> identifier, std::uint64_t type, Bytes payload,
                                        const std::string& toComponent) {
    if (!identifier) {
        const std::uint64_t largest = largestIdentifier().value_or(0);
        if (largest == kLargestIdentifier) throw IWAObjectGraphError();
        identifier = std::max(largest + 1, reservedFloor);
    }
    // The largest value has no successor; the floor then stays at it, and the
    // next identifier chosen is refused above rather than wrapping around.
    reservedFloor = std::max(reservedFloor, *identifier == kLargestIdentifier ? *identifier : *identifier + 1);

    std::unordered_set<std::uint64_t> known = allIdentifiers();
    known.insert(*identifier);
    std::vector<std::uint64_t> references = IWAReferenceScanner::referencedObjectIDs(payload, known);

    IWARecord record;
    record.identifier = *identifier;
    record.parts.push_back(synthesizedPart(type, std::move(payload), std::move(references)));

    const auto target = std::find_if(components.begin(), components.end(),
                                     [&](const Component& component) { return component.path == toComponent; });
    if (target != components.end())
        target->records.push_back(std::move(record));
    else
        components.push_back({toComponent, {std::move(record)}, std::nullopt});
    return *identifier;
}

void IWAObjectGraph::replacePayload(std::uint64_t of, std::optional<std::uint64_t> type, Bytes with) {
    std::vector<std::uint64_t> references = IWAReferenceScanner::referencedObjectIDs(with, allIdentifiers());
    IWARecord* record = firstRecord(of);
    if (record == nullptr) return;
    const std::uint64_t kept = type.value_or(record->type());
    record->parts.clear();
    record->parts.push_back(synthesizedPart(kept, std::move(with), std::move(references)));
}

std::optional<IWAObjectGraph::RecordPosition> IWAObjectGraph::packageMetadata() const {
    for (std::size_t c = 0; c < components.size(); ++c) {
        const std::vector<IWARecord>& records = components[c].records;
        for (std::size_t r = 0; r < records.size(); ++r) {
            if (records[r].parts.empty()) continue;
            if (firstVarint(records[r].parts.front().messageInfo, kMessageInfoType) == kPackageMetadataType)
                return RecordPosition{c, r, records[r].identifier};
        }
    }
    return std::nullopt;
}

void IWAObjectGraph::syncPackageMetadata() {
    const std::optional<RecordPosition> position = packageMetadata();
    if (!position) return;
    Component& component = components[position->component];
    IWARecord& record = component.records[position->record];
    if (record.parts.empty()) return;

    const std::uint64_t largest = largestIdentifier().value_or(0);
    IWARecord::Part& part = record.parts.front();
    const std::optional<std::uint64_t> highest = ProtobufMessage(part.payload).varint(kHighestIdentifierField);
    if (highest ? *highest >= largest : largest == 0) return;

    // The part keeps its MessageInfo fields; framing gives it the new length.
    part.payload = withHighestIdentifier(part.payload, largest);
    component.originalBytes.reset();
}

IWAPackage IWAObjectGraph::package() const {
    IWAPackage result;
    result.files.reserve(components.size() + rawFiles.size());
    for (const Component& component : components)
        result.files.push_back({component.path, IWAPackage::Content::iwa(component.records, component.originalBytes)});
    for (const RawFile& file : rawFiles) result.files.push_back({file.path, IWAPackage::Content::raw(file.bytes)});
    return result;
}

}  // namespace lumaro
