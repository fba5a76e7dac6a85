// Style chains, heading levels and list membership of the IWA reader.
#include <algorithm>
#include <charconv>
#include <unordered_set>

#include "LumaroPages/PagesAttributeTable.hpp"
#include "LumaroPages/PagesParser.hpp"
#include "LumaroPages/PagesReaderText.hpp"

namespace lumaro {

namespace {

constexpr std::int64_t kStyleBaseField = 1;
constexpr std::int64_t kStyleIdentifierField = 2;
constexpr std::int64_t kStyleParentField = 3;
constexpr std::int64_t kCharacterPropertiesField = 11;
constexpr std::int64_t kListLabelTypeField = 11;

constexpr std::int64_t kBoldField = 1;
constexpr std::int64_t kItalicField = 2;
constexpr std::int64_t kFontSizeField = 3;
constexpr std::int64_t kFontNameField = 5;
constexpr std::int64_t kUnderlineField = 11;
constexpr std::int64_t kStrikeField = 12;

// A chain is read at most this many styles deep; loops are cut earlier by
// the visited set.
constexpr int kLongestStyleChain = 8;
constexpr int kDeepestListStyle = 7;

constexpr std::uint64_t kLabelTypeNone = 0;
constexpr std::uint64_t kLabelTypeNumber = 3;

constexpr std::string_view kParagraphStylePrefix = "paragraphstyle-";
constexpr int kTopHeadingLevel = 1;
constexpr int kDeepestHeadingLevel = 6;

std::optional<std::uint64_t> parentStyle(const ProtobufMessage& style) {
    const auto base = style.message(kStyleBaseField);
    if (!base) return std::nullopt;
    const auto parent = base->message(kStyleParentField);
    if (!parent) return std::nullopt;
    return PagesAttributeTable::referencedIdentifier(*parent);
}

void fillUnset(std::optional<bool>& flag, const ProtobufMessage& properties, std::int64_t field) {
    if (flag) return;
    if (const auto value = properties.varint(field)) flag = *value != 0;
}

void fillUnset(PagesParser::CharStyleFlags& flags, const ProtobufMessage& properties) {
    fillUnset(flags.bold, properties, kBoldField);
    fillUnset(flags.italic, properties, kItalicField);
    fillUnset(flags.underline, properties, kUnderlineField);
    fillUnset(flags.strike, properties, kStrikeField);
    if (!flags.fontSize)
        if (const auto size = properties.float32(kFontSizeField)) flags.fontSize = static_cast<double>(*size);
    if (!flags.fontName)
        if (const Bytes* name = properties.bytesPointer(kFontNameField))
            flags.fontName = PagesReaderText::repairedUTF8(*name);
}

// An optional sign, then decimal digits only; none when it overflows 64 bits.
std::optional<long long> parseDecimalInteger(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const std::string_view parsed = text.front() == '+' ? digits : text;
    long long value = 0;
    const auto [end, error] = std::from_chars(parsed.data(), parsed.data() + parsed.size(), value);
    if (error != std::errc() || end != parsed.data() + parsed.size()) return std::nullopt;
    return value;
}

}  // namespace

PagesParser::CharStyleFlags PagesParser::resolvedCharFlags(std::uint64_t forStyle, const IWAObjectStore& store) {
    if (const auto cached = charFlagsCache_.find(forStyle); cached != charFlagsCache_.end()) return cached->second;
    CharStyleFlags flags;
    std::unordered_set<std::uint64_t> visited;
    int stylesRead = 0;
    for (std::uint64_t current = forStyle;;) {
        if (!visited.insert(current).second) break;
        const IWAObject* object = store.object(current);
        if (!object) break;
        const ProtobufMessage style(object->payload);
        ++stylesRead;
        if (const auto properties = style.message(kCharacterPropertiesField)) fillUnset(flags, *properties);
        const auto parent = parentStyle(style);
        if (!parent || stylesRead >= kLongestStyleChain || flags.allSet()) break;
        current = *parent;
    }
    charFlagsCache_.emplace(forStyle, flags);
    return flags;
}

PagesParser::IdentifierTraits PagesParser::identifierTraits(std::uint64_t forStyle, const IWAObjectStore& store) {
    if (const auto cached = identifierTraitsCache_.find(forStyle); cached != identifierTraitsCache_.end())
        return cached->second;
    IdentifierTraits traits;
    std::unordered_set<std::uint64_t> visited;
    std::uint64_t current = forStyle;
    for (int examined = 1; examined <= kLongestStyleChain; ++examined) {
        if (!visited.insert(current).second) break;
        const IWAObject* object = store.object(current);
        if (!object) break;
        const ProtobufMessage style(object->payload);
        const auto base = style.message(kStyleBaseField);
        if (!base) break;
        if (const Bytes* identifierBytes = base->bytesPointer(kStyleIdentifierField)) {
            const std::string identifier = PagesReaderText::repairedUTF8(*identifierBytes);
            if (identifier == kCodeBlockStyleIdentifier)
                traits.isCodeBlock = true;
            else
                traits.headingLevel = headingLevel(identifier);
            break;
        }
        const auto parent = base->message(kStyleParentField);
        const auto parentID = parent ? PagesAttributeTable::referencedIdentifier(*parent) : std::nullopt;
        if (!parentID) break;
        current = *parentID;
    }
    identifierTraitsCache_.emplace(forStyle, traits);
    return traits;
}

std::optional<int> PagesParser::headingLevel(std::string_view forStyleIdentifier) {
    const auto prefix = forStyleIdentifier.find(kParagraphStylePrefix);
    if (prefix == std::string_view::npos) return std::nullopt;
    const std::string_view rest = forStyleIdentifier.substr(prefix + kParagraphStylePrefix.size());
    if (rest == "Title") return kTopHeadingLevel;
    constexpr std::string_view headingWithNumber = "Heading ";
    if (rest.starts_with(headingWithNumber)) {
        const auto number = parseDecimalInteger(rest.substr(headingWithNumber.size()));
        if (!number) return std::nullopt;
        return static_cast<int>(std::clamp<long long>(*number, kTopHeadingLevel, kDeepestHeadingLevel));
    }
    if (rest == "Heading") return kTopHeadingLevel;
    return std::nullopt;
}

PagesParser::ListMembership PagesParser::listMembership(std::int64_t atUTF16, const std::vector<ListLevelRun>& levels,
                                                        const std::vector<ListStyleRun>& listStyles,
                                                        const IWAObjectStore& store) {
    const auto after = [atUTF16](const auto& runs) {
        return std::upper_bound(runs.begin(), runs.end(), atUTF16,
                                [](std::int64_t position, const auto& run) { return position < run.position; });
    };
    const auto styleEnd = after(listStyles);
    if (styleEnd == listStyles.begin()) return {};
    const std::uint64_t style = std::prev(styleEnd)->styleID;
    const auto levelEnd = after(levels);
    const std::int64_t level = levelEnd == levels.begin() ? 0 : std::prev(levelEnd)->level;
    switch (resolveListMarker(style, level, store, 0)) {
        case ListMarker::none: return {};
        case ListMarker::bullet: return {level, false};
        case ListMarker::numbered: return {level, true};
    }
    return {};
}

PagesParser::ListMarker PagesParser::resolveListMarker(std::uint64_t style, std::int64_t level,
                                                       const IWAObjectStore& store, int depth) {
    for (;; ++depth) {
        if (depth > kDeepestListStyle) return ListMarker::none;
        const IWAObject* object = store.object(style);
        if (!object) return ListMarker::none;
        const ProtobufMessage message(object->payload);
        // Label types written as one packed field are not seen here.
        const auto labelTypes = message.allVarints(kListLabelTypeField);
        if (!labelTypes.empty()) {
            const auto last = static_cast<std::int64_t>(labelTypes.size()) - 1;
            const std::uint64_t labelType = labelTypes[static_cast<std::size_t>(std::min(last, std::max<std::int64_t>(level, 0)))];
            if (labelType == kLabelTypeNumber) return ListMarker::numbered;
            if (labelType == kLabelTypeNone) return ListMarker::none;
            return ListMarker::bullet;
        }
        const auto parent = parentStyle(message);
        if (!parent || depth == kDeepestListStyle) return ListMarker::none;
        style = *parent;
    }
}

}  // namespace lumaro
