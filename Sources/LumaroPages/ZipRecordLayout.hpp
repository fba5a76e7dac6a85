#pragma once

#include <cstddef>
#include <cstdint>

// The fixed parts of the ZIP records that the stored ZIP writer produces and
// the ZIP reader reads back, so that both agree on them.
namespace lumaro::zip_record {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50u;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50u;
constexpr std::uint32_t kEndRecordSignature = 0x06054B50u;
constexpr std::size_t kLocalHeaderFixedSize = 30;
constexpr std::size_t kCentralHeaderFixedSize = 46;

}  // namespace lumaro::zip_record
