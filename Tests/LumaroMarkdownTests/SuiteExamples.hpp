#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace lumaro::test {

// One example of the CommonMark or GFM example suites of the corpus.
struct SuiteExample {
    int number = 0;
    std::string section;
    std::string markdown;
    std::string html;
};

// Reads a suite file: a JSON array of objects. Only the keys above are kept;
// the reader understands exactly the JSON these files use (objects, arrays,
// strings with escapes, numbers) and throws std::runtime_error on anything else.
std::vector<SuiteExample> readSuiteExamples(const std::filesystem::path& path);

}  // namespace lumaro::test
