#pragma once

#include "LumaroIWA/Bytes.hpp"
#include "LumaroIWA/Error.hpp"

namespace lumaro {

// `Snappy.Error`: a damaged Snappy block.
class SnappyError : public Error {
public:
    enum class Case { truncated, invalidOffset };
    explicit SnappyError(Case kind);
    Case kind() const { return kind_; }

private:
    Case kind_;
};

// Raw Snappy blocks (no framing format, no checksum). The encoder's choices are
// fixed so that the bytes it writes are reproducible.
struct Snappy {
    static Bytes compress(ByteView input);
    static Bytes decompress(ByteView block);  // throws SnappyError

    // Output room reserved from the preamble is capped at this many bytes; the
    // decoded length never depends on the preamble.
    static constexpr std::size_t kMaximumReservation = 64u << 20;
};

}  // namespace lumaro
