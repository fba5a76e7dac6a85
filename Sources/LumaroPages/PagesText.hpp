#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumaro {

// Scalar-level helpers for document text held as UTF-8. Positions inside Pages
// text count UTF-16 code units, so every walk steps scalar by scalar.
struct PagesText {
    struct Scalar {
        char32_t value = 0;      // U+FFFD for a byte that starts no valid UTF-8 sequence
        std::string_view bytes;  // the scalar as it stands in the text, passed through unchanged
        int utf16Length() const { return value > 0xFFFF ? 2 : 1; }
    };

    // Reads `text` one scalar at a time; an invalid byte is read as a scalar of
    // its own so that nothing of the text is lost or skipped.
    class ScalarReader {
    public:
        explicit ScalarReader(std::string_view text) : text_(text) {}

        // Inline because every walk over document text runs through it; ASCII,
        // nearly all of most documents, takes no decoding call.
        bool next(Scalar& scalar) {
            if (offset_ >= text_.size()) return false;
            const auto byte = static_cast<unsigned char>(text_[offset_]);
            if (byte < 0x80) {
                scalar.value = byte;
                scalar.bytes = text_.substr(offset_, 1);
                ++offset_;
                return true;
            }
            return nextEncoded(scalar);
        }

        // The text not read yet, and a way to pass over part of it that the
        // caller has taken in one piece.
        std::string_view remaining() const { return text_.substr(offset_); }
        void skip(std::size_t bytes) { offset_ += bytes; }

    private:
        bool nextEncoded(Scalar& scalar);

        std::string_view text_;
        std::size_t offset_ = 0;
    };

    static constexpr char32_t kLineSeparator = 0x2028;
    static constexpr char32_t kObjectReplacement = 0xFFFC;
    static constexpr char32_t kFootnoteMark = 0x000E;

    // General category Zs plus the tab.
    static bool isWhitespace(char32_t scalar);
    // General categories Zs, Zl, Zp plus U+000A to U+000D and U+0085.
    static bool isWhitespaceOrNewline(char32_t scalar);

    static std::string_view trimmingWhitespace(std::string_view text);
    static std::string_view trimmingWhitespaceAndNewlines(std::string_view text);

    // User-perceived characters (extended grapheme clusters).
    static std::size_t characterCount(std::string_view text);
    static std::int64_t utf16Length(std::string_view text);

    static std::string replacingAll(std::string_view text, std::string_view target, std::string_view replacement);
};

}  // namespace lumaro
