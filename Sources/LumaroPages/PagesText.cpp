#include "LumaroPages/PagesText.hpp"

#include <utf8proc.h>

#include <optional>

namespace lumaro {

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

constexpr char32_t kFirstNonASCII = 0x80;

// An ASCII byte is always a scalar of its own (it can be no part of a longer
// sequence, valid or not), so trailing ASCII can be trimmed walking backwards.
// Returns where the core ends, or nothing when a non-ASCII byte is met first.
template <typename Predicate>
std::optional<std::size_t> asciiCoreEnd(std::string_view text, std::size_t coreBegin, Predicate isTrimmed) {
    for (std::size_t end = text.size(); end > coreBegin; --end) {
        const auto byte = static_cast<unsigned char>(text[end - 1]);
        if (byte >= kFirstNonASCII) return std::nullopt;
        if (!isTrimmed(byte)) return end;
    }
    return coreBegin;
}

template <typename Predicate>
std::string_view trimming(std::string_view text, Predicate isTrimmed) {
    PagesText::ScalarReader reader(text);
    PagesText::Scalar scalar;
    std::size_t coreBegin = 0;
    while (reader.next(scalar) && isTrimmed(scalar.value)) coreBegin += scalar.bytes.size();
    if (coreBegin >= text.size()) return text.substr(0, 0);

    auto coreEnd = asciiCoreEnd(text, coreBegin, isTrimmed);
    if (!coreEnd) {
        coreEnd = coreBegin;
        std::size_t offset = coreBegin;
        PagesText::ScalarReader rest(text.substr(coreBegin));
        while (rest.next(scalar)) {
            offset += scalar.bytes.size();
            if (!isTrimmed(scalar.value)) coreEnd = offset;
        }
    }
    return text.substr(coreBegin, *coreEnd - coreBegin);
}

}  // namespace

bool PagesText::ScalarReader::nextEncoded(Scalar& scalar) {
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

// U+0020 is the only ASCII member of Zs, and ASCII has no Zl or Zp.
bool PagesText::isWhitespace(char32_t scalar) {
    if (scalar < kFirstNonASCII) return scalar == U' ' || scalar == U'\t';
    return utf8proc_category(static_cast<utf8proc_int32_t>(scalar)) == UTF8PROC_CATEGORY_ZS;
}

bool PagesText::isWhitespaceOrNewline(char32_t scalar) {
    if ((scalar >= 0x0A && scalar <= 0x0D) || scalar == 0x85) return true;
    if (scalar < kFirstNonASCII) return scalar == U' ';
    const auto category = utf8proc_category(static_cast<utf8proc_int32_t>(scalar));
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
           category == UTF8PROC_CATEGORY_ZP;
}

std::string_view PagesText::trimmingWhitespace(std::string_view text) { return trimming(text, isWhitespace); }

std::string_view PagesText::trimmingWhitespaceAndNewlines(std::string_view text) {
    return trimming(text, isWhitespaceOrNewline);
}

// Between two ASCII scalars there is a cluster boundary except inside CR LF.
// The segmentation state after an ASCII scalar is just that scalar's class,
// which a fresh state also takes from the previous scalar: resetting it there
// keeps the library's answers for whatever follows.
std::size_t PagesText::characterCount(std::string_view text) {
    std::size_t count = 0;
    utf8proc_int32_t state = 0;
    char32_t previous = 0;
    bool first = true;
    ScalarReader reader(text);
    Scalar scalar;
    while (reader.next(scalar)) {
        if (first) {
            ++count;
        } else if (previous < kFirstNonASCII && scalar.value < kFirstNonASCII) {
            if (!(previous == U'\r' && scalar.value == U'\n')) ++count;
            state = 0;
        } else if (utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(previous),
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
