#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// The attributes of one start tag, names as written (prefix included, since
// namespace processing is off). Valid only during the start-element callback.
class XMLAttributes {
public:
    explicit XMLAttributes(const char** pairs);

    std::size_t size() const { return count_; }
    std::string_view name(std::size_t index) const { return pairs_[2 * index]; }
    std::string_view value(std::size_t index) const { return pairs_[2 * index + 1]; }
    // The value of the first attribute whose whole name equals `name`.
    std::optional<std::string_view> value(std::string_view name) const;

private:
    const char** pairs_;
    std::size_t count_ = 0;
};

// Receives the events of one document, in document order. Character data may
// arrive in several pieces; it is UTF-8 whatever the document's own encoding.
class XMLEventHandler {
public:
    virtual ~XMLEventHandler() = default;
    virtual void startElement(std::string_view name, const XMLAttributes& attributes) = 0;
    virtual void endElement(std::string_view name) = 0;
    virtual void characters(std::string_view text) = 0;
};

// An event-driven XML parser (expat) with namespace processing off; the
// document declares its own encoding. Entity expansion is held to a small
// multiple of the input and external entities are never loaded, so no input
// can make the parse use memory out of proportion to its size.
struct XMLEventParser {
    // Parses the whole document. Returns nothing on success, else the parser's
    // error as "<message> at line <n>, column <m>". An exception thrown by the
    // handler ends the parse and propagates.
    static std::optional<std::string> parse(ByteView document, XMLEventHandler& handler);
};

}  // namespace lumaro
