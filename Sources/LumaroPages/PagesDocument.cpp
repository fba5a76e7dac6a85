#include "LumaroPages/PagesDocument.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>

#include "LumaroPages/PagesText.hpp"

namespace lumaro {

namespace {

using Paragraph = PagesDocument::Paragraph;

constexpr int kMinimumHeadingLevel = 1;
constexpr int kMaximumHeadingLevel = 6;
constexpr std::size_t kMaximumHeadingCharacters = 200;
constexpr std::size_t kMaximumInferredHeadingCharacters = 140;
constexpr double kHeadingSizeThreshold = 1.15;
constexpr double kLevel1Ratio = 1.8;
constexpr double kLevel2Ratio = 1.4;
constexpr int kInferredLevel1 = 1;
constexpr int kInferredLevel2 = 2;
constexpr int kInferredLevel3 = 3;

// List indentation stops growing at this depth, so that a damaged list level
// (a varint in the document) cannot make one line gigabytes long.
constexpr int kMaximumIndentedListLevel = 100;
constexpr std::string_view kMarkdownListIndent = "  ";
constexpr std::string_view kPlainTextListIndent = "    ";
constexpr std::string_view kPlainTextBullet = "\u2022 ";

std::string repeated(std::string_view unit, int count) {
    std::string result;
    const int clamped = std::clamp(count, 0, kMaximumIndentedListLevel);
    result.reserve(unit.size() * static_cast<std::size_t>(clamped));
    for (int i = 0; i < clamped; ++i) result.append(unit);
    return result;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string result;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) result.append(separator);
        result.append(parts[i]);
    }
    return result;
}

// Running numbers of numbered list items, per list level.
class ListCounters {
public:
    void clear() { counters_.clear(); }
    void removeDeeperThan(int level) { counters_.erase(counters_.upper_bound(level), counters_.end()); }
    std::int64_t next(int level) { return ++counters_[level]; }

private:
    std::map<int, std::int64_t> counters_;
};

// The output's blocks, joined as they come: consecutive list items are one
// line apart, every other pair of blocks a blank line apart.
class MarkdownBlocks {
public:
    // Reserving close to the final size spares the copies, and the doubled
    // capacity, of a string grown a block at a time.
    explicit MarkdownBlocks(std::size_t expectedSize) { text_.reserve(expectedSize); }

    void add(std::string_view block, bool isListItem) {
        if (hasBlocks_) text_ += (isListItem && lastIsListItem_) ? "\n" : "\n\n";
        text_ += block;
        hasBlocks_ = true;
        lastIsListItem_ = isListItem;
    }
    std::string text() && { return std::move(text_); }

private:
    std::string text_;
    bool hasBlocks_ = false;
    bool lastIsListItem_ = false;
};

// The text plus room per paragraph for markers, markup and separators; a
// document heavy with markup outgrows it and the string grows as usual.
constexpr std::size_t kMarkupBytesPerParagraph = 32;

std::size_t expectedMarkdownSize(const std::vector<Paragraph>& paragraphs,
                                 const std::vector<PagesDocument::Footnote>& footnotes) {
    std::size_t size = 0;
    for (const auto& paragraph : paragraphs) size += paragraph.text.size() + kMarkupBytesPerParagraph;
    for (const auto& footnote : footnotes) size += footnote.text.size() + kMarkupBytesPerParagraph;
    return size;
}

std::string codeFence(const std::vector<Paragraph>& paragraphs, std::size_t begin, std::size_t end) {
    std::string block = "```\n";
    for (std::size_t i = begin; i < end; ++i) {
        if (i > begin) block += "\n";
        block += paragraphs[i].codeText();
    }
    return block + "\n```";
}

std::string footnoteSection(std::vector<PagesDocument::Footnote> footnotes) {
    std::stable_sort(footnotes.begin(), footnotes.end(),
                     [](const auto& a, const auto& b) { return a.number < b.number; });
    std::vector<std::string> lines;
    lines.reserve(footnotes.size());
    for (const auto& footnote : footnotes) {
        lines.push_back("[^" + std::to_string(footnote.number) + "]: " + footnote.text);
    }
    return joined(lines, "\n");
}

