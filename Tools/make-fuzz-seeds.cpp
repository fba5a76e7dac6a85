// make-fuzz-seeds <fixtures dir> <out dir>
//
// Writes the starting inputs of the fuzz targets, one folder per kind of
// seed (the kinds that Fuzz/seeds.txt names), taken from real documents:
//   iwa       whole Index/*.iwa files
//   snappy    single chunk bodies (raw Snappy blocks)
//   records   decompressed record streams
//   payloads  object payloads of many message types
//   zip       whole small ZIP documents
//   xml       the index.xml of legacy documents
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/IWAContainer.hpp"

namespace fs = std::filesystem;
using lumaro::Bytes;
using lumaro::ByteView;

namespace {

// libFuzzer runs with inputs of at most this size; larger seeds would be cut.
constexpr std::size_t kMaximumSeedSize = 256 * 1024;
constexpr std::size_t kMaximumPayloads = 2000;
constexpr std::size_t kChunkHeaderSize = 4;

struct Document {
    std::string name;  // file name without extension
    fs::path location;
};

class SeedWriter {
public:
    explicit SeedWriter(fs::path root) : root_(std::move(root)) {}

    void write(const std::string& kind, const std::string& name, ByteView bytes) {
        const fs::path folder = root_ / kind;
        fs::create_directories(folder);
        std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + (folder / name).string());
        ++counts_[kind];
    }

    void report() const {
        for (const auto& [kind, count] : counts_) std::cout << kind << ": " << count << " seeds\n";
    }

private:
    fs::path root_;
    std::map<std::string, std::size_t> counts_;
};

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<Document> documents(const fs::path& fixtures) {
    std::vector<Document> found;
    for (const auto& item : fs::directory_iterator(fixtures)) {
        const auto& path = item.path();
        if (path.extension() == ".pages" || path.filename().string().ends_with(".xml.gz")) {
            found.push_back({path.stem().string(), path});
        }
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.location < b.location; });
    return found;
}

// A file name for a seed from a path inside a document: "/" and spaces become "-".
std::string flattened(const std::string& path) {
    std::string name;
    for (const char c : path) name += (c == '/' || c == ' ') ? '-' : c;
    return name;
}

std::vector<ByteView> chunkBodies(ByteView file) {
    std::vector<ByteView> bodies;
    std::size_t position = 0;
    while (file.size() - position >= kChunkHeaderSize) {
        const std::size_t length = std::size_t{file[position + 1]} | std::size_t{file[position + 2]} << 8 |
                                   std::size_t{file[position + 3]} << 16;
        position += kChunkHeaderSize;
        if (length > file.size() - position) break;
        bodies.push_back(file.subspan(position, length));
        position += length;
    }
    return bodies;
}

std::uint64_t checksum(ByteView bytes) {
    std::uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
    for (const auto byte : bytes) hash = (hash ^ byte) * 0x100000001B3ull;
    return hash;
}

// Payloads of many types: one of each type in turn, until the budget is spent.
void writePayloads(SeedWriter& seeds, const std::vector<lumaro::IWAObject>& objects) {
    std::map<std::uint64_t, std::vector<const lumaro::IWAObject*>> byType;
    // Payloads already taken, by size and checksum: many objects repeat.
    std::set<std::pair<std::size_t, std::uint64_t>> seen;
    for (const auto& object : objects) {
        if (object.payload.empty() || object.payload.size() > kMaximumSeedSize) continue;
        if (!seen.insert({object.payload.size(), checksum(object.payload)}).second) continue;
        byType[object.type].push_back(&object);
    }
    std::size_t written = 0;
    for (std::size_t round = 0; written < kMaximumPayloads; ++round) {
        bool any = false;
        for (const auto& [type, ofType] : byType) {
            if (round >= ofType.size() || written >= kMaximumPayloads) continue;
            const auto* object = ofType[round];
            seeds.write("payloads", "type" + std::to_string(type) + "-" + std::to_string(round), object->payload);
            ++written;
            any = true;
        }
        if (!any) break;
    }
}

