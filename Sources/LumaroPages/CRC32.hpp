#pragma once

#include <cstdint>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// The CRC-32 of ZIP, gzip and PNG (ISO-HDLC): reflected polynomial 0xEDB88320,
// initial value 0xFFFFFFFF, final complement. The empty input gives 0.
struct CRC32 {
    static std::uint32_t checksum(ByteView bytes);
};

}  // namespace lumaro
