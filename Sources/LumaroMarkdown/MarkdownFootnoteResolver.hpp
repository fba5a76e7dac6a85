#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "LumaroMarkdown/FootnoteState.hpp"
#include "LumaroMarkdown/MarkdownFootnoteParser.hpp"

namespace lumaro {

// Numbers the footnote references of texts given one after another, in the
// order of first use, across every call on the same resolver.
class MarkdownFootnoteResolver {
public:
    explicit MarkdownFootnoteResolver(const std::vector<std::string>& definitionIDs);

    // The text as literal segments and reference segments (footnote numbers).
    std::vector<MarkdownFootnoteParser::Segment> resolve(std::string_view text);

    // The number already given to the id, if any; gives none.
    std::optional<std::int64_t> number(std::string_view id) const;

    FootnoteState& state() { return state_; }

private:
    FootnoteState state_;
};

}  // namespace lumaro
