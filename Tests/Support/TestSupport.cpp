#include "Support/TestSupport.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace lumaro::test {

fs::path sharedDirectory() {
    if (const char* overridden = std::getenv("LUMARO_SHARED_DIR"); overridden && *overridden) return overridden;
    return fs::path(LUMARO_SHARED_DIR).lexically_normal();
}

fs::path fixturesDirectory() { return sharedDirectory() / "fixtures" / "pages"; }
fs::path corpusDirectory() { return sharedDirectory() / "corpus"; }
fs::path sourceDirectory() { return fs::path(LUMARO_SOURCE_DIR); }

std::vector<fs::path> fixtureDocuments() {
    std::vector<fs::path> documents;
    for (const auto& item : fs::directory_iterator(fixturesDirectory())) {
        const auto name = item.path().filename().string();
        if (item.path().extension() == ".pages" || name.ends_with(".xml.gz")) documents.push_back(item.path());
    }
    std::sort(documents.begin(), documents.end());
    return documents;
}

Bytes readFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string readFileText(const fs::path& path) {
    const Bytes bytes = readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void writeFileBytes(const fs::path& path, ByteView bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void writeFileText(const fs::path& path, const std::string& text) {
    writeFileBytes(path, ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

TemporaryDirectory::TemporaryDirectory() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = fs::temp_directory_path() / ("lumaro-test-" + std::to_string(random()));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

namespace {

std::string drain(int descriptor) {
    std::string text;
    char buffer[65536];
    ssize_t count;
    while ((count = read(descriptor, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(count));
    close(descriptor);
    return text;
}

}  // namespace

CommandResult runCommand(const std::vector<std::string>& command) {
    TemporaryDirectory scratch;
    const auto outPath = scratch / "stdout";
    const auto errPath = scratch / "stderr";
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    CommandResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.standardOutput = drain(open(outPath.c_str(), O_RDONLY));
    result.standardError = drain(open(errPath.c_str(), O_RDONLY));
    return result;
}

CommandResult runTool(const std::vector<std::string>& arguments) {
    std::vector<std::string> command{LUMARO_TOOL_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runCommand(command);
}

bool commandExists(const std::string& name) {
    return runCommand({"sh", "-c", "command -v " + name + " >/dev/null"}).status == 0;
}

void writeZip(const std::filesystem::path& path, const std::vector<std::pair<std::string, Bytes>>& entries) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) throw std::runtime_error("cannot create " + path.string());
    for (const auto& [name, content] : entries) {
        zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
        if (source == nullptr || zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
            if (source != nullptr) zip_source_free(source);
            zip_discard(archive);
            throw std::runtime_error("cannot add " + name + " to " + path.string());
        }
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace lumaro::test
