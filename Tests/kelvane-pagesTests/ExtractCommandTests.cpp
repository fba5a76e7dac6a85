// The extract command end to end: every fixture, damaged containers, and the
// atomic replacement of the output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "Support/TestSupport.hpp"

using lumaro::Bytes;

using namespace lumaro::test;
namespace fs = std::filesystem;

namespace {

bool isOneLine(const std::string& text) {
    return !text.empty() && text.back() == '\n' && std::count(text.begin(), text.end(), '\n') == 1;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A ZIP document with one stored Index/Document.iwa holding `payload`.
void writeStoredZip(const fs::path& path, const std::string& payload) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    zip_source_t* source = zip_source_buffer(archive, payload.data(), payload.size(), 0);
    const auto index = zip_file_add(archive, "Index/Document.iwa", source, 0);
    ASSERT_GE(index, 0);
    ASSERT_EQ(zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0), 0);
    ASSERT_EQ(zip_close(archive), 0);
}

TEST(ExtractCommand, EveryFixtureEndsCleanly) {
    // The documents that are refused: a package with a gzipped legacy index, a
    // bare gzipped index that is no document at all, and a password-protected
    // document whose index.xml cannot be extracted. Every other fixture (IWA
    // ZIPs, package directories, an iCloud ZIP and legacy index.xml documents)
    // extracts.
    const std::set<std::string> refused = {"mlrv-documentation.pages", "pages4.xml.gz",
                                           "testPagesPwdProtected.pages"};
    TemporaryDirectory folder;
    for (const fs::path& document : fixtureDocuments()) {
        SCOPED_TRACE(document.string());
        const fs::path output = folder / (document.filename().string() + ".md");
        const auto result = runTool({"extract", document.string(), output.string()});
        EXPECT_EQ(result.standardOutput, "");
        if (!refused.contains(document.filename().string())) {
            EXPECT_EQ(result.status, 0);
            EXPECT_EQ(result.standardError, "");
            EXPECT_TRUE(fs::exists(output));
        } else {
            EXPECT_EQ(result.status, 1);
            EXPECT_TRUE(isOneLine(result.standardError)) << result.standardError;
            EXPECT_FALSE(fs::exists(output));
        }
    }
}

TEST(ExtractCommand, DamagedContainersReportTheContainerError) {
    TemporaryDirectory folder;
    const fs::path output = folder / "out.md";

    const fs::path notZip = folder / "text.pages";
    writeFileText(notZip, "just some text, not a ZIP archive at all\n");
    auto result = runTool({"extract", notZip.string(), output.string()});
    EXPECT_NE(result.status, 0);
    EXPECT_EQ(result.standardError, "Could not read the document archive at text.pages: Not a zip archive\n");

    const Bytes whole = readFileBytes(fixturesDirectory() / "pages5-file.pages");
    const fs::path truncated = folder / "truncated.pages";
    writeFileBytes(truncated, lumaro::ByteView(whole.data(), whole.size() / 2));
    result = runTool({"extract", truncated.string(), output.string()});
    EXPECT_NE(result.status, 0);
    EXPECT_EQ(result.standardError, "Could not read the document archive at truncated.pages: Not a zip archive\n");

    // A stored entry whose bytes were changed after its CRC was written.
    const std::string payload = "PAYLOAD-OF-THE-STREAM";
    const fs::path badCRC = folder / "crc.pages";
    writeStoredZip(badCRC, payload);
    Bytes bytes = readFileBytes(badCRC);
    const auto at = std::search(bytes.begin(), bytes.end(), payload.begin(), payload.end());
    ASSERT_NE(at, bytes.end());
    *at = 'X';
    writeFileBytes(badCRC, bytes);
    result = runTool({"extract", badCRC.string(), output.string()});
    EXPECT_NE(result.status, 0);
    EXPECT_EQ(result.standardError,
              "Could not extract the entry Index/Document.iwa from the document archive: CRC error\n");
    EXPECT_FALSE(fs::exists(output));
}

