#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// Finds, without a schema, the identifiers of known objects that a message
// refers to: every nested submessage shaped like a reference ({1: id, 2?, 3?}).
struct IWAReferenceScanner {
    static constexpr int kMaximumDepth = 63;
    static std::vector<std::uint64_t> referencedObjectIDs(ByteView payload,
                                                          const std::unordered_set<std::uint64_t>& known);
};

}  // namespace lumaro
