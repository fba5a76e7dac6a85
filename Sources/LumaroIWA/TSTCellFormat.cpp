#include "LumaroIWA/TSTCellFormat.hpp"

#include <bit>
#include <cmath>
#include <cstdio>

namespace lumaro {

namespace {

constexpr std::size_t kDoubleSize = 8;
constexpr std::size_t kDecimal128Size = 16;

// decimal128 (binary integer decimal): sign in bit 63 of the high word, the
// combination field's two top bits (61, 62) mark the large-coefficient,
// infinity and NaN forms, 14 exponent bits above the 49 high coefficient bits.
constexpr std::uint64_t kDecimalSignBit = 1ull << 63;
constexpr std::uint64_t kDecimalSpecialBits = 3ull << 61;
constexpr std::uint64_t kDecimalHighCoefficientMask = (1ull << 49) - 1;
constexpr unsigned kDecimalExponentShift = 49;
constexpr std::uint64_t kDecimalExponentMask = 0x3FFF;
constexpr std::int64_t kDecimalExponentBias = 6176;
constexpr std::int64_t kDecimalLargestExponent = 6216;  // 40 trailing zeros at most

// Integral doubles below this magnitude print as integers.
constexpr double kIntegerPrintLimit = 1e15;

// 2001-01-01, the reference date of cell dates, counted from 1970-01-01.
constexpr std::int64_t kReferenceDateDaysSinceEpoch = 11323;
constexpr std::int64_t kSecondsPerDay = 86400;
// About three million years either way; beyond that no date is written.
constexpr double kLargestDateMagnitude = 1e14;

// 2^63, the first double outside the signed 64-bit range.
constexpr double kInt64Limit = 9223372036854775808.0;

std::uint64_t readUInt64(ByteView buffer, std::size_t at) {
    std::uint64_t value = 0;
    for (std::size_t index = 0; index < 8; ++index) value |= std::uint64_t(buffer[at + index]) << (8 * index);
    return value;
}

std::optional<double> readDouble(ByteView buffer, std::size_t at) {
    if (at > buffer.size() || buffer.size() - at < kDoubleSize) return std::nullopt;
    return std::bit_cast<double>(readUInt64(buffer, at));
}

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// Days since 1970-01-01 to a proleptic Gregorian date (eras of 400 years).
CivilDate civilFromDays(std::int64_t days) {
    days += 719468;  // from 0000-03-01
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const auto day = static_cast<unsigned>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    const auto month = static_cast<unsigned>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

std::int64_t floorDivide(std::int64_t value, std::int64_t divisor) {
    const std::int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

}  // namespace

std::optional<std::string> TSTCellFormat::frozenValue(ByteView buffer, std::size_t valueAt, std::uint8_t type,
                                                      bool numberIsDecimal128) {
    if (type == kNumber && numberIsDecimal128) return decimal128String(buffer, valueAt);
    if (type != kNumber && type != kDate && type != kDuration && type != kBoolean) return std::nullopt;
    const auto value = readDouble(buffer, valueAt);
    if (!value) return std::nullopt;
    switch (type) {
        case kNumber: return formatDouble(*value);
        case kDate: return dateString(*value);
        case kDuration: return durationString(*value);
        default: return std::string(*value == 0 ? "false" : "true");
    }
}

std::optional<std::string> TSTCellFormat::decimal128String(ByteView buffer, std::size_t at) {
    if (at > buffer.size() || buffer.size() - at < kDecimal128Size) return std::nullopt;
    const std::uint64_t low = readUInt64(buffer, at);
    const std::uint64_t high = readUInt64(buffer, at + 8);
    if ((high & kDecimalSpecialBits) == kDecimalSpecialBits || (high & kDecimalHighCoefficientMask) != 0)
        return std::nullopt;

    const auto exponent = static_cast<std::int64_t>((high >> kDecimalExponentShift) & kDecimalExponentMask);
    std::string digits = std::to_string(low);
    std::string text;
    if (low == 0) {
        // Zero is 0 whatever its exponent, never "000" or "0.00".
        text = "0";
    } else if (exponent < kDecimalExponentBias) {
        const auto fractionDigits = static_cast<std::size_t>(kDecimalExponentBias - exponent);
        if (digits.size() <= fractionDigits) digits.insert(0, fractionDigits + 1 - digits.size(), '0');
        text = digits.substr(0, digits.size() - fractionDigits);
        std::string fraction = digits.substr(digits.size() - fractionDigits);
        while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
        if (!fraction.empty()) text += "." + fraction;
    } else {
        const std::int64_t zeros = std::min(exponent, kDecimalLargestExponent) - kDecimalExponentBias;
        text = digits + std::string(static_cast<std::size_t>(zeros), '0');
    }
    if ((high & kDecimalSignBit) != 0 && text != "0") text = "-" + text;
    return text;
}

std::string TSTCellFormat::formatDouble(double value) {
    switch (std::fpclassify(value)) {
        case FP_INFINITE:
        case FP_NAN:
        case FP_SUBNORMAL: return "";
        default: break;
    }
    if (value == std::trunc(value) && std::fabs(value) < kIntegerPrintLimit)
        return std::to_string(static_cast<long long>(value));  // -0.0 becomes 0
    char text[64];
    std::snprintf(text, sizeof text, "%.12g", value);
    return text;
}

std::optional<std::string> TSTCellFormat::dateString(double secondsSinceReferenceDate) {
    if (!std::isfinite(secondsSinceReferenceDate) || std::fabs(secondsSinceReferenceDate) > kLargestDateMagnitude)
        return std::nullopt;
    const auto seconds = static_cast<std::int64_t>(std::floor(secondsSinceReferenceDate));
    const std::int64_t days = floorDivide(seconds, kSecondsPerDay);
    const std::int64_t secondOfDay = seconds - days * kSecondsPerDay;
    const CivilDate date = civilFromDays(days + kReferenceDateDaysSinceEpoch);
    // "yyyy" is the year of the era: 1 BC is year 1, 2 BC year 2.
    const std::int64_t yearOfEra = date.year > 0 ? date.year : 1 - date.year;
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld", static_cast<long long>(yearOfEra), date.month,
                  date.day, static_cast<long long>(secondOfDay / 3600), static_cast<long long>(secondOfDay % 3600 / 60));
    return text;
}

std::optional<std::string> TSTCellFormat::durationString(double seconds) {
    const double rounded = std::round(seconds);  // halves away from zero
    if (!std::isfinite(rounded) || rounded < -kInt64Limit || rounded >= kInt64Limit) return std::nullopt;
    return std::to_string(static_cast<long long>(rounded)) + "s";
}

}  // namespace lumaro
