#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// The texts of the value kinds a table cell buffer holds.
struct TSTCellFormat {
    // The kind byte of a cell (byte 1 of the cell).
    enum Kind : std::uint8_t { kEmpty = 0, kNumber = 2, kDate = 5, kDuration = 6, kBoolean = 7, kRichText = 9 };

    // The formatted value of a number, date, duration or boolean cell whose
    // value starts at `valueAt`; absent for other kinds, for a value that
    // does not fit in the buffer, or for one that has no text. Numbers are
    // decimal128 in the current cell layout, doubles in the older one.
    static std::optional<std::string> frozenValue(ByteView buffer, std::size_t valueAt, std::uint8_t type,
                                                  bool numberIsDecimal128);

    // IEEE 754-2008 decimal128 in binary integer decimal encoding, lowest
    // byte first; absent when fewer than 16 bytes remain, for infinities and
    // NaNs, and for coefficients beyond 64 bits.
    static std::optional<std::string> decimal128String(ByteView buffer, std::size_t at);
    // Integral values below 10^15 as integers, others as "%.12g"; infinities,
    // NaNs and subnormals give "".
    static std::string formatDouble(double value);
    // Seconds since 2001-01-01 00:00 UTC as "yyyy-MM-dd HH:mm" in UTC, in
    // the proleptic Gregorian calendar; absent for non-finite values and
    // instants millions of years away.
    static std::optional<std::string> dateString(double secondsSinceReferenceDate);
    // Whole seconds, halves rounded away from zero, followed by "s"; absent
    // when the value is not finite or leaves the 64-bit range.
    static std::optional<std::string> durationString(double seconds);
};

}  // namespace lumaro
