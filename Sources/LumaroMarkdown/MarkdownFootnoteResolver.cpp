#include "LumaroMarkdown/MarkdownFootnoteResolver.hpp"

namespace lumaro {

MarkdownFootnoteResolver::MarkdownFootnoteResolver(const std::vector<std::string>& definitionIDs)
    : state_({definitionIDs.begin(), definitionIDs.end()}) {}

std::vector<MarkdownFootnoteParser::Segment> MarkdownFootnoteResolver::resolve(std::string_view text) {
    using Segment = MarkdownFootnoteParser::Segment;
    std::vector<Segment> segments;
    const auto events =
        scanFootnoteReferences(text, [this](std::string_view id) { return state_.recordReference(id); });
    for (const FootnoteScanEvent& event : events) {
        segments.push_back(event.kind == FootnoteScanEvent::Kind::literal ? Segment::ofText(event.literal)
                                                                          : Segment::ofReference(event.reference));
    }
    return segments;
}

std::optional<std::int64_t> MarkdownFootnoteResolver::number(std::string_view id) const {
    const auto& numbers = state_.numberByID();
    const auto found = numbers.find(id);
    if (found == numbers.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace lumaro
