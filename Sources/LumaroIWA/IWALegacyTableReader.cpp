#include "LumaroIWA/IWALegacyTableReader.hpp"

#include <locale.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "LumaroIWA/XMLEventParser.hpp"

namespace lumaro {

namespace {

// Names as written in index.xml; the prefixes are part of them.
constexpr std::string_view kGridElement = "sf:grid";
constexpr std::string_view kColumnCountAttribute = "sf:numcols";
constexpr std::string_view kRowCountAttribute = "sf:numrows";
constexpr std::string_view kDatasourceElement = "sf:datasource";
constexpr std::string_view kCellValueAttribute = "sf:v";
constexpr std::string_view kCellNumberAttribute = "sfa:number";
constexpr std::string_view kCellTextElement = "sf:ct";
constexpr std::string_view kCellTextAttribute = "sfa:s";
constexpr std::string_view kFormulaElement = "sf:fo";
constexpr std::string_view kFormulaTextAttribute = "sf:fs";

// An optional sign and decimal digits, nothing else, within 64 bits.
std::int64_t decimalInteger(std::optional<std::string_view> text) {
    if (!text || text->empty()) return 0;
    std::string_view digits = *text;
    bool negative = false;
    if (digits.front() == '+' || digits.front() == '-') {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.front() == '+' || digits.front() == '-') return 0;
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (error != std::errc() || end != digits.data() + digits.size()) return 0;
    const auto limit = static_cast<std::uint64_t>(INT64_MAX);
    if (magnitude > limit + (negative ? 1 : 0)) return 0;
    return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return locale;
}

// The whole text is a C-locale floating-point number: no leading white space,
// nothing left over.
bool isNumber(const std::string& text) {
    if (text.empty()) return false;
    switch (text.front()) {
        case ' ': case '\t': case '\n': case '\v': case '\f': case '\r': return false;
        default: break;
    }
    char* end = nullptr;
    strtod_l(text.c_str(), &end, cLocale());
    return end == text.c_str() + text.size();
}

std::vector<TSTTable::Alignment> columnAlignments(const std::vector<std::vector<std::string>>& grid,
                                                  std::size_t columns) {
    std::vector<TSTTable::Alignment> alignments(columns, TSTTable::Alignment::left);
    for (std::size_t column = 0; column < columns; ++column) {
        bool hasBodyValue = false;
        bool allNumbers = true;
        for (std::size_t row = 1; row < grid.size() && allNumbers; ++row) {
            const auto& value = grid[row][column];
            if (value.empty()) continue;
            hasBodyValue = true;
            allNumbers = isNumber(value);
        }
        if (hasBodyValue && allNumbers) alignments[column] = TSTTable::Alignment::right;
    }
    return alignments;
}

}  // namespace

void IWALegacyTableCollector::startElement(std::string_view name, const XMLAttributes& attributes) {
    if (name == kGridElement) {
        columns_ = decimalInteger(attributes.value(kColumnCountAttribute));
        rows_ = decimalInteger(attributes.value(kRowCountAttribute));
        cells_.clear();
    } else if (name == kDatasourceElement) {
        inDatasource_ = true;
    } else if (name == kCellTextElement && buildingCell_) {
        if (auto text = attributes.value(kCellTextAttribute)) currentCellValue_ = *text;
    } else if (name == kFormulaElement && buildingCell_) {
        if (auto formula = attributes.value(kFormulaTextAttribute)) currentCellValue_ = *formula;
    } else if (inDatasource_ && innermostIsDatasource()) {
        buildingCell_ = true;
        auto value = attributes.value(kCellValueAttribute);
        if (!value) value = attributes.value(kCellNumberAttribute);
        currentCellValue_ = value ? std::string(*value) : std::string();
    }
    openIsDatasource_.push_back(name == kDatasourceElement);
}

void IWALegacyTableCollector::endElement(std::string_view name) {
    if (!openIsDatasource_.empty()) openIsDatasource_.pop_back();
    if (buildingCell_ && inDatasource_ && innermostIsDatasource()) {
        cells_.push_back(std::move(currentCellValue_));
        buildingCell_ = false;
        currentCellValue_.clear();
    }
    if (name == kDatasourceElement) {
        inDatasource_ = false;
        if (auto table = makeTable()) tables_.push_back(std::move(*table));
    }
}

std::optional<TSTTable> IWALegacyTableCollector::makeTable() const {
    if (rows_ < 1 || columns_ < 1) return std::nullopt;
    // The grid is allocated whole, so counts far beyond any real table,
    // which would exhaust memory, give no table.
    const auto rows = static_cast<std::uint64_t>(rows_);
    const auto columns = static_cast<std::uint64_t>(columns_);
    if (rows > TSTTableReader::kMaximumCellCount / columns) return std::nullopt;
    std::vector<std::vector<std::string>> grid(rows, std::vector<std::string>(columns));
    for (std::size_t i = 0; i < cells_.size() && i < rows * columns; ++i) {
        grid[i / columns][i % columns] = cells_[i];
    }
    auto alignments = columnAlignments(grid, columns);
    return TSTTable{std::move(grid), std::move(alignments)};
}

IWALegacyError::IWALegacyError(std::optional<std::string> underlying, std::string description)
    : Error(std::move(description)), underlying_(std::move(underlying)) {}

IWALegacyError IWALegacyError::xmlParsingFailed(std::optional<std::string> underlying) {
    std::string description = "The legacy index.xml is not well-formed XML";
    if (underlying) description += ": " + *underlying;
    return IWALegacyError(std::move(underlying), std::move(description));
}

std::vector<TSTTable> IWALegacyTableReader::tables(ByteView fromIndexXML) {
    IWALegacyTableCollector collector;
    if (auto failure = XMLEventParser::parse(fromIndexXML, collector)) {
        throw IWALegacyError::xmlParsingFailed(std::move(failure));
    }
    return collector.takeTables();
}

}  // namespace lumaro
