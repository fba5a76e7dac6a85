#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro::test {

// The read-only shared folder (fixtures/, corpus/); the environment variable
// LUMARO_SHARED_DIR overrides the path compiled in.
std::filesystem::path sharedDirectory();
std::filesystem::path fixturesDirectory();  // shared/fixtures/pages
std::filesystem::path corpusDirectory();    // shared/corpus
std::filesystem::path sourceDirectory();    // the repository

// Every document in the fixtures folder (files ending in .pages, package
// directories, and pages4.xml.gz), sorted by name.
std::vector<std::filesystem::path> fixtureDocuments();

Bytes readFileBytes(const std::filesystem::path& path);
std::string readFileText(const std::filesystem::path& path);
void writeFileBytes(const std::filesystem::path& path, ByteView bytes);
// A ZIP file (libzip, its default compression) of the entries (path,
// content), in order; throws std::runtime_error when libzip fails.
void writeZip(const std::filesystem::path& path, const std::vector<std::pair<std::string, Bytes>>& entries);
void writeFileText(const std::filesystem::path& path, const std::string& text);

// A fresh directory under the system's temporary folder, removed with its
// contents when the value goes out of scope.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct CommandResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string standardOutput;
    std::string standardError;
};

// Runs a program with arguments (no shell), capturing both output streams.
CommandResult runCommand(const std::vector<std::string>& command);
// Runs the built kelvane-pages executable.
CommandResult runTool(const std::vector<std::string>& arguments);
// True when an executable of that name is on PATH.
bool commandExists(const std::string& name);

}  // namespace lumaro::test
