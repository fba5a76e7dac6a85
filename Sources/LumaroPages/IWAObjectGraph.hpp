#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "LumaroIWA/Bytes.hpp"
#include "LumaroIWA/Error.hpp"
#include "LumaroPages/IWAPackage.hpp"
#include "LumaroPages/IWARecord.hpp"

namespace lumaro {

// No identifier is left above the largest one in the graph.
class IWAObjectGraphError : public Error {
public:
    enum class Case { identifiersExhausted };
    IWAObjectGraphError();
    Case kind() const { return Case::identifiersExhausted; }
};

// A document being edited object by object: the records of every `.iwa` file,
// grouped by file, and the other files as raw bytes. Records that are neither
// added nor replaced keep the MessageInfo fields and payloads they were read
// with, and a file none of whose records changed is written back as read.
struct IWAObjectGraph {
    struct Component {
        std::string path;  // e.g. Index/Document.iwa
        std::vector<IWARecord> records;
        std::optional<Bytes> originalBytes;  // absent once edited in place, or when created here
    };

    struct RawFile {
        std::string path;
        Bytes bytes;
    };

    static constexpr std::uint64_t kPackageMetadataType = 11006;

    std::vector<Component> components;  // package order, then order of creation
    std::vector<RawFile> rawFiles;      // package order
    // The least identifier the graph may choose by itself; kept above every
    // identifier addObject has handed out.
    std::uint64_t reservedFloor = 0;

    static IWAObjectGraph read(IWAPackage package);

    std::unordered_set<std::uint64_t> allIdentifiers() const;

    // Adds a record of one part to the first component with that path (a new
    // component at the end when there is none) and returns its identifier: the
    // given one, or the next free one above the graph and `reservedFloor`.
    // Throws IWAObjectGraphError when it must choose and the largest identifier
    // is already the largest 64-bit value.
    std::uint64_t addObject(std::optional<std::uint64_t> identifier, std::uint64_t type, Bytes payload,
                            const std::string& toComponent);

    // Gives the first record with the identifier a single new part; the type
    // stays unless one is given. Changes nothing when no record has it.
    void replacePayload(std::uint64_t of, std::optional<std::uint64_t> type, Bytes with);

    // Raises the package metadata's highest identifier (its varint field 1) to
    // the largest identifier of the graph.
    void syncPackageMetadata();

    IWAPackage package() const;

private:
    struct RecordPosition {
        std::size_t component = 0;
        std::size_t record = 0;
        std::uint64_t id = 0;
    };

    std::optional<RecordPosition> packageMetadata() const;
    std::optional<std::uint64_t> largestIdentifier() const;
    IWARecord* firstRecord(std::uint64_t identifier);
    static IWARecord::Part synthesizedPart(std::uint64_t type, Bytes payload, std::vector<std::uint64_t> references);
};

}  // namespace lumaro
