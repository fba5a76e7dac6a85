#pragma once

#include <optional>
#include <string_view>

#include "LumaroIWA/Bytes.hpp"
#include "LumaroPages/PagesDocument.hpp"

namespace lumaro {

// Reads a document of the older format, whose whole content is one index.xml:
// the body paragraphs as plain text with heading levels taken from the names of
// their paragraph styles, and the document's tables, appended after the text.
// Emphasis, lists, links, images and footnotes are not read.
class PagesLegacyParser {
public:
    // `from` is the bytes of index.xml, in the encoding the document declares.
    // Throws PagesFileError::legacyXMLParsingFailed with the XML parser's
    // message when the XML is malformed; no partial document is returned.
    PagesDocument parseDocument(ByteView from) const;
};

// Heading levels from paragraph style names, in the languages Pages used:
// subtitle words give 2, title words 1, heading words the level named by the
// first digit in the name (clamped to 1...6; 2 without one).
struct PagesLegacyHeading {
    static std::optional<int> level(std::optional<std::string_view> forStyleName);
};

}  // namespace lumaro
