// Throughput of the codec beside libsnappy, on the fixtures' record streams
// and on a large text-like buffer, and of protobuf field decoding.
#include <benchmark/benchmark.h>
#include <snappy.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/Protobuf.hpp"
#include "LumaroIWA/Snappy.hpp"

namespace fs = std::filesystem;
using lumaro::Bytes;
using lumaro::ByteView;

namespace {

constexpr std::size_t kTextSize = 64u << 20;

std::string quoted(const fs::path& path) {
    std::string text = "'";
    for (const char c : path.string()) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void unzipStreams(const fs::path& archive, const fs::path& into) {
    fs::create_directories(into);
    const std::string command = "unzip -qq -o " + quoted(archive) + " '*.iwa' '*Index.zip' -d " + quoted(into) +
                                " >/dev/null 2>&1";
    [[maybe_unused]] const int status = std::system(command.c_str());
}

void collect(const fs::path& folder, const fs::path& scratch, std::vector<Bytes>& files) {
    std::vector<fs::path> paths;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (item.is_regular_file()) paths.push_back(item.path());
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
        if (path.extension() == ".iwa") {
            files.push_back(readFile(path));
        } else if (path.filename() == "Index.zip") {
            const auto inner = scratch / ("inner-" + std::to_string(files.size()));
            unzipStreams(path, inner);
            collect(inner, scratch, files);
        }
    }
}

// Every .iwa file of every fixture document, extracted with unzip.
std::vector<Bytes> loadFixtureFiles() {
    const fs::path fixtures = fs::path(LUMARO_SHARED_DIR) / "fixtures" / "pages";
    const fs::path scratch = fs::temp_directory_path() / ("lumaro-bench-" + std::to_string(std::random_device{}()));
    std::vector<Bytes> files;
    std::vector<fs::path> documents;
    for (const auto& item : fs::directory_iterator(fixtures)) {
        if (item.path().extension() == ".pages") documents.push_back(item.path());
    }
    std::sort(documents.begin(), documents.end());
    int index = 0;
    for (const auto& document : documents) {
        if (fs::is_directory(document)) {
            collect(document, scratch, files);
        } else {
            const auto folder = scratch / ("document-" + std::to_string(index++));
            unzipStreams(document, folder);
            collect(folder, scratch, files);
        }
    }
    fs::remove_all(scratch);
    return files;
}

struct Corpus {
    std::vector<Bytes> streams;  // decompressed record streams
    std::vector<Bytes> chunks;   // the chunk bodies as Pages wrote them
    std::vector<Bytes> payloads; // every object's payload
    std::size_t streamBytes = 0;
    std::size_t chunkOutputBytes = 0;
    std::size_t payloadBytes = 0;
};

const Corpus& corpus() {
    static const Corpus loaded = [] {
        Corpus c;
        for (const auto& file : loadFixtureFiles()) {
            try {
                c.streams.push_back(lumaro::IWAArchive::decompress(file));
            } catch (const lumaro::Error&) {
                continue;
            }
            c.streamBytes += c.streams.back().size();
            std::size_t position = 0;
            while (position + 4 <= file.size()) {
                const std::size_t length = file[position + 1] | file[position + 2] << 8 | file[position + 3] << 16;
                position += 4;
                c.chunks.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(position),
                                      file.begin() + static_cast<std::ptrdiff_t>(position + length));
                c.chunkOutputBytes += lumaro::Snappy::decompress(c.chunks.back()).size();
                position += length;
            }
            for (auto& object : lumaro::IWAArchive::parse(c.streams.back())) {
                c.payloadBytes += object.payload.size();
                c.payloads.push_back(std::move(object.payload));
            }
        }
        return c;
    }();
    return loaded;
}

// Words of a fixed vocabulary chosen by a seeded generator: text-like data
// with matches at every distance.
const Bytes& textBuffer() {
    static const Bytes text = [] {
        static const char* const vocabulary[] = {
            "the ",      "of ",       "and ",     "a ",         "to ",       "in ",        "document ", "paragraph ",
            "style ",    "table ",    "archive ", "object ",    "Pages ",    "Markdown ",  "text, ",    "with ",
            "is ",       "for ",      "heading.", "\n",         "list ",     "footnote ",  "image ",    "that ",
            "storage ",  "character ", "format ", "identifier ", "reference ", "converter ", "record ", "stream "};
        std::mt19937 random(42);
        Bytes bytes;
        bytes.reserve(kTextSize + 16);
        while (bytes.size() < kTextSize) {
            const char* word = vocabulary[random() % std::size(vocabulary)];
            bytes.insert(bytes.end(), word, word + std::char_traits<char>::length(word));
        }
        bytes.resize(kTextSize);
        return bytes;
    }();
    return text;
}

