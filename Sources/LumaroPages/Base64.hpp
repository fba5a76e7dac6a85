#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// Standard Base64 (RFC 4648 alphabet, "=" padding).
struct Base64 {
    static std::string encode(ByteView bytes);
    // Strict: the length must be a multiple of four, padding only at the end,
    // and no character outside the alphabet (line feeds included) is accepted.
    static std::optional<Bytes> decode(std::string_view text);
};

}  // namespace lumaro
