#include <cstdint>
#include <cstdlib>
#include <exception>

#include "LumaroPages/StoredZipWriter.hpp"
#include "LumaroPages/ZipReader.hpp"

// Any input: read never crashes; whatever it reads, written again with the
// same headers, reads back to the same entries.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto entries = lumaro::ZipReader::read(lumaro::ByteView(data, size));
    if (!entries) return 0;
    lumaro::StoredZipWriter writer;
    try {
        for (const auto& entry : *entries) writer.add(entry.path, entry.data, entry.meta);
    } catch (const lumaro::StoredZipWriterError&) {
        return 0;  // a name that grew past 65,535 bytes when invalid UTF-8 was replaced
    }
    const auto again = lumaro::ZipReader::read(writer.finish());
    if (!again || *again != *entries) std::abort();
    return 0;
}
