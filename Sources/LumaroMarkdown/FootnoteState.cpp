#include "LumaroMarkdown/FootnoteState.hpp"

#include "LumaroMarkdown/UnicodeScalars.hpp"

namespace lumaro {

namespace {

constexpr std::string_view kReferenceOpening = "[^";

}  // namespace

std::optional<std::int64_t> FootnoteState::recordReference(std::string_view id) {
    if (validIDs_.find(id) == validIDs_.end()) {
        return std::nullopt;
    }
    auto found = numberByID_.find(id);
    if (found == numberByID_.end()) {
        found = numberByID_.emplace(std::string(id), nextNumber_++).first;
        idsInNumberOrder_.emplace_back(id);
    }
    ++totalReferenceCountByNumber_[found->second];
    return found->second;
}

std::string FootnoteState::nextReferenceAnchorID(std::int64_t number) {
    const std::int64_t count = ++emittedReferenceCountByNumber_[number];
    std::string anchor = "ref-";
    anchor += std::to_string(number);
    if (count > 1) {
        anchor += '-';
        anchor += std::to_string(count);
    }
    return anchor;
}

std::vector<FootnoteScanEvent> scanFootnoteReferences(
    std::string_view text, const std::function<std::optional<std::int64_t>(std::string_view)>& record) {
    if (text.find(kReferenceOpening) == std::string_view::npos) {
        return {{FootnoteScanEvent::Kind::literal, std::string(text), 0}};
    }
    std::vector<FootnoteScanEvent> events;
    std::string pending;
    std::size_t position = 0;
    while (position < text.size()) {
        const auto opening = text.find(kReferenceOpening, position);
        if (opening == std::string_view::npos) {
            pending += text.substr(position);
            break;
        }
        pending += text.substr(position, opening - position);
        const auto close = text.find(']', opening + kReferenceOpening.size());
        if (close == std::string_view::npos) {
            pending += text.substr(opening);
            break;
        }
        const std::string_view label = text.substr(opening + 2, close - opening - 2);
        std::optional<std::int64_t> number;
        if (!label.empty() && !containsWhiteSpace(label)) {
            number = record(label);
        }
        if (number) {
            if (!pending.empty()) {
                events.push_back({FootnoteScanEvent::Kind::literal, std::move(pending), 0});
                pending.clear();
            }
            events.push_back({FootnoteScanEvent::Kind::reference, {}, *number});
        } else {
            pending += text.substr(opening, close + 1 - opening);
        }
        position = close + 1;
    }
    if (!pending.empty()) {
        events.push_back({FootnoteScanEvent::Kind::literal, std::move(pending), 0});
    }
    return events;
}

}  // namespace lumaro
