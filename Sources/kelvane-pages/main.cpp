#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsageLine = "usage: kelvane-pages extract|render <input> <output> [file|package]\n";
constexpr const char* kUnknownOperationLine = "document-pages-op\n";
constexpr int kUsageStatus = 2;
constexpr int kFailureStatus = 1;

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
        std::fputs(("kelvane-pages: the " + operation + " operation is not available in this build\n").c_str(),
                   stderr);
        return kFailureStatus;
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    try {
        return KelvanePages::main(arguments);
    } catch (const std::exception& error) {
        std::fputs((std::string(error.what()) + "\n").c_str(), stderr);
        return kFailureStatus;
    }
}
