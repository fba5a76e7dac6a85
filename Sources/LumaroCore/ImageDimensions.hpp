#pragma once

#include <cstdint>
#include <optional>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// Pixel dimensions of a PNG or JPEG image read from its header bytes, without
// decoding the image. Orientation, density and scaling are not applied: the
// values are the ones stored in the file.
struct ImageDimensions {
    struct Size {
        std::int64_t width = 0;
        std::int64_t height = 0;
        bool operator==(const Size&) const = default;
    };

    // No value when the bytes are neither a PNG header nor a JPEG whose frame
    // header lies inside the input. Never throws.
    static std::optional<Size> dimensions(ByteView data);
};

}  // namespace lumaro