std::size_t codeRunEnd(const std::vector<Paragraph>& paragraphs, std::size_t begin) {
    auto end = begin;
    while (end < paragraphs.size() && paragraphs[end].isCodeBlock) ++end;
    return end;
}

}  // namespace

PagesDocument::TextSummary PagesDocument::TextSummary::of(const std::string& text) {
    return {PagesText::characterCount(text), text.empty(), text.find('\n') != std::string::npos};
}

std::vector<PagesDocument::TextSummary> PagesDocument::textSummaries() const {
    std::vector<TextSummary> summaries;
    summaries.reserve(paragraphs.size());
    for (const auto& paragraph : paragraphs) summaries.push_back(TextSummary::of(paragraph.normalizedText()));
    return summaries;
}

std::optional<double> PagesDocument::dominantBodyFontSize() const { return dominantBodyFontSize(textSummaries()); }

std::optional<double> PagesDocument::dominantBodyFontSize(const std::vector<TextSummary>& summaries) const {
    // Counts in the order sizes are first met, so a tie goes to the size that
    // appears first in the document. NaN never equals itself: each NaN size is
    // an entry of its own, kept out of the ordered index.
    std::vector<std::pair<double, std::size_t>> counts;
    std::map<double, std::size_t> indexBySize;
    for (std::size_t i = 0; i < paragraphs.size(); ++i) {
        const auto& paragraph = paragraphs[i];
        if (!paragraph.fontSize) continue;
        const auto characters = summaries[i].characters;
        if (characters < 1) continue;
        const double size = *paragraph.fontSize;
        if (std::isnan(size)) {
            counts.emplace_back(size, characters);
            continue;
        }
        const auto [entry, inserted] = indexBySize.try_emplace(size, counts.size());
        if (inserted) {
            counts.emplace_back(size, characters);
        } else {
            counts[entry->second].second += characters;
        }
    }
    std::optional<std::pair<double, std::size_t>> best;
    for (const auto& candidate : counts) {
        if (!best || candidate.second > best->second) best = candidate;
    }
    if (!best) return std::nullopt;
    return best->first;
}

std::optional<int> PagesDocument::headingLevel(const Paragraph& paragraph, const std::string& text,
                                               std::optional<double> bodySize) {
    return headingLevel(paragraph, TextSummary::of(text), bodySize);
}

std::optional<int> PagesDocument::headingLevel(const Paragraph& paragraph, const TextSummary& text,
                                               std::optional<double> bodySize) {
    if (paragraph.headingLevel && !text.isEmpty) {
        return std::clamp(*paragraph.headingLevel, kMinimumHeadingLevel, kMaximumHeadingLevel);
    }
    if (text.isEmpty) return std::nullopt;
    const auto characters = text.characters;
    if (characters > kMaximumHeadingCharacters) return std::nullopt;
    if (text.hasLineBreak || !bodySize) return std::nullopt;
    if (!(*bodySize > 0)) return std::nullopt;
    if (!paragraph.fontSize) return std::nullopt;
    const double fontSize = *paragraph.fontSize;
    if (!(*bodySize * kHeadingSizeThreshold < fontSize)) return std::nullopt;
    if (characters > kMaximumInferredHeadingCharacters) return std::nullopt;
    const double ratio = fontSize / *bodySize;
    if (ratio >= kLevel1Ratio) return kInferredLevel1;
    if (ratio >= kLevel2Ratio) return kInferredLevel2;
    return kInferredLevel3;
}

