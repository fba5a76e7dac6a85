// Extract time and peak memory: kelvane-pages against pages2text on every
// fixture (both run as child processes in the same benchmark), and the
// extraction of a large synthetic document built here.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/Protobuf.hpp"
#include "LumaroPages/PagesFile.hpp"

namespace fs = std::filesystem;
using lumaro::Bytes;
using lumaro::IWAArchive;
using lumaro::IWAObject;
using lumaro::ProtobufWriter;

namespace {

struct ChildRun {
    double seconds = 0;
    long peakKilobytes = 0;
    int status = -1;
};

// Runs a program with its output streams sent to /dev/null; the child's own
// resource use (wait4) gives its peak resident set.
// Waits for a forked child: its wall time since `start`, its peak resident
// size and its exit status.
ChildRun waitForChild(pid_t child, std::chrono::steady_clock::time_point start) {
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    ChildRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKilobytes = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

ChildRun runChild(const std::vector<std::string>& command) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv;
        for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return waitForChild(child, start);
}

fs::path scratchFolder() {
    const fs::path folder = fs::temp_directory_path() / ("lumaro-extract-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    return folder;
}

void compareWithPages2text(benchmark::State& state, const fs::path& document) {
    const std::string output = (scratchFolder() / (document.filename().string() + ".md")).string();
    double ours = 0, theirs = 0;
    long oursPeak = 0, theirsPeak = 0;
    for (auto _ : state) {
        const ChildRun mine = runChild({LUMARO_TOOL_PATH, "extract", document.string(), output});
        const ChildRun reference = runChild({"pages2text", document.string()});
        if (mine.status != 0) state.SkipWithError("kelvane-pages failed");
        ours += mine.seconds;
        theirs += reference.seconds;
        oursPeak = std::max(oursPeak, mine.peakKilobytes);
        theirsPeak = std::max(theirsPeak, reference.peakKilobytes);
        state.SetIterationTime(mine.seconds);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = 1000 * ours / runs;
    state.counters["pages2text_ms"] = 1000 * theirs / runs;
    state.counters["speedup"] = ours > 0 ? theirs / ours : 0;
    state.counters["ours_peak_KB"] = static_cast<double>(oursPeak);
    state.counters["pages2text_peak_KB"] = static_cast<double>(theirsPeak);
}

// ---------------------------------------------------------------------------
// The large synthetic document: one body storage with headings, bold runs
// and plain paragraphs, in a package directory.

constexpr std::size_t kSyntheticTextBytes = 6 * 1024 * 1024;
constexpr std::uint64_t kDocumentID = 1, kBodyID = 100, kBodyStyleID = 200, kHeadingStyleID = 201,
                        kBoldStyleID = 300, kPlainStyleID = 301;

Bytes reference(std::uint64_t identifier) {
    ProtobufWriter writer;
    writer.varintField(1, identifier);
    return writer.take();
}

Bytes style(const std::string& identifier, bool bold, float size) {
    ProtobufWriter base, properties, style;
    base.stringField(2, identifier);
    properties.varintField(1, bold ? 1 : 0);
    if (size > 0) properties.floatField(3, size);
    style.messageField(1, base.bytes());
    style.messageField(11, properties.bytes());
    return style.take();
}

struct Synthetic {
    fs::path package;
    std::size_t streamBytes = 0;  // uncompressed size of the document's records
};

Synthetic buildSyntheticDocument(const fs::path& folder) {
    static const char* const kWords[] = {"lorem", "ipsum", "dolor", "sit", "amet", "consectetur", "adipiscing",
                                         "elit", "sed", "do", "eiusmod", "tempor", "incididunt", "ut", "labore"};
    std::string text;
    ProtobufWriter paragraphStyles, characterStyles;
    const auto entry = [](ProtobufWriter& table, std::size_t position, std::uint64_t object) {
        ProtobufWriter item;
        item.varintField(1, position);
        item.messageField(2, reference(object));
        table.messageField(1, item.bytes());
    };
    for (std::size_t paragraph = 0, word = 0; text.size() < kSyntheticTextBytes; ++paragraph) {
        const bool heading = paragraph % 20 == 0;
        entry(paragraphStyles, text.size(), heading ? kHeadingStyleID : kBodyStyleID);
        const std::size_t words = heading ? 5 : 70;
        for (std::size_t k = 0; k < words; ++k, ++word) {
            if (k == 10) entry(characterStyles, text.size(), kBoldStyleID);
            if (k == 13) entry(characterStyles, text.size(), kPlainStyleID);
            if (k > 0) text += ' ';
            text += kWords[word % std::size(kWords)];
        }
        text += '\n';
    }
    ProtobufWriter body;
    body.varintField(1, 0);
    body.stringField(3, text);
    body.messageField(5, paragraphStyles.bytes());
    body.messageField(8, characterStyles.bytes());
    ProtobufWriter documentArchive;
    documentArchive.messageField(4, reference(kBodyID));

    const std::vector<IWAObject> objects{
        {kDocumentID, 10000, documentArchive.take()},
        {kBodyID, 2001, body.take()},
        {kBodyStyleID, 2022, style("paragraphstyle-Body", false, 11)},
        {kHeadingStyleID, 2022, style("paragraphstyle-Heading 1", true, 24)},
        {kBoldStyleID, 2021, style("characterstyle-bold", true, 0)},
        {kPlainStyleID, 2021, style("characterstyle-plain", false, 0)},
    };
    Synthetic synthetic;
    for (const auto& object : objects) synthetic.streamBytes += IWAArchive::record(object).size();
    synthetic.package = folder / "synthetic.pages";
    fs::create_directories(synthetic.package / "Index");
    const Bytes stream = IWAArchive::encode(objects);
    std::ofstream(synthetic.package / "Index" / "Document.iwa", std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    return synthetic;
}

void extractLargeDocument(benchmark::State& state) {
    const fs::path folder = scratchFolder();
    const Synthetic synthetic = buildSyntheticDocument(folder);
    const std::string output = (folder / "synthetic.md").string();
    long peak = 0;
    double total = 0;
    for (auto _ : state) {
        const ChildRun run = runChild({LUMARO_TOOL_PATH, "extract", synthetic.package.string(), output});
        if (run.status != 0) state.SkipWithError("kelvane-pages failed");
        peak = std::max(peak, run.peakKilobytes);
        total += run.seconds;
        state.SetIterationTime(run.seconds);
    }
    state.counters["ms"] = 1000 * total / static_cast<double>(state.iterations());
    state.counters["uncompressed_KB"] = static_cast<double>(synthetic.streamBytes) / 1024;
    state.counters["peak_KB"] = static_cast<double>(peak);
    state.counters["peak_per_uncompressed"] = 1024.0 * static_cast<double>(peak) / static_cast<double>(synthetic.streamBytes);
}

// The reading side alone, in a forked child: PagesFile only, or PagesFile and
// markdown(), so that the reader's share of time and memory shows.
ChildRun readInChild(const fs::path& document, bool renderMarkdown) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        try {
            const lumaro::PagesFile file(document);
            if (renderMarkdown) benchmark::DoNotOptimize(file.document().markdown());
        } catch (...) {
            _exit(1);
        }
        _exit(0);
    }
    return waitForChild(child, start);
}

void readLargeDocument(benchmark::State& state) {
    const fs::path folder = scratchFolder();
    const Synthetic synthetic = buildSyntheticDocument(folder);
    const bool renderMarkdown = state.range(0) != 0;
    long peak = 0;
    for (auto _ : state) {
        const ChildRun run = readInChild(synthetic.package, renderMarkdown);
        if (run.status != 0) state.SkipWithError("reading failed");
        peak = std::max(peak, run.peakKilobytes);
        state.SetIterationTime(run.seconds);
    }
    state.counters["peak_KB"] = static_cast<double>(peak);
    state.counters["peak_per_uncompressed"] = 1024.0 * static_cast<double>(peak) / static_cast<double>(synthetic.streamBytes);
}

// Small documents take a few milliseconds, so single runs are noisy.
constexpr int kFixtureRuns = 20;

void registerBenchmarks() {
    const fs::path fixtures = fs::path(LUMARO_SHARED_DIR) / "fixtures" / "pages";
    std::vector<fs::path> documents;
    if (fs::is_directory(fixtures))
        for (const auto& item : fs::directory_iterator(fixtures))
            if (item.path().extension() == ".pages") documents.push_back(item.path());
    std::sort(documents.begin(), documents.end());
    for (const fs::path& document : documents) {
        // Only documents that both readers open are compared.
        if (runChild({LUMARO_TOOL_PATH, "extract", document.string(), "/dev/null"}).status != 0) continue;
        if (runChild({"pages2text", document.string()}).status != 0) continue;
        benchmark::RegisterBenchmark(("extract/" + document.filename().string()).c_str(),
                                     [document](benchmark::State& state) { compareWithPages2text(state, document); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(kFixtureRuns);
    }
    benchmark::RegisterBenchmark("extract/synthetic-large", extractLargeDocument)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(5);
    // Argument 0: the document read into its model; 1: also rendered as Markdown.
    benchmark::RegisterBenchmark("read/synthetic-large", readLargeDocument)
        ->Arg(0)
        ->Arg(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(5);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    registerBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(scratchFolder(), ignored);
    return 0;
}
