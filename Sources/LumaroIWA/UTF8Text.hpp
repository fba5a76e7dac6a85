#pragma once

#include <string>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// Bytes taken as UTF-8 text: every maximal ill-formed subsequence (a stray
// continuation byte, a truncated sequence, an overlong form, a surrogate or a
// value above U+10FFFF) becomes one U+FFFD, the rest is kept as it is.
std::string decodingUTF8(ByteView bytes);

}  // namespace lumaro