std::string PagesDocument::markdownTable(const Paragraph::Table& table) {
    std::size_t columnCount = 0;
    for (const auto& row : table.cells) columnCount = std::max(columnCount, row.size());
    if (columnCount < 1) return "";

    const auto renderRow = [&](const std::vector<std::string>& row) {
        std::vector<std::string> cells;
        cells.reserve(columnCount);
        for (std::size_t column = 0; column < columnCount; ++column) {
            if (column >= row.size()) {
                cells.emplace_back();
                continue;
            }
            const auto oneLine = PagesText::replacingAll(row[column], "\n", " ");
            const auto escaped = PagesText::replacingAll(oneLine, "|", "\\|");
            cells.emplace_back(PagesText::trimmingWhitespace(escaped));
        }
        return "| " + joined(cells, " | ") + " |";
    };

    std::vector<std::string> alignments;
    alignments.reserve(columnCount);
    for (std::size_t column = 0; column < columnCount; ++column) {
        const auto alignment =
            column < table.columnAlignments.size() ? table.columnAlignments[column] : Paragraph::Table::ColumnAlignment::left;
        switch (alignment) {
        case Paragraph::Table::ColumnAlignment::left: alignments.emplace_back("---"); break;
        case Paragraph::Table::ColumnAlignment::center: alignments.emplace_back(":-:"); break;
        case Paragraph::Table::ColumnAlignment::right: alignments.emplace_back("--:"); break;
        }
    }

    std::vector<std::string> lines;
    lines.reserve(table.cells.size() + 1);
    lines.push_back(renderRow(table.cells.front()));
    lines.push_back("| " + joined(alignments, " | ") + " |");
    for (std::size_t row = 1; row < table.cells.size(); ++row) lines.push_back(renderRow(table.cells[row]));
    return joined(lines, "\n");
}

std::string PagesDocument::markdown() const {
    const auto summaries = textSummaries();
    const auto bodySize = dominantBodyFontSize(summaries);
    MarkdownBlocks blocks(expectedMarkdownSize(paragraphs, footnotes));
    ListCounters counters;
    const auto addTables = [&](const Paragraph& paragraph) {
        for (const auto& table : paragraph.tables) {
            if (!table.cells.empty()) blocks.add(markdownTable(table), false);
        }
    };

    std::size_t i = 0;
    while (i < paragraphs.size()) {
        const auto& paragraph = paragraphs[i];
        const auto& summary = summaries[i];
        addTables(paragraph);
        if (paragraph.isCodeBlock) {
            const auto end = codeRunEnd(paragraphs, i);
            blocks.add(codeFence(paragraphs, i, end), false);
            // The run's later paragraphs may anchor tables too; they follow the fence.
            for (auto later = i + 1; later < end; ++later) addTables(paragraphs[later]);
            counters.clear();
            i = end;
            continue;
        }
        ++i;
        auto md = paragraph.renderedText(true, true, false);
        if (md.empty()) continue;
        if (!paragraph.listLevel) {
            const auto level = headingLevel(paragraph, summary, bodySize);
            if (level) {
                blocks.add(std::string(static_cast<std::size_t>(*level), '#') + " " +
                               paragraph.renderedText(true, true, true),
                           false);
            } else {
                blocks.add(md, false);
            }
            counters.clear();
            continue;
        }
        const int listLevel = *paragraph.listLevel;
        counters.removeDeeperThan(listLevel);
        const auto marker = paragraph.listOrdered ? std::to_string(counters.next(listLevel)) + ". " : std::string("- ");
        blocks.add(repeated(kMarkdownListIndent, listLevel) + marker + md, true);
    }

    auto output = std::move(blocks).text();
    if (!footnotes.empty()) {
        if (!output.empty()) output += "\n\n";
        output += footnoteSection(footnotes);
    }
    return output;
}

std::vector<std::string> PagesDocument::plainTextParagraphs() const {
    std::vector<std::string> result;
    ListCounters counters;
    for (const auto& paragraph : paragraphs) {
        auto text = paragraph.normalizedText();
        if (text.empty()) continue;
        if (!paragraph.listLevel) {
            result.push_back(std::move(text));
            counters.clear();
            continue;
        }
        const int listLevel = *paragraph.listLevel;
        const auto indent = repeated(kPlainTextListIndent, listLevel);
        counters.removeDeeperThan(listLevel);
        if (paragraph.listOrdered) {
            result.push_back(indent + std::to_string(counters.next(listLevel)) + ". " + text);
        } else {
            result.push_back(indent + std::string(kPlainTextBullet) + text);
        }
    }
    return result;
}

std::string PagesDocument::plainText() const { return joined(plainTextParagraphs(), "\n\n"); }

}  // namespace lumaro
