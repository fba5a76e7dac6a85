#include "LumaroPages/PagesTemplate.hpp"

#include <algorithm>

#include "LumaroPages/Base64.hpp"
#include "LumaroPages/Generated/BlankPagesTemplate.hpp"

namespace lumaro {

const PagesTemplate& PagesTemplate::blank() {
    static const PagesTemplate instance = [] {
        PagesTemplate blankTemplate;
        for (const auto& file : generated::kBlankPagesTemplate)
            blankTemplate.entries.push_back({file.path, file.base64});
        return blankTemplate;
    }();
    return instance;
}

std::optional<Bytes> PagesTemplate::content(std::string_view path) const {
    const auto entry = std::find_if(entries.begin(), entries.end(),
                                    [&](const Entry& candidate) { return candidate.path == path; });
    if (entry == entries.end()) return std::nullopt;
    std::string text = entry->base64;
    std::erase(text, '\n');
    return Base64::decode(text);
}

}  // namespace lumaro
