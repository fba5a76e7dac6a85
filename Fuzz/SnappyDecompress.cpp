// Decoding of arbitrary blocks must fail cleanly or succeed; what it yields,
// and the input itself, must survive compress() and decompress() unchanged.
#include <cstdlib>

#include "LumaroIWA/Snappy.hpp"

using namespace lumaro;

namespace {

void roundTrip(ByteView bytes) {
    const Bytes block = Snappy::compress(bytes);
    const Bytes back = Snappy::decompress(block);
    if (back.size() != bytes.size() || !std::equal(back.begin(), back.end(), bytes.begin())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView input(data, size);
    roundTrip(input);
    try {
        roundTrip(Snappy::decompress(input));
    } catch (const SnappyError&) {
    }
    return 0;
}
