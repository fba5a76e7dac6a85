#include "LumaroCore/ImageDimensions.hpp"

namespace lumaro {

namespace {

constexpr std::size_t kPNGHeaderLength = 24;     // signature + IHDR length, type, width, height
constexpr std::size_t kPNGWidthOffset = 16;
constexpr std::size_t kPNGHeightOffset = 20;
constexpr std::uint8_t kPNGFirstByte = 0x89;

constexpr std::size_t kJPEGMinimumLength = 12;
constexpr std::size_t kJPEGFirstMarkerPosition = 2;  // after start of image FF D8
// A frame header is read from the bytes i .. i + 8 (marker, length, precision,
// height, width); a position is only visited while i + 9 lies inside the input.
constexpr std::size_t kJPEGFrameHeaderReach = 9;
constexpr std::uint8_t kJPEGMarkerPrefix = 0xFF;
constexpr std::uint8_t kJPEGStartOfImage = 0xD8;

std::uint32_t bigEndian16(ByteView b, std::size_t i) {
    return (std::uint32_t{b[i]} << 8) | b[i + 1];
}

std::uint32_t bigEndian32(ByteView b, std::size_t i) {
    return (bigEndian16(b, i) << 16) | bigEndian16(b, i + 2);
}

// Markers 0xC0..0xCF other than DHT (C4), JPG (C8) and DAC (CC) start a frame.
bool isStartOfFrame(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers that stand alone, without a length: TEM/reserved 00 and 01,
// restart markers D0..D7, start and end of image D8 and D9.
bool isStandaloneMarker(std::uint8_t marker) {
    return marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9);
}

std::optional<ImageDimensions::Size> pngDimensions(ByteView b) {
    if (b[1] != 0x50 || b[2] != 0x4E || b[3] != 0x47) {
        return std::nullopt;
    }
    return ImageDimensions::Size{bigEndian32(b, kPNGWidthOffset), bigEndian32(b, kPNGHeightOffset)};
}

std::optional<ImageDimensions::Size> jpegDimensions(ByteView b) {
    const std::size_t n = b.size();
    std::size_t i = kJPEGFirstMarkerPosition;
    for (;;) {
        std::size_t next;
        if (b[i] != kJPEGMarkerPrefix) {
            next = i + 1;
        } else {
            const std::uint8_t marker = b[i + 1];
            if (marker == kJPEGMarkerPrefix) {
                next = i + 1;  // fill byte
            } else if (isStandaloneMarker(marker)) {
                next = i + 2;
            } else if (isStartOfFrame(marker)) {
                return ImageDimensions::Size{bigEndian16(b, i + 7), bigEndian16(b, i + 5)};
            } else {
                next = i + 2 + bigEndian16(b, i + 2);  // the length counts its own two bytes
            }
        }
        if (next + kJPEGFrameHeaderReach >= n) {
            return std::nullopt;
        }
        i = next;
    }
}

}  // namespace

std::optional<ImageDimensions::Size> ImageDimensions::dimensions(ByteView data) {
    if (data.size() >= kPNGHeaderLength && data[0] == kPNGFirstByte) {
        return pngDimensions(data);
    }
    if (data.size() < 4) {
        return std::nullopt;
    }
    if (data[0] != kJPEGMarkerPrefix || data.size() < kJPEGMinimumLength || data[1] != kJPEGStartOfImage) {
        return std::nullopt;
    }
    return jpegDimensions(data);
}

}  // namespace lumaro
