#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace lumaro {

// The one byte-buffer type of the code base, and its read-only view.
using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

}  // namespace lumaro
