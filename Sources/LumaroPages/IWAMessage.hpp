#pragma once

#include <string_view>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// What every schema message class (Generated/IWA/) has in common. Messages are
// reference types: they are made with the class's static `make()`, shared
// through std::shared_ptr, and hold their child messages the same way, a null
// pointer standing for an absent field. A new message has every field absent,
// every array and `unknownFields` empty; its user fills it by setting members.
class IWAMessage {
public:
    virtual ~IWAMessage() = default;
    IWAMessage(const IWAMessage&) = delete;
    IWAMessage& operator=(const IWAMessage&) = delete;

    // The protobuf bytes: known fields in declaration order (which is not always
    // field-number order), repeated scalars unpacked, then every unknown field
    // in its own wire type.
    virtual Bytes encoded() const = 0;
    // The iWork name of the message, e.g. "TSP_Color".
    virtual std::string_view messageName() const = 0;

protected:
    IWAMessage() = default;
};

}  // namespace lumaro
