#include <gtest/gtest.h>

#include "Support/TestSupport.hpp"

using lumaro::test::runTool;

namespace {

const std::string kUsage = "usage: kelvane-pages extract|render <input> <output> [file|package]\n";

TEST(CommandLine, FewerThanThreeArgumentsPrintUsageWithStatus2) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{{}, {"extract"}, {"extract", "in.pages"}}) {
        const auto result = runTool(arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.standardError, kUsage);
        EXPECT_EQ(result.standardOutput, "");
    }
}

TEST(CommandLine, UnknownOperationIsCaseSensitive) {
    for (const std::string operation : {"Extract", "RENDER", "convert", ""}) {
        const auto result = runTool({operation, "a", "b"});
        EXPECT_EQ(result.status, 2) << operation;
        EXPECT_EQ(result.standardError, "document-pages-op\n") << operation;
        EXPECT_EQ(result.standardOutput, "");
    }
}

}  // namespace
