#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "LumaroPages/PagesDocument.hpp"
#include "LumaroPages/PagesText.hpp"

namespace lumaro {

namespace {

using Paragraph = PagesDocument::Paragraph;

constexpr std::string_view kTabReplacement = "    ";

struct RunStyle {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool code = false;

    static RunStyle of(const Paragraph::EmphasisSpan& span) {
        return {span.bold, span.italic, span.underline, span.strike, span.code};
    }
    bool operator==(const RunStyle&) const = default;
};

// Attributes that cover a whole paragraph and are left out of heading text,
// whose level already carries them. Underline is always written.
struct SuppressedEmphasis {
    bool bold = false;
    bool italic = false;
    bool strike = false;
    bool code = false;

    static SuppressedEmphasis of(const std::vector<Paragraph::EmphasisSpan>& spans) {
        if (spans.empty() || spans.front().start > 0) return {};
        const auto all = [&](bool Paragraph::EmphasisSpan::*attribute) {
            return std::all_of(spans.begin(), spans.end(), [&](const auto& span) { return span.*attribute; });
        };
        return {all(&Paragraph::EmphasisSpan::bold), all(&Paragraph::EmphasisSpan::italic),
                all(&Paragraph::EmphasisSpan::strike), all(&Paragraph::EmphasisSpan::code)};
    }
};

// One pass over a paragraph's text; holds the state of the walk.
class InlineRenderer {
public:
    InlineRenderer(const Paragraph& paragraph, bool inliningImages, bool applyingEmphasis,
                   bool suppressingUniformEmphasis)
        : paragraph_(paragraph), inliningImages_(inliningImages), applyingEmphasis_(applyingEmphasis) {
        if (suppressingUniformEmphasis) suppressed_ = SuppressedEmphasis::of(paragraph.emphasis);
        if (applyingEmphasis) {
            links_ = paragraph.links;
            std::stable_sort(links_.begin(), links_.end(),
                             [](const auto& a, const auto& b) { return a.start < b.start; });
        }
    }

    std::string render() {
        PagesText::ScalarReader reader(paragraph_.text);
        PagesText::Scalar scalar;
        result_.reserve(paragraph_.text.size());
        while (reader.next(scalar)) {
            takeStyleChanges();
            closeLinkIfEnded();
            openLinks();
            if (applyingEmphasis_) writeMarkersUpTo(position_);
            writeScalar(scalar);
            position_ += scalar.utf16Length();
            copyPlainRun(reader);
        }
        if (applyingEmphasis_) writeMarkersUpTo(position_);
        flush();
        if (openLink_) closeLink();
        if (result_.find('\t') != std::string::npos) result_ = PagesText::replacingAll(result_, "\t", kTabReplacement);
        const std::string_view whole(result_);
        const auto core = PagesText::trimmingWhitespaceAndNewlines(whole);
        if (core.size() == whole.size()) return std::move(result_);
        return std::string(core);
    }

private:
    // The first position after the current one where a style span, a link
    // or a footnote reference can change what is written.
    std::int64_t nextEventPosition() const {
        auto next = std::numeric_limits<std::int64_t>::max();
        const auto& spans = paragraph_.emphasis;
        if (spanIndex_ < spans.size()) next = std::min<std::int64_t>(next, spans[spanIndex_].start);
        if (openLink_) next = std::min<std::int64_t>(next, openLink_->end);
        if (linkIndex_ < links_.size()) next = std::min<std::int64_t>(next, links_[linkIndex_].start);
        const auto& markers = paragraph_.footnoteMarkers;
        if (applyingEmphasis_ && markerIndex_ < markers.size())
            next = std::min<std::int64_t>(next, markers[markerIndex_].offset);
        return next;
    }

    // ASCII text (one UTF-16 unit a byte) before the next event, in the run
    // style already in force, is what the scalar walk would copy byte by
    // byte; it is taken in one piece.
    void copyPlainRun(PagesText::ScalarReader& reader) {
        if (applyingEmphasis_ && currentStyle_ != runStyle_) return;
        const std::int64_t room = nextEventPosition() - position_;
        if (room <= 0) return;
        const auto rest = reader.remaining();
        const auto limit = static_cast<std::size_t>(std::min<std::int64_t>(room, static_cast<std::int64_t>(rest.size())));
        std::size_t length = 0;
        while (length < limit && isPlainASCII(rest[length])) ++length;
        pending_.append(rest.substr(0, length));
        reader.skip(length);
        position_ += static_cast<std::int64_t>(length);
    }

    static bool isPlainASCII(char byte) {
        const auto value = static_cast<unsigned char>(byte);
        return value < 0x80 && value != PagesText::kFootnoteMark;
    }

    void takeStyleChanges() {
        const auto& spans = paragraph_.emphasis;
        while (spanIndex_ < spans.size() && spans[spanIndex_].start <= position_) {
            currentStyle_ = RunStyle::of(spans[spanIndex_]);
            ++spanIndex_;
        }
    }

