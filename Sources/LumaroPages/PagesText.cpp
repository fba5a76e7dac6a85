#include "LumaroPages/PagesText.hpp"

#include <utf8proc.h>

namespace lumaro {

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

template <typename Predicate>
std::string_view trimming(std::string_view text, Predicate isTrimmed) {
    std::size_t coreBegin = text.size();
    std::size_t coreEnd = 0;
    PagesText::ScalarReader reader(text);
    PagesText::Scalar scalar;
    std::size_t offset = 0;
    while (reader.next(scalar)) {
        if (!isTrimmed(scalar.value)) {
            if (coreBegin == text.size()) coreBegin = offset;
            coreEnd = offset + scalar.bytes.size();
        }
        offset += scalar.bytes.size();
    }
    if (coreBegin >= coreEnd) return text.substr(0, 0);
    return text.substr(coreBegin, coreEnd - coreBegin);
}

}  // namespace

bool PagesText::ScalarReader::next(Scalar& scalar) {
    if (offset_ >= text_.size()) return false;
    const auto* start = reinterpret_cast<const utf8proc_uint8_t*>(text_.data() + offset_);
    utf8proc_int32_t value = 0;
    const auto length =
        utf8proc_iterate(start, static_cast<utf8proc_ssize_t>(text_.size() - offset_), &value);
    if (length <= 0) {
        scalar.value = kReplacementCharacter;
        scalar.bytes = text_.substr(offset_, 1);
        offset_ += 1;
        return true;
    }
    scalar.value = static_cast<char32_t>(value);
    scalar.bytes = text_.substr(offset_, static_cast<std::size_t>(length));
    offset_ += static_cast<std::size_t>(length);
    return true;
}

bool PagesText::isWhitespace(char32_t scalar) {
    if (scalar == U'\t') return true;
    return utf8proc_category(static_cast<utf8proc_int32_t>(scalar)) == UTF8PROC_CATEGORY_ZS;
}

bool PagesText::isWhitespaceOrNewline(char32_t scalar) {
    if ((scalar >= 0x0A && scalar <= 0x0D) || scalar == 0x85) return true;
    const auto category = utf8proc_category(static_cast<utf8proc_int32_t>(scalar));
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
           category == UTF8PROC_CATEGORY_ZP;
}

std::string_view PagesText::trimmingWhitespace(std::string_view text) { return trimming(text, isWhitespace); }

std::string_view PagesText::trimmingWhitespaceAndNewlines(std::string_view text) {
    return trimming(text, isWhitespaceOrNewline);
}

std::size_t PagesText::characterCount(std::string_view text) {
    std::size_t count = 0;
    utf8proc_int32_t state = 0;
    char32_t previous = 0;
    bool first = true;
    ScalarReader reader(text);
    Scalar scalar;
    while (reader.next(scalar)) {
        if (first || utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(previous),
                                                      static_cast<utf8proc_int32_t>(scalar.value), &state)) {
            ++count;
        }
        first = false;
        previous = scalar.value;
    }
    return count;
}

std::int64_t PagesText::utf16Length(std::string_view text) {
    std::int64_t length = 0;
    ScalarReader reader(text);
    Scalar scalar;
    while (reader.next(scalar)) length += scalar.utf16Length();
    return length;
}

std::string PagesText::replacingAll(std::string_view text, std::string_view target, std::string_view replacement) {
    if (target.empty()) return std::string(text);
    std::string result;
    result.reserve(text.size());
    std::size_t offset = 0;
    while (true) {
        const auto found = text.find(target, offset);
        if (found == std::string_view::npos) break;
        result.append(text.substr(offset, found - offset));
        result.append(replacement);
        offset = found + target.size();
    }
    result.append(text.substr(offset));
    return result;
}

}  // namespace lumaro
