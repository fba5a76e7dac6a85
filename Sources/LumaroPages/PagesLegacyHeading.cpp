#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "LumaroPages/PagesLegacyParser.hpp"

namespace lumaro {

namespace {

// Lower-case keywords, NFC, tested in this order: "Untertitel" holds "titel",
// so the subtitle words come first.
constexpr std::string_view kSubtitleKeywords[] = {"subtitle", "untertitel", "sous-titre"};
constexpr std::string_view kTitleKeywords[] = {"title", "titel", "titre", "t\xC3\xADtulo", "titolo"};
constexpr std::string_view kHeadingKeywords[] = {"heading", "\xC3\xBC" "berschrift", "ueberschrift", "encabezado",
                                                 "rubrik"};

constexpr int kSubtitleLevel = 2;
constexpr int kTitleLevel = 1;
constexpr int kUnnumberedHeadingLevel = 2;
constexpr int kHighestLevel = 1;
constexpr int kLowestLevel = 6;

utf8proc_int32_t lowercased(utf8proc_int32_t scalar, void*) { return utf8proc_tolower(scalar); }

// Unicode lower case, composed (NFC) so that decomposed letters match the
// keywords. A name that is not UTF-8 is lower-cased in its ASCII letters only.
std::string lowercasedName(std::string_view name) {
    utf8proc_uint8_t* mapped = nullptr;
    const auto length = utf8proc_map_custom(reinterpret_cast<const utf8proc_uint8_t*>(name.data()),
                                            static_cast<utf8proc_ssize_t>(name.size()), &mapped,
                                            static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE),
                                            lowercased, nullptr);
    if (length >= 0) {
        std::string result(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length));
        std::free(mapped);
        return result;
    }
    std::string result(name);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return result;
}

template <std::size_t N>
bool containsAny(const std::string& name, const std::string_view (&keywords)[N]) {
    return std::any_of(std::begin(keywords), std::end(keywords),
                       [&](std::string_view keyword) { return name.find(keyword) != std::string::npos; });
}

bool isNumberCategory(utf8proc_int32_t scalar) {
    const auto category = utf8proc_category(scalar);
    return category == UTF8PROC_CATEGORY_ND || category == UTF8PROC_CATEGORY_NL || category == UTF8PROC_CATEGORY_NO;
}

// The level named by the first user-perceived character that is a number: its
// value when it is one decimal digit alone, clamped to 1...6; else 2.
int numberedLevel(const std::string& name) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(name.data());
    const auto size = static_cast<utf8proc_ssize_t>(name.size());
    utf8proc_ssize_t position = 0;
    utf8proc_int32_t previous = -1;
    utf8proc_int32_t breakState = 0;
    utf8proc_int32_t clusterFirst = -1;
    std::size_t clusterLength = 0;
    // Decides a finished character; returns the level once the first number is found.
    auto decided = [&]() -> std::optional<int> {
        if (clusterFirst < 0 || !isNumberCategory(clusterFirst)) return std::nullopt;
        if (clusterLength == 1 && clusterFirst >= '0' && clusterFirst <= '9') {
            return std::clamp(static_cast<int>(clusterFirst - '0'), kHighestLevel, kLowestLevel);
        }
        return kUnnumberedHeadingLevel;
    };
    while (position < size) {
        utf8proc_int32_t scalar = 0;
        const auto length = utf8proc_iterate(bytes + position, size - position, &scalar);
        if (length <= 0) break;  // only ASCII-lowered names can hold bad bytes; stop at them
        position += length;
        if (previous >= 0 && utf8proc_grapheme_break_stateful(previous, scalar, &breakState)) {
            if (auto level = decided()) return *level;
            clusterFirst = -1;
            clusterLength = 0;
        }
        if (clusterFirst < 0) clusterFirst = scalar;
        ++clusterLength;
        previous = scalar;
    }
    return decided().value_or(kUnnumberedHeadingLevel);
}

}  // namespace

std::optional<int> PagesLegacyHeading::level(std::optional<std::string_view> forStyleName) {
    if (!forStyleName) return std::nullopt;
    const auto name = lowercasedName(*forStyleName);
    if (containsAny(name, kSubtitleKeywords)) return kSubtitleLevel;
    if (containsAny(name, kTitleKeywords)) return kTitleLevel;
    if (containsAny(name, kHeadingKeywords)) return numberedLevel(name);
    return std::nullopt;
}

}  // namespace lumaro
