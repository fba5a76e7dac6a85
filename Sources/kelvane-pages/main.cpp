#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "LumaroIWA/Error.hpp"
#include "LumaroPages/PagesFile.hpp"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsageLine = "usage: kelvane-pages extract|render <input> <output> [file|package]\n";
constexpr const char* kUnknownOperationLine = "document-pages-op\n";
constexpr int kUsageStatus = 2;
constexpr int kFailureStatus = 1;

class OutputWriteError : public lumaro::Error {
public:
    OutputWriteError(const fs::path& target, int code)
        : Error("Could not write " + target.string() + ": " + std::strerror(code)) {}
};

// Removes the temporary file unless it has been renamed over the target.
class TemporaryFile {
public:
    explicit TemporaryFile(const fs::path& target) {
        const fs::path directory = target.has_parent_path() ? target.parent_path() : fs::path(".");
        std::string pattern = (directory / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
        descriptor_ = mkstemp(pattern.data());
        if (descriptor_ < 0) throw OutputWriteError(target, errno);
        path_ = pattern;
    }
    ~TemporaryFile() {
        if (descriptor_ >= 0) close(descriptor_);
        if (!path_.empty()) unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int descriptor() const { return descriptor_; }
    const std::string& path() const { return path_; }
    int closeFile() {
        const int result = close(descriptor_);
        descriptor_ = -1;
        return result;
    }
    void keep() { path_.clear(); }

private:
    int descriptor_ = -1;
    std::string path_;
};

void writeAll(int descriptor, std::string_view text, const fs::path& target) {
    for (std::size_t written = 0; written < text.size();) {
        const ssize_t count = write(descriptor, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) throw OutputWriteError(target, count < 0 ? errno : EIO);
        written += static_cast<std::size_t>(count);
    }
}

// Writes `text` to `target` so that the target is either its old self or the
// whole new text: a temporary file beside it is written, flushed and then
// renamed over it.
void replaceAtomically(const fs::path& target, std::string_view text) {
    TemporaryFile temporary(target);
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(temporary.descriptor(), 0666 & ~mask) != 0) throw OutputWriteError(target, errno);
    writeAll(temporary.descriptor(), text, target);
    if (fsync(temporary.descriptor()) != 0) throw OutputWriteError(target, errno);
    if (temporary.closeFile() != 0) throw OutputWriteError(target, errno);
    if (rename(temporary.path().c_str(), target.c_str()) != 0) throw OutputWriteError(target, errno);
    temporary.keep();
}

// A device, a pipe or /dev/stdout cannot be replaced by a file: the text is
// written into it as it is.
void writeInPlace(const fs::path& target, std::string_view text) {
    const int descriptor = open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) throw OutputWriteError(target, errno);
    try {
        writeAll(descriptor, text, target);
    } catch (...) {
        close(descriptor);
        throw;
    }
    if (close(descriptor) != 0) throw OutputWriteError(target, errno);
}

// Writes the output of a command. A regular file (or a new one) is replaced
// atomically; one reached through a symbolic link is replaced where the link
// leads, so the link stays. Anything else that exists is written in place.
void writeOutput(const fs::path& target, std::string_view text) {
    struct stat status {};
    if (stat(target.c_str(), &status) != 0) {
        replaceAtomically(target, text);
        return;
    }
    if (S_ISDIR(status.st_mode)) throw OutputWriteError(target, EISDIR);
    if (!S_ISREG(status.st_mode)) {
        writeInPlace(target, text);
        return;
    }
    struct stat linkStatus {};
    if (lstat(target.c_str(), &linkStatus) == 0 && S_ISLNK(linkStatus.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(target.c_str(), resolved) == nullptr) throw OutputWriteError(target, errno);
        replaceAtomically(fs::path(resolved), text);
        return;
    }
    replaceAtomically(target, text);
}

// The one line that reports an error: its description, line breaks turned
// into spaces.
std::string errorLine(std::string_view description) {
    std::string line(description);
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line + "\n";
}

// The command line: `kelvane-pages extract|render <input> <output> [file|package]`.
struct KelvanePages {
    static int main(const std::vector<std::string>& arguments) {
        if (arguments.size() < 3) {
            std::fputs(kUsageLine, stderr);
            return kUsageStatus;
        }
        const std::string& operation = arguments[0];
        if (operation != "extract" && operation != "render") {
            std::fputs(kUnknownOperationLine, stderr);
            return kUsageStatus;
        }
        const fs::path input = fs::absolute(arguments[1]);
        // The fourth word (file or package) matters only to render.
        const fs::path output = fs::absolute(arguments[2]);
        if (operation == "extract") {
            const lumaro::PagesFile file(input);
            writeOutput(output, file.document().markdown());
            return 0;
        }
        std::fputs("kelvane-pages: the render operation is not available in this build\n", stderr);
        return kFailureStatus;
    }
};

}  // namespace

int main(int argc, char** argv) {
    // A closed pipe is reported as a write error, not by a silent signal.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    try {
        return KelvanePages::main(arguments);
    } catch (const std::exception& error) {
        std::fputs(errorLine(error.what()).c_str(), stderr);
        return kFailureStatus;
    }
}
