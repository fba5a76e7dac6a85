#include <gtest/gtest.h>

#include "Support/TestSupport.hpp"

using namespace lumaro::test;

namespace {

// The README runs the converter on examples/welcome.pages: the committed file
// must be what the example tool writes, and extract must give the committed
// Markdown beside it.
TEST(BundledExample, IsWhatTheToolWritesAndExtractsToItsMarkdown) {
    TemporaryDirectory scratch;
    const auto written = scratch / "welcome.pages";
    ASSERT_EQ(runCommand({LUMARO_MAKE_EXAMPLE_PATH, written.string()}).status, 0);
    EXPECT_EQ(readFileBytes(written), readFileBytes(sourceDirectory() / "examples" / "welcome.pages"));

    const auto markdown = scratch / "welcome.md";
    const auto result = runTool({"extract", (sourceDirectory() / "examples" / "welcome.pages").string(),
                                 markdown.string()});
    ASSERT_EQ(result.status, 0) << result.standardError;
    EXPECT_EQ(readFileText(markdown), readFileText(sourceDirectory() / "examples" / "welcome.md"));
}

}  // namespace