void writeStreams(SeedWriter& seeds, const Document& document, std::vector<lumaro::IWAObject>& objects) {
    std::vector<lumaro::IWAContainer::Entry> entries;
    try {
        entries = lumaro::IWAContainer::entries(document.location, "Index/", ".iwa");
        // A ZIP that wraps a package directory in one top folder.
        if (entries.empty()) {
            if (const auto folder = lumaro::IWAContainer::topFolder(document.location)) {
                entries = lumaro::IWAContainer::entriesInFolder(document.location, *folder, "Index/", ".iwa");
            }
        }
    } catch (const std::exception& error) {
        std::cerr << document.name << ": " << error.what() << "\n";
        return;
    }
    for (const auto& entry : entries) {
        const std::string name = document.name + "-" + flattened(entry.path);
        if (entry.data.size() <= kMaximumSeedSize) seeds.write("iwa", name, entry.data);
        std::size_t chunk = 0;
        for (const ByteView body : chunkBodies(entry.data)) {
            seeds.write("snappy", name + "-" + std::to_string(chunk++), body);
        }
        try {
            Bytes records = lumaro::IWAArchive::decompress(entry.data);
            for (auto& object : lumaro::IWAArchive::parse(records)) objects.push_back(std::move(object));
            if (records.size() > kMaximumSeedSize) records.resize(kMaximumSeedSize);
            seeds.write("records", name, records);
        } catch (const lumaro::Error& error) {
            std::cerr << name << ": " << error.what() << "\n";
        }
    }
}

bool isZip(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    in.read(magic, sizeof magic);
    return in && magic[0] == 'P' && magic[1] == 'K' && magic[2] == 3 && magic[3] == 4;
}

// A bare gzipped index.xml rather than a document container.
bool isGzipStream(const Document& document) {
    return fs::is_regular_file(document.location) && document.location.filename().string().ends_with(".xml.gz");
}

// The text of a gzipped file, through the gzip program; absent if it fails.
std::optional<Bytes> gunzipped(const fs::path& path) {
    std::string quoted = "'";
    for (const char c : path.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    FILE* pipe = popen(("gzip -dc " + quoted + " 2>/dev/null").c_str(), "r");
    if (!pipe) return std::nullopt;
    Bytes text;
    char buffer[65536];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.insert(text.end(), buffer, buffer + count);
    if (pclose(pipe) != 0) return std::nullopt;
    return text;
}

void writeLegacyIndex(SeedWriter& seeds, const Document& document) {
    std::optional<Bytes> index;
    if (isGzipStream(document)) {
        index = gunzipped(document.location);
    } else if (fs::is_directory(document.location) && fs::exists(document.location / "index.xml.gz")) {
        index = gunzipped(document.location / "index.xml.gz");
    } else {
        index = lumaro::IWAContainer::data(document.location, "index.xml");
        if (!index) {
            if (const auto folder = lumaro::IWAContainer::topFolder(document.location)) {
                index = lumaro::IWAContainer::dataInFolder(document.location, *folder, "index.xml");
            }
        }
    }
    if (index && !index->empty()) seeds.write("xml", document.name + "-index.xml", *index);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make-fuzz-seeds <fixtures dir> <out dir>\n";
        return 2;
    }
    try {
        SeedWriter seeds(argv[2]);
        std::vector<lumaro::IWAObject> objects;
        for (const auto& document : documents(argv[1])) {
            if (fs::is_regular_file(document.location) && isZip(document.location) &&
                fs::file_size(document.location) <= kMaximumSeedSize) {
                seeds.write("zip", document.location.filename().string(), readFile(document.location));
            }
            if (!isGzipStream(document)) writeStreams(seeds, document, objects);
            writeLegacyIndex(seeds, document);
        }
        writePayloads(seeds, objects);
        seeds.report();
    } catch (const std::exception& error) {
        std::cerr << "make-fuzz-seeds: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
