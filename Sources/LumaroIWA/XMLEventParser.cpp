#include "LumaroIWA/XMLEventParser.hpp"

// The entity-expansion limits are declared only for builds with DTD support,
// which is how expat is built wherever it ships.
#ifndef XML_DTD
#define XML_DTD
#endif
#include <expat.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <new>

namespace lumaro {

namespace {

// Entity expansion may add at most three times the document's own bytes once it
// passes the threshold; documents of this format declare no entities at all.
constexpr float kMaximumEntityAmplification = 4.0f;
constexpr unsigned long long kEntityAmplificationThreshold = 1ull << 20;

// expat takes its input in pieces whose length fits an int.
constexpr std::size_t kChunkSize = 1u << 20;

struct ParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
using ParserHandle = std::unique_ptr<XML_ParserStruct, ParserDeleter>;

// Carries the handler into expat's C callbacks. An exception must not unwind
// through expat's frames, so it is kept here, the parse is stopped, and the
// exception is thrown again once expat has returned.
struct CallbackContext {
    XML_Parser parser;
    XMLEventHandler& handler;
    std::exception_ptr failure;
};

template <typename Event>
void deliver(void* userData, Event&& event) {
    auto* context = static_cast<CallbackContext*>(userData);
    if (context->failure) return;
    try {
        event(context->handler);
    } catch (...) {
        context->failure = std::current_exception();
        XML_StopParser(context->parser, XML_FALSE);
    }
}

void XMLCALL onStartElement(void* userData, const XML_Char* name, const XML_Char** attributes) {
    deliver(userData, [&](XMLEventHandler& handler) { handler.startElement(name, XMLAttributes(attributes)); });
}

void XMLCALL onEndElement(void* userData, const XML_Char* name) {
    deliver(userData, [&](XMLEventHandler& handler) { handler.endElement(name); });
}

void XMLCALL onCharacters(void* userData, const XML_Char* text, int length) {
    deliver(userData, [&](XMLEventHandler& handler) {
        handler.characters(std::string_view(text, static_cast<std::size_t>(length)));
    });
}

std::string errorDescription(XML_Parser parser) {
    const char* message = XML_ErrorString(XML_GetErrorCode(parser));
    return std::string(message ? message : "unknown error") + " at line " +
           std::to_string(XML_GetCurrentLineNumber(parser)) + ", column " +
           std::to_string(XML_GetCurrentColumnNumber(parser) + 1);
}

}  // namespace

XMLAttributes::XMLAttributes(const char** pairs) : pairs_(pairs) {
    while (pairs_[2 * count_] != nullptr) ++count_;
}

std::optional<std::string_view> XMLAttributes::value(std::string_view name) const {
    for (std::size_t i = 0; i < count_; ++i) {
        if (this->name(i) == name) return value(i);
    }
    return std::nullopt;
}

std::optional<std::string> XMLEventParser::parse(ByteView document, XMLEventHandler& handler) {
    ParserHandle parser(XML_ParserCreate(nullptr));
    if (!parser) throw std::bad_alloc();
    XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser.get(), kMaximumEntityAmplification);
    XML_SetBillionLaughsAttackProtectionActivationThreshold(parser.get(), kEntityAmplificationThreshold);

    CallbackContext context{parser.get(), handler, nullptr};
    XML_SetUserData(parser.get(), &context);
    XML_SetElementHandler(parser.get(), onStartElement, onEndElement);
    XML_SetCharacterDataHandler(parser.get(), onCharacters);

    std::size_t offset = 0;
    do {
        const std::size_t length = std::min(kChunkSize, document.size() - offset);
        const bool isFinal = offset + length == document.size();
        const auto* chunk = reinterpret_cast<const char*>(document.data() + offset);
        const auto status = XML_Parse(parser.get(), chunk, static_cast<int>(length), isFinal ? XML_TRUE : XML_FALSE);
        if (context.failure) std::rethrow_exception(context.failure);
        if (status != XML_STATUS_OK) return errorDescription(parser.get());
        offset += length;
    } while (offset < document.size());
    return std::nullopt;
}

}  // namespace lumaro
