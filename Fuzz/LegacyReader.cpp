// Mutated index.xml: the legacy reader either reads a document or reports
// malformed XML; it must never crash, hang or take memory out of proportion.
#include <cstddef>
#include <cstdint>

#include "LumaroPages/PagesFile.hpp"
#include "LumaroPages/PagesLegacyParser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const auto document = lumaro::PagesLegacyParser().parseDocument(lumaro::ByteView(data, size));
        for (const auto& paragraph : document.paragraphs) {
            if (paragraph.headingLevel && (*paragraph.headingLevel < 1 || *paragraph.headingLevel > 6)) __builtin_trap();
        }
    } catch (const lumaro::PagesFileError&) {
    }
    return 0;
}