    void closeLinkIfEnded() {
        if (openLink_ && position_ >= openLink_->end) closeLink();
    }

    // A link that starts while another is open, or whose end is already
    // reached, is dropped: overlapping links keep only the first.
    void openLinks() {
        while (linkIndex_ < links_.size() && links_[linkIndex_].start <= position_) {
            const auto& link = links_[linkIndex_++];
            if (!openLink_ && position_ < link.end) {
                flush();
                result_ += "[";
                openLink_ = &link;
            }
        }
    }

    void closeLink() {
        flush();
        result_ += "](" + openLink_->url + ")";
        openLink_ = nullptr;
    }

    void writeMarkersUpTo(std::int64_t position) {
        const auto& markers = paragraph_.footnoteMarkers;
        while (markerIndex_ < markers.size() && markers[markerIndex_].offset <= position) {
            flush();
            result_ += "[^" + std::to_string(markers[markerIndex_].number) + "]";
            ++markerIndex_;
        }
    }

    void writeScalar(const PagesText::Scalar& scalar) {
        switch (scalar.value) {
        case PagesText::kFootnoteMark:
            return;
        case PagesText::kLineSeparator:
            flush();
            result_ += "\n";
            return;
        case PagesText::kObjectReplacement:
            flush();
            writeImage();
            return;
        default:
            if (applyingEmphasis_ && currentStyle_ != runStyle_) {
                flush();
                runStyle_ = currentStyle_;
            }
            pending_.append(scalar.bytes);
        }
    }

    // Every attachment takes its entry of attachmentReferences, image or not.
    void writeImage() {
        const auto& references = paragraph_.attachmentReferences;
        if (inliningImages_ && imageIndex_ < references.size() && references[imageIndex_]) {
            result_ += "![](" + *references[imageIndex_] + ")";
        }
        ++imageIndex_;
    }

    // Text inside a link never gets underline markup: the link shows as underlined anyway.
    void flush() {
        if (pending_.empty()) return;
        const bool plain = !(runStyle_.bold || runStyle_.italic || runStyle_.underline || runStyle_.strike ||
                             runStyle_.code);
        if (applyingEmphasis_ && !plain) {
            result_ += PagesDocument::markedUp(pending_, runStyle_.bold && !suppressed_.bold,
                                               runStyle_.italic && !suppressed_.italic,
                                               runStyle_.underline && openLink_ == nullptr,
                                               runStyle_.strike && !suppressed_.strike,
                                               runStyle_.code && !suppressed_.code);
        } else {
            result_ += pending_;
        }
        pending_.clear();
    }

    const Paragraph& paragraph_;
    const bool inliningImages_;
    const bool applyingEmphasis_;
    SuppressedEmphasis suppressed_;
    std::vector<Paragraph::LinkRun> links_;

    std::string result_;
    std::string pending_;
    RunStyle runStyle_;
    RunStyle currentStyle_;
    std::size_t spanIndex_ = 0;
    std::size_t linkIndex_ = 0;
    std::size_t markerIndex_ = 0;
    std::size_t imageIndex_ = 0;
    const Paragraph::LinkRun* openLink_ = nullptr;
    std::int64_t position_ = 0;
};

}  // namespace

std::string PagesDocument::markedUp(const std::string& text, bool bold, bool italic, bool underline, bool strike,
                                    bool code) {
    if (!(bold || italic || underline || strike || code)) return text;
    const std::string_view whole(text);
    const auto core = PagesText::trimmingWhitespaceAndNewlines(whole);
    if (core.empty()) return text;
    const auto coreOffset = static_cast<std::size_t>(core.data() - whole.data());
    const auto leading = whole.substr(0, coreOffset);
    const auto trailing = whole.substr(coreOffset + core.size());

    std::string wrapped(core);
    if (code) wrapped = "`" + wrapped + "`";
    if (bold && italic) {
        wrapped = "***" + wrapped + "***";
    } else if (bold) {
        wrapped = "**" + wrapped + "**";
    } else if (italic) {
        wrapped = "*" + wrapped + "*";
    }
    if (strike) wrapped = "~~" + wrapped + "~~";
    if (underline) wrapped = "<u>" + wrapped + "</u>";
    return std::string(leading) + wrapped + std::string(trailing);
}

std::string PagesDocument::Paragraph::renderedText(bool inliningImages, bool applyingEmphasis,
                                                   bool suppressingUniformEmphasis) const {
    return InlineRenderer(*this, inliningImages, applyingEmphasis, suppressingUniformEmphasis).render();
}

std::string PagesDocument::Paragraph::normalizedText() const { return renderedText(false, false, false); }

std::string PagesDocument::Paragraph::codeText() const {
    std::string code;
    code.reserve(text.size());
    PagesText::ScalarReader reader(text);
    PagesText::Scalar scalar;
    while (reader.next(scalar)) {
        if (scalar.value == PagesText::kLineSeparator) {
            code += "\n";
        } else {
            code.append(scalar.bytes);
        }
    }
    return code;
}

}  // namespace lumaro
