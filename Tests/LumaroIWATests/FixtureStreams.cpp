#include "LumaroIWATests/FixtureStreams.hpp"

#include <algorithm>
#include <filesystem>

#include "Support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace lumaro::test {

namespace {

void unzipStreams(const fs::path& archive, const fs::path& into) {
    fs::create_directories(into);
    // Only .iwa entries and nested Index.zip: the patterns keep unzip away
    // from encrypted entries, which would make it ask for a password.
    runCommand({"unzip", "-qq", "-o", archive.string(), "*.iwa", "*Index.zip", "-d", into.string()});
}

void collect(const std::string& document, const fs::path& folder, const fs::path& scratch,
             std::vector<FixtureStream>& streams) {
    std::vector<fs::path> files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (item.is_regular_file()) files.push_back(item.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        if (file.extension() == ".iwa") {
            streams.push_back({document + ":" + fs::relative(file, folder).string(), readFileBytes(file)});
        } else if (file.filename() == "Index.zip") {
            const auto inner = scratch / ("inner-" + std::to_string(streams.size()));
            unzipStreams(file, inner);
            collect(document, inner, scratch, streams);
        }
    }
}

std::vector<FixtureStream> loadStreams() {
    TemporaryDirectory scratch;
    std::vector<FixtureStream> streams;
    int index = 0;
    for (const auto& document : fixtureDocuments()) {
        const std::string name = document.filename().string();
        if (fs::is_directory(document)) {
            collect(name, document, scratch.path(), streams);
        } else if (document.extension() == ".pages") {
            const auto folder = scratch / ("document-" + std::to_string(index++));
            unzipStreams(document, folder);
            collect(name, folder, scratch.path(), streams);
        }
    }
    return streams;
}

}  // namespace

const std::vector<FixtureStream>& fixtureStreams() {
    static const std::vector<FixtureStream> streams = loadStreams();
    return streams;
}

std::vector<ByteView> chunkBodies(ByteView file) {
    std::vector<ByteView> bodies;
    std::size_t position = 0;
    while (position + 4 <= file.size()) {
        const std::size_t length = file[position + 1] | file[position + 2] << 8 | file[position + 3] << 16;
        position += 4;
        if (length > file.size() - position) break;
        bodies.push_back(file.subspan(position, length));
        position += length;
    }
    return bodies;
}

}  // namespace lumaro::test