TEST(ExtractCommand, OutputIsReplacedOnlyByACompleteOne) {
    TemporaryDirectory folder;
    const fs::path output = folder / "out.md";
    writeFileText(output, "old content");

    const auto missing = runTool({"extract", (folder / "missing.pages").string(), output.string()});
    EXPECT_NE(missing.status, 0);
    EXPECT_EQ(missing.standardError, "Pages file not found at " + (folder / "missing.pages").string() + "\n");
    EXPECT_EQ(readFileText(output), "old content");

    const fs::path document = fixturesDirectory() / "pages5-file.pages";
    const auto done = runTool({"extract", document.string(), output.string(), "package", "ignored", "words"});
    EXPECT_EQ(done.status, 0);
    EXPECT_NE(readFileText(output), "old content");
    EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{"out.md"});  // no temporary file left

    const auto noFolder = runTool({"extract", document.string(), (folder / "no" / "such" / "out.md").string()});
    EXPECT_NE(noFolder.status, 0);
    EXPECT_TRUE(isOneLine(noFolder.standardError)) << noFolder.standardError;
    EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{"out.md"});
}

TEST(ExtractCommand, LinksAndPipesStayWhatTheyAre) {
    TemporaryDirectory folder;
    const fs::path document = fixturesDirectory() / "pages5-file.pages";
    ASSERT_EQ(runTool({"extract", document.string(), (folder / "plain.md").string()}).status, 0);
    const std::string expected = readFileText(folder / "plain.md");
    ASSERT_FALSE(expected.empty());

    // A symbolic link to an existing file: the file is replaced, the link kept.
    fs::create_directory(folder / "real");
    writeFileText(folder / "real" / "out.md", "old content");
    fs::create_symlink(folder / "real" / "out.md", folder / "link.md");
    EXPECT_EQ(runTool({"extract", document.string(), (folder / "link.md").string()}).status, 0);
    EXPECT_TRUE(fs::is_symlink(folder / "link.md"));
    EXPECT_EQ(readFileText(folder / "real" / "out.md"), expected);
    EXPECT_EQ(namesIn(folder / "real"), std::vector<std::string>{"out.md"});

    // A named pipe is written into, not replaced by a file. Both of its ends
    // are held open here, so the tool's write completes without a reader.
    const fs::path pipe = folder / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const int readEnd = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    const int writeEnd = open(pipe.c_str(), O_WRONLY);
    ASSERT_GE(readEnd, 0);
    ASSERT_GE(writeEnd, 0);
    const auto piped = runTool({"extract", document.string(), pipe.string()});
    close(writeEnd);
    std::string received;
    char buffer[4096];
    for (ssize_t count; (count = read(readEnd, buffer, sizeof buffer)) > 0;) received.append(buffer, count);
    close(readEnd);
    EXPECT_EQ(piped.status, 0) << piped.standardError;
    EXPECT_EQ(received, expected);
    EXPECT_EQ(fs::symlink_status(pipe).type(), fs::file_type::fifo);

    // A folder is no output.
    const auto intoFolder = runTool({"extract", document.string(), (folder / "real").string()});
    EXPECT_NE(intoFolder.status, 0);
    EXPECT_TRUE(isOneLine(intoFolder.standardError)) << intoFolder.standardError;
    EXPECT_TRUE(fs::is_directory(folder / "real"));
}

TEST(ExtractCommand, RelativePathsAreTakenAgainstTheCurrentDirectory) {
    const auto result = runCommand({"sh", "-c", "cd / && \"$0\" extract no-such-file.pages out.md", LUMARO_TOOL_PATH});
    EXPECT_NE(result.status, 0);
    EXPECT_EQ(result.standardError, "Pages file not found at /no-such-file.pages\n");
}

TEST(ExtractCommand, RenderIsNotAvailableYet) {
    TemporaryDirectory folder;
    writeFileText(folder / "in.md", "# Title\n");
    const auto result = runTool({"render", (folder / "in.md").string(), (folder / "out.pages").string()});
    EXPECT_NE(result.status, 0);
    EXPECT_TRUE(isOneLine(result.standardError));
    EXPECT_FALSE(fs::exists(folder / "out.pages"));
}

}  // namespace
