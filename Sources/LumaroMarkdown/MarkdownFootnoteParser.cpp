#include "LumaroMarkdown/MarkdownFootnoteParser.hpp"

#include <set>

#include "LumaroMarkdown/UnicodeScalars.hpp"

namespace lumaro {

namespace {

constexpr std::string_view kDefinitionOpening = "[^";
constexpr std::string_view kContinuationSpaces = "    ";

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (;;) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos) {
            lines.push_back(text);
            return lines;
        }
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
}

std::string withLineFeedEndings(std::string_view text) {
    std::string normalized;
    normalized.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            normalized += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            normalized += text[i];
        }
    }
    return normalized;
}

bool isBlank(std::string_view line) {
    return trimmed(line, isSpaceOrTab).empty();
}

bool isIndentedContinuation(std::string_view line) {
    return line.starts_with('\t') || line.starts_with(kContinuationSpaces);
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            text += '\n';
        }
        text += lines[i];
    }
    return text;
}

// For each line, the index of the first non-blank line at or after it
// (lines.size() when there is none), so that looking past a run of blank
// lines costs nothing per line.
std::vector<std::size_t> nextNonBlankLines(const std::vector<std::string_view>& lines) {
    std::vector<std::size_t> next(lines.size() + 1, lines.size());
    for (std::size_t i = lines.size(); i-- > 0;) {
        next[i] = isBlank(lines[i]) ? next[i + 1] : i;
    }
    return next;
}

}  // namespace

std::optional<FootnoteDefinitionStart> parseDefinitionStart(std::string_view line) {
    if (!line.starts_with(kDefinitionOpening)) {
        return std::nullopt;
    }
    const auto close = line.find(']');
    if (close == std::string_view::npos || close == kDefinitionOpening.size()) {
        return std::nullopt;
    }
    if (close + 1 >= line.size() || line[close + 1] != ':') {
        return std::nullopt;
    }
    const std::string_view id =
        trimmed(line.substr(kDefinitionOpening.size(), close - kDefinitionOpening.size()), isSpaceOrTab);
    if (id.empty()) {
        return std::nullopt;
    }
    return FootnoteDefinitionStart{std::string(id), std::string(trimmed(line.substr(close + 2), isSpaceOrTab))};
}

FootnoteDefinitions extractFootnoteDefinitions(std::string_view text) {
    const std::string normalized = withLineFeedEndings(text);
    const std::vector<std::string_view> lines = splitLines(normalized);
    const std::vector<std::size_t> nextNonBlank = nextNonBlankLines(lines);

    FootnoteDefinitions result;
    std::vector<std::string_view> kept;
    std::set<std::string, std::less<>> takenIDs;
    std::size_t i = 0;
    while (i < lines.size()) {
        std::optional<FootnoteDefinitionStart> start = parseDefinitionStart(lines[i]);
        if (!start) {
            kept.push_back(lines[i++]);
            continue;
        }
        std::vector<std::string> body;
        if (!start->firstLineContent.empty()) {
            body.push_back(std::move(start->firstLineContent));
        }
        for (++i; i < lines.size(); ++i) {
            const std::string_view line = lines[i];
            if (isBlank(line)) {
                const std::size_t next = nextNonBlank[i];
                if (next == lines.size() || !isIndentedContinuation(lines[next])) {
                    break;
                }
                body.emplace_back();
            } else if (line.starts_with('\t')) {
                body.emplace_back(line.substr(1));
            } else if (line.starts_with(kContinuationSpaces)) {
                body.emplace_back(line.substr(kContinuationSpaces.size()));
            } else {
                break;
            }
        }
        if (takenIDs.insert(start->id).second) {
            result.definitions.push_back({std::move(start->id), joined(body)});
        }
    }
    for (std::size_t k = 0; k < kept.size(); ++k) {
        if (k > 0) {
            result.cleaned += '\n';
        }
        result.cleaned += kept[k];
    }
    return result;
}

MarkdownFootnoteParser::Extraction MarkdownFootnoteParser::extractDefinitions(std::string_view markdown) {
    FootnoteDefinitions extracted = extractFootnoteDefinitions(markdown);
    Extraction result{std::move(extracted.cleaned), {}};
    result.definitions.reserve(extracted.definitions.size());
    for (FootnoteDefinition& definition : extracted.definitions) {
        result.definitions.push_back({std::move(definition.id), std::move(definition.body)});
    }
    return result;
}

}  // namespace lumaro
