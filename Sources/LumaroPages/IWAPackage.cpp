#include "LumaroPages/IWAPackage.hpp"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/Protobuf.hpp"
#include "LumaroPages/ZipReader.hpp"

namespace lumaro {
namespace {

constexpr std::int64_t kArchiveInfoIdentifier = 1;
constexpr std::int64_t kArchiveInfoMessageInfo = 2;
constexpr std::int64_t kMessageInfoLength = 3;
constexpr std::size_t kMaximumVarintBytes = 10;

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// A varint of at most 10 bytes at `position`, which moves past it; absent when
// the stream ends inside it or a 10th byte still says more follow.
std::optional<std::uint64_t> readVarint(ByteView stream, std::size_t& position) {
    std::uint64_t value = 0;
    for (std::size_t index = 0; index < kMaximumVarintBytes; ++index) {
        if (position >= stream.size()) return std::nullopt;
        const std::uint8_t byte = stream[position++];
        value |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * index);
        if ((byte & 0x80) == 0) return value;
    }
    return std::nullopt;
}

// True when the path names something inside the package directory: relative,
// made of non-empty components none of which is "..", and free of NUL bytes
// (which the file system would take as the end of the name).
bool staysInsidePackage(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.find('\0') != std::string_view::npos) return false;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = path.find('/', start);
        const std::string_view component =
            path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (component.empty() || component == "..") return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

[[noreturn]] void throwFileError(const char* what, const std::filesystem::path& path, int error) {
    throw std::filesystem::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

void writeFile(const std::filesystem::path& path, ByteView bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throwFileError("cannot create file", path, errno);
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        const int error = errno;
        std::fclose(file);
        throwFileError("cannot write file", path, error);
    }
    if (std::fclose(file) != 0) throwFileError("cannot write file", path, errno);
}

}  // namespace

IWAPackageError::IWAPackageError(std::string path)
    : Error("Package file path would leave the package directory: " + path), path_(std::move(path)) {}

IWAPackage::Content IWAPackage::Content::iwa(std::vector<IWARecord> records, std::optional<Bytes> original) {
    return Content{Iwa{std::move(records), std::move(original)}};
}

IWAPackage::Content IWAPackage::Content::raw(Bytes bytes) { return Content{Raw{std::move(bytes)}}; }

std::vector<IWARecord> IWAPackage::parseRecords(ByteView file) {
    const Bytes decompressed = IWAArchive::decompress(file);
    const ByteView stream(decompressed);
    std::vector<IWARecord> records;
    std::size_t position = 0;
    while (position < stream.size()) {
        const std::optional<std::uint64_t> headerLength = readVarint(stream, position);
        if (!headerLength || *headerLength > stream.size() - position) break;
        const ProtobufMessage header(stream.subspan(position, *headerLength));
        position += *headerLength;
        const std::optional<std::uint64_t> identifier = header.varint(kArchiveInfoIdentifier);
        if (!identifier) break;

        IWARecord record;
        record.identifier = *identifier;
        bool overran = false;
        for (const ProtobufField& field : header.fields()) {
            const Bytes* encodedInfo = field.number == kArchiveInfoMessageInfo ? field.lengthDelimited() : nullptr;
            if (encodedInfo == nullptr) continue;
            const ProtobufMessage info(*encodedInfo);
            const std::uint64_t length = info.varint(kMessageInfoLength).value_or(0);
            if (length > stream.size() - position) {
                overran = true;
                break;
            }
            const ByteView payload = stream.subspan(position, length);
            record.parts.push_back({info.fields(), Bytes(payload.begin(), payload.end()), std::nullopt});
            position += length;
        }
        if (overran) break;  // the record being read goes with its parts
        records.push_back(std::move(record));
    }
    return records;
}

IWAPackage IWAPackage::read(std::vector<SourceFile> sources) {
    IWAPackage package;
    package.files.reserve(sources.size());
    for (SourceFile& source : sources) {
        if (startsWith(source.path, kIndexPrefix) && endsWith(source.path, kArchiveSuffix)) {
            try {
                std::vector<IWARecord> records = parseRecords(source.bytes);
                package.files.push_back({std::move(source.path), Content::iwa(std::move(records), std::move(source.bytes))});
                continue;
            } catch (const Error&) {
                // Damaged chunk framing or compression: kept as the bytes it is.
            }
        }
        package.files.push_back({std::move(source.path), Content::raw(std::move(source.bytes))});
    }
    return package;
}

std::optional<IWAPackage> IWAPackage::readZip(ByteView zip) {
    std::optional<std::vector<ZipReader::Entry>> entries = ZipReader::read(zip);
    if (!entries) return std::nullopt;
    std::vector<SourceFile> sources;
    sources.reserve(entries->size());
    for (ZipReader::Entry& entry : *entries) sources.push_back({entry.path, std::move(entry.data)});
    IWAPackage package = read(std::move(sources));
    for (ZipReader::Entry& entry : *entries) package.zipMeta[entry.path] = std::move(entry.meta);
    return package;
}

Bytes IWAPackage::serialized(const Content& content) {
    if (const Content::Raw* raw = content.asRaw()) return raw->bytes;
    const Content::Iwa& iwa = *content.asIwa();
    bool edited = false;
    for (const IWARecord& record : iwa.records)
        for (const IWARecord::Part& part : record.parts) edited = edited || part.synthesizedReferences.has_value();
    if (iwa.original && !edited) return *iwa.original;

    Bytes stream;
    for (const IWARecord& record : iwa.records) {
        const Bytes framed = record.framed();
        stream.insert(stream.end(), framed.begin(), framed.end());
    }
    if (stream.empty()) return {};
    return IWAArchive::encode(ByteView(stream));
}

void IWAPackage::writeDirectoryPackage(const std::filesystem::path& to) const {
    for (const File& file : files)
        if (!staysInsidePackage(file.path)) throw IWAPackageError(file.path);

    // Index.zip is assembled before anything touches the disk, so that an
    // archive beyond the format's limits leaves no partial package behind.
    StoredZipWriter index;
    for (const File& file : files) {
        if (!startsWith(file.path, kIndexPrefix)) continue;
        const auto meta = zipMeta.find(file.path);
        index.add(file.path, serialized(file.content),
                  meta != zipMeta.end() ? meta->second : StoredZipWriter::Metadata());
    }
    const Bytes indexArchive = index.finish();

    std::filesystem::create_directories(to);
    writeFile(to / kIndexArchiveName, indexArchive);
    for (const File& file : files) {
        if (startsWith(file.path, kIndexPrefix)) continue;
        const std::filesystem::path target = to / file.path;
        std::filesystem::create_directories(target.parent_path());
        writeFile(target, serialized(file.content));
    }
}

}  // namespace lumaro
