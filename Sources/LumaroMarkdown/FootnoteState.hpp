#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace lumaro {

// Footnote numbering of one rendering (or of one resolver): footnotes are
// numbered 1, 2, 3, ... in the order of their first reference, and every
// reference link gets its own anchor. Numbers once given never change. The
// object is mutable and shared by reference between its users; it has no lock.
class FootnoteState {
public:
    explicit FootnoteState(std::set<std::string, std::less<>> validIDs) : validIDs_(std::move(validIDs)) {}

    // The id's number, given now if it has none yet; no value (and no change)
    // for an id without a definition.
    std::optional<std::int64_t> recordReference(std::string_view id);

    // "ref-{N}" for the first reference anchor of footnote N, then "ref-{N}-2",
    // "ref-{N}-3", ...
    std::string nextReferenceAnchorID(std::int64_t number);

    const std::set<std::string, std::less<>>& validIDs() const { return validIDs_; }
    const std::map<std::string, std::int64_t, std::less<>>& numberByID() const { return numberByID_; }
    std::int64_t nextNumber() const { return nextNumber_; }
    const std::map<std::int64_t, std::int64_t>& totalReferenceCountByNumber() const {
        return totalReferenceCountByNumber_;
    }
    const std::map<std::int64_t, std::int64_t>& emittedReferenceCountByNumber() const {
        return emittedReferenceCountByNumber_;
    }
    // The numbered ids, the one numbered 1 first: an index kept beside
    // `numberByID` so that a caller can find the ids numbered since it last looked.
    const std::vector<std::string>& idsInNumberOrder() const { return idsInNumberOrder_; }

private:
    std::set<std::string, std::less<>> validIDs_;
    std::map<std::string, std::int64_t, std::less<>> numberByID_;
    std::int64_t nextNumber_ = 1;
    std::map<std::int64_t, std::int64_t> totalReferenceCountByNumber_;
    std::map<std::int64_t, std::int64_t> emittedReferenceCountByNumber_;
    std::vector<std::string> idsInNumberOrder_;
};

// One piece of a scanned text: literal text, or a resolved reference's number.
struct FootnoteScanEvent {
    enum class Kind { literal, reference };
    Kind kind = Kind::literal;
    std::string literal;
    std::int64_t reference = 0;
    bool operator==(const FootnoteScanEvent&) const = default;
};

// Splits "[^label]" references out of text. A label that is empty, holds white
// space, or for which `record` gives no number stays literal text, as does an
// unclosed "[^". Adjacent literal text is merged into one event.
std::vector<FootnoteScanEvent> scanFootnoteReferences(
    std::string_view text, const std::function<std::optional<std::int64_t>(std::string_view)>& record);

}  // namespace lumaro
