#pragma once

// A tiny declarative builder for the template's protobuf messages. Every value
// is written with the wire type a reader expects (floats as fixed32, flags and
// enumerations as varints), and every object reference is remembered so that
// the package metadata's external references can be computed from the objects
// themselves instead of being listed by hand.

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "LumaroIWA/Protobuf.hpp"

namespace lumaro::templatesource {

class Message {
public:
    Message& varint(std::int64_t number, std::uint64_t value) { writer_.varintField(number, value); return *this; }
    Message& f32(std::int64_t number, float value) { writer_.floatField(number, value); return *this; }
    Message& text(std::int64_t number, std::string_view value) { writer_.stringField(number, value); return *this; }
    Message& empty(std::int64_t number) { writer_.bytesField(number, {}); return *this; }

    Message& message(std::int64_t number, const Message& inner) {
        writer_.messageField(number, inner.bytes());
        references_.insert(inner.references_.begin(), inner.references_.end());
        return *this;
    }

    // A TSP.Reference {1: identifier}.
    Message& ref(std::int64_t number, std::uint64_t identifier) {
        ProtobufWriter reference;
        reference.varintField(1, identifier);
        writer_.messageField(number, reference.bytes());
        references_.insert(identifier);
        return *this;
    }

    const Bytes& bytes() const { return writer_.bytes(); }
    const std::set<std::uint64_t>& references() const { return references_; }

private:
    ProtobufWriter writer_;
    std::set<std::uint64_t> references_;
};

struct Object {
    std::uint64_t identifier;
    std::uint64_t type;
    Message payload;
};

// One `.iwa` file of the template: its component identifier (the root object,
// listed first) and its locator, the file name without "Index/" and ".iwa".
struct Component {
    std::uint64_t identifier;
    std::string locator;
    std::vector<Object> objects;
};

// Colour in the form every style of the template uses: RGB model, opaque.
inline Message colour(float red, float green, float blue, float alpha = 1.0f) {
    Message m;
    m.varint(1, 1).f32(3, red).f32(4, green).f32(5, blue).f32(6, alpha).varint(12, 1).f32(13, 1.0f);
    return m;
}

// An attribute-table entry {1: index, 2: ref}; no reference when `target` is 0.
inline Message runEntry(std::uint64_t index, std::uint64_t target) {
    Message entry;
    entry.varint(1, index);
    if (target != 0) entry.ref(2, target);
    return entry;
}

std::vector<Component> blankComponents();  // BlankTemplateSource.cpp

}  // namespace lumaro::templatesource
