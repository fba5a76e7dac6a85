// Markdown with footnotes to HTML: any text must render without a crash, and
// every element the renderer opens must be closed (text and raw HTML are
// escaped, so every "<" in the output starts one of its own tags).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "LumaroMarkdown/MarkdownFootnoteRenderer.hpp"

namespace {

bool isVoidElement(std::string_view name) {
    return name == "br" || name == "hr" || name == "img" || name == "input";
}

bool tagsBalance(const std::string& html) {
    std::vector<std::string_view> open;
    const std::string_view view(html);
    for (std::size_t position = view.find('<'); position != std::string_view::npos; position = view.find('<', position)) {
        const std::size_t end = view.find('>', position);
        if (end == std::string_view::npos) {
            return false;
        }
        const std::string_view tag = view.substr(position + 1, end - position - 1);
        position = end + 1;
        const bool closing = tag.starts_with('/');
        const std::string_view body = closing ? tag.substr(1) : tag;
        const std::string_view name = body.substr(0, body.find_first_of(" /"));
        if (closing) {
            if (open.empty() || open.back() != name) {
                return false;
            }
            open.pop_back();
        } else if (!isVoidElement(name) && !tag.ends_with('/')) {
            open.push_back(name);
        }
    }
    return open.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using Options = lumaro::MarkdownHTMLRenderer::Options;
    // The first byte picks the xhtml flag; raw HTML stays escaped so that the
    // balance check holds.
    const Options options = size > 0 && (data[0] & 1) ? Options::xhtml : Options{};
    const std::string_view markdown(reinterpret_cast<const char*>(data), size);
    const std::string html = lumaro::MarkdownFootnoteRenderer::convert(markdown, options);
    if (!tagsBalance(html)) {
        std::abort();
    }
    return 0;
}
