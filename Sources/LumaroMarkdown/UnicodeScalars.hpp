#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumaro {

// Character sets of the text services, tested one Unicode scalar at a time.
// Bytes that are not valid UTF-8 belong to no set.

// General category Zs and the tab.
bool isSpaceOrTab(std::int32_t scalar);
// General categories Zs, Zl, Zp and U+000A..U+000D, U+0085.
bool isWhitespaceOrNewline(std::int32_t scalar);
// The Unicode White_Space property: the set above plus the tab.
bool isWhiteSpaceProperty(std::int32_t scalar);

// True when some scalar of the text has the White_Space property.
bool containsWhiteSpace(std::string_view text);

// The text without the leading and trailing scalars for which `belongs` holds.
std::string_view trimmed(std::string_view text, bool (*belongs)(std::int32_t));

// Simple (one scalar to one scalar) case mappings; invalid bytes are copied.
std::string uppercased(std::string_view text);
std::string lowercased(std::string_view text);

}  // namespace lumaro
