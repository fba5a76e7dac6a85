// The extract command on the real documents of the fixtures folder: golden
// Markdown for a few, and for every one the share of the words that
// pages2text (an independent reader) prints that our Markdown also holds.
#include <gtest/gtest.h>
#include <utf8proc.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Support/TestSupport.hpp"

using namespace lumaro::test;
namespace fs = std::filesystem;

namespace {

fs::path goldenDirectory() { return sourceDirectory() / "Tests" / "LumaroPagesTests" / "golden"; }

// The Markdown the tool writes for a document, or nothing when it fails.
std::optional<std::string> extracted(const fs::path& document) {
    TemporaryDirectory folder;
    const auto output = folder / "out.md";
    const auto result = runTool({"extract", document.string(), output.string()});
    if (result.status != 0) return std::nullopt;
    return readFileText(output);
}

// Lower-cased words: runs of letters, marks and digits.
std::map<std::string, int> words(const std::string& text) {
    std::map<std::string, int> counts;
    std::string word;
    const auto flush = [&] {
        if (!word.empty()) ++counts[word];
        word.clear();
    };
    auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t index = 0;
    const auto size = static_cast<utf8proc_ssize_t>(text.size());
    while (index < size) {
        utf8proc_int32_t scalar = 0;
        const auto length = utf8proc_iterate(bytes + index, size - index, &scalar);
        if (length <= 0) {
            flush();
            ++index;
            continue;
        }
        index += length;
        const auto category = utf8proc_category(scalar);
        const bool wordCharacter = (category >= UTF8PROC_CATEGORY_LU && category <= UTF8PROC_CATEGORY_NO);
        if (!wordCharacter) {
            flush();
            continue;
        }
        utf8proc_uint8_t encoded[4];
        const auto written = utf8proc_encode_char(utf8proc_tolower(scalar), encoded);
        word.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(written));
    }
    flush();
    return counts;
}

// Lowest share of pages2text's words that our Markdown must hold, per
// document: what was measured, less a little. Documents not listed are ones
// pages2text cannot read, or that this reader refuses.
const std::map<std::string, double> kRecallFloors = {
    {"adtiming-faq.pages", 0.98},
    {"dinosaurs-alphabet-design.pages", 0.98},
    {"doofinder-manual-2018.pages", 0.98},
    {"envmon-userguide.pages", 0.98},
    {"gomap-architecture-2023.pages", 0.98},
    {"graph-keyword-search-design.pages", 0.98},
    {"imusify-terms.pages", 0.98},
    {"kissofshame-userguide.pages", 0.98},
    // Currency and formula cells of its table have no text of their own.
    {"pages5-extra-dir.pages", 0.92},
    {"pages5-file.pages", 0.98},
    {"pinewood-derby.pages", 0.98},
    {"projective-transform-readme.pages", 0.97},
    {"scenetransition-manual.pages", 0.98},
    {"testPages2013.pages", 0.98},
    // Documents of the older index.xml format.
    {"lorem-ipsum-pages09.pages", 0.98},
    {"smsd-manual.pages", 0.98},
    {"testPages.pages", 0.97},
    // Header, footer and footnote texts lie outside the body.
    {"testPagesHeadersFootersFootnotes.pages", 0.95},
    // A page-layout document: its words are in text boxes and shapes, which
    // are not body text; only the table comes out.
    {"testPagesLayout.pages", 0.25},
};

TEST(FixtureExtract, GoldenMarkdown) {
    std::size_t compared = 0;
    // golden/legacy/ holds documents of the older index.xml format.
    for (const auto& item : fs::recursive_directory_iterator(goldenDirectory())) {
        if (item.path().extension() != ".md") continue;
        const fs::path document = fixturesDirectory() / item.path().stem();
        SCOPED_TRACE(document.string());
        const auto markdown = extracted(document);
        ASSERT_TRUE(markdown.has_value());
        EXPECT_EQ(*markdown, readFileText(item.path()));
        ++compared;
    }
    EXPECT_GE(compared, 7u);
}

TEST(FixtureExtract, WordRecallAgainstPages2text) {
    if (!commandExists("pages2text")) GTEST_SKIP() << "pages2text is not installed";
    for (const auto& [name, floor] : kRecallFloors) {
        const fs::path document = fixturesDirectory() / name;
        SCOPED_TRACE(name);
        const auto markdown = extracted(document);
        ASSERT_TRUE(markdown.has_value());
        const auto reference = runCommand({"pages2text", document.string()});
        ASSERT_EQ(reference.status, 0);
        const auto theirs = words(reference.standardOutput);
        const auto ours = words(*markdown);
        int total = 0, found = 0;
        for (const auto& [word, count] : theirs) {
            total += count;
            const auto match = ours.find(word);
            found += match == ours.end() ? 0 : std::min(count, match->second);
        }
        const double recall = total == 0 ? 1.0 : static_cast<double>(found) / total;
        std::printf("recall %-40s %6d / %6d = %5.1f%%\n", name.c_str(), found, total, 100.0 * recall);
        EXPECT_GE(recall, floor);
    }
}

}  // namespace