const Bytes& compressedText() {
    static const Bytes block = lumaro::Snappy::compress(textBuffer());
    return block;
}

const char* chars(const Bytes& bytes) { return reinterpret_cast<const char*>(bytes.data()); }

void OursCompressFixtures(benchmark::State& state) {
    const auto& c = corpus();
    for (auto _ : state) {
        for (const auto& stream : c.streams) benchmark::DoNotOptimize(lumaro::Snappy::compress(stream));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.streamBytes));
}

void LibsnappyCompressFixtures(benchmark::State& state) {
    const auto& c = corpus();
    std::string output;
    for (auto _ : state) {
        for (const auto& stream : c.streams) {
            output.resize(snappy::MaxCompressedLength(stream.size()));
            std::size_t length = 0;
            snappy::RawCompress(chars(stream), stream.size(), output.data(), &length);
            benchmark::DoNotOptimize(length);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.streamBytes));
}

void OursDecompressFixtures(benchmark::State& state) {
    const auto& c = corpus();
    for (auto _ : state) {
        for (const auto& chunk : c.chunks) benchmark::DoNotOptimize(lumaro::Snappy::decompress(chunk));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.chunkOutputBytes));
}

void LibsnappyDecompressFixtures(benchmark::State& state) {
    const auto& c = corpus();
    std::string output;
    for (auto _ : state) {
        for (const auto& chunk : c.chunks) {
            std::size_t length = 0;
            snappy::GetUncompressedLength(chars(chunk), chunk.size(), &length);
            output.resize(length);
            benchmark::DoNotOptimize(snappy::RawUncompress(chars(chunk), chunk.size(), output.data()));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.chunkOutputBytes));
}

void OursCompressText(benchmark::State& state) {
    const Bytes& text = textBuffer();
    for (auto _ : state) benchmark::DoNotOptimize(lumaro::Snappy::compress(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void LibsnappyCompressText(benchmark::State& state) {
    const Bytes& text = textBuffer();
    std::string output(snappy::MaxCompressedLength(text.size()), '\0');
    for (auto _ : state) {
        std::size_t length = 0;
        snappy::RawCompress(chars(text), text.size(), output.data(), &length);
        benchmark::DoNotOptimize(length);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void OursDecompressText(benchmark::State& state) {
    const Bytes& block = compressedText();
    for (auto _ : state) benchmark::DoNotOptimize(lumaro::Snappy::decompress(block));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * textBuffer().size()));
}

void LibsnappyDecompressText(benchmark::State& state) {
    const Bytes& block = compressedText();
    std::string output(textBuffer().size(), '\0');
    for (auto _ : state) benchmark::DoNotOptimize(snappy::RawUncompress(chars(block), block.size(), output.data()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * textBuffer().size()));
}

// The same work as our decompress(), which returns a fresh buffer: libsnappy
// decoding into a newly allocated string each time.
void LibsnappyDecompressTextFreshOutput(benchmark::State& state) {
    const Bytes& block = compressedText();
    for (auto _ : state) {
        std::string output;
        benchmark::DoNotOptimize(snappy::Uncompress(chars(block), block.size(), &output));
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * textBuffer().size()));
}

void LibsnappyCompressTextFreshOutput(benchmark::State& state) {
    const Bytes& text = textBuffer();
    for (auto _ : state) {
        std::string output;
        benchmark::DoNotOptimize(snappy::Compress(chars(text), text.size(), &output));
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void ProtobufDecodeFixturePayloads(benchmark::State& state) {
    const auto& c = corpus();
    for (auto _ : state) {
        std::size_t fields = 0;
        for (const auto& payload : c.payloads) fields += lumaro::ProtobufMessage(payload).fields().size();
        benchmark::DoNotOptimize(fields);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.payloadBytes));
}

}  // namespace

BENCHMARK(OursCompressFixtures)->Unit(benchmark::kMillisecond);
BENCHMARK(LibsnappyCompressFixtures)->Unit(benchmark::kMillisecond);
BENCHMARK(OursDecompressFixtures)->Unit(benchmark::kMillisecond);
BENCHMARK(LibsnappyDecompressFixtures)->Unit(benchmark::kMillisecond);
BENCHMARK(OursCompressText)->Unit(benchmark::kMillisecond);
BENCHMARK(LibsnappyCompressText)->Unit(benchmark::kMillisecond);
BENCHMARK(OursDecompressText)->Unit(benchmark::kMillisecond);
BENCHMARK(LibsnappyDecompressText)->Unit(benchmark::kMillisecond);
BENCHMARK(LibsnappyCompressTextFreshOutput)->Unit(benchmark::kMillisecond);
BENCHMARK(LibsnappyDecompressTextFreshOutput)->Unit(benchmark::kMillisecond);
BENCHMARK(ProtobufDecodeFixturePayloads)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
