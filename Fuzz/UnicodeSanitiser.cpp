// Arbitrary bytes as text: the sanitiser must never crash and must return
// well-formed UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <utf8proc.h>

#include "LumaroCore/UnicodeAbuseSanitizer.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto result = lumaro::UnicodeAbuseSanitizer::sanitize(input);
    const auto* text = reinterpret_cast<const utf8proc_uint8_t*>(result.text.data());
    utf8proc_ssize_t remaining = static_cast<utf8proc_ssize_t>(result.text.size());
    while (remaining > 0) {
        utf8proc_int32_t scalar = 0;
        const auto length = utf8proc_iterate(text, remaining, &scalar);
        if (length <= 0) std::abort();
        text += length;
        remaining -= length;
    }
    if (result.report.maxClusterSize < 0 || (size > 0 && result.report.maxClusterSize == 0)) std::abort();
    return 0;
}
