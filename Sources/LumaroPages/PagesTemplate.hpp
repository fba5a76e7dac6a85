#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro {

// The blank document every written document starts from, as Base64 texts of
// its files in package order. The data are generated from Tools/template/.
struct PagesTemplate {
    struct Entry {
        std::string path;    // inside the package, "/"-separated
        std::string base64;  // the file's bytes; line feeds in it are ignored
    };

    std::vector<Entry> entries;

    // The built-in template, made once on first use and never modified.
    static const PagesTemplate& blank();

    // The decoded bytes of the first entry whose path equals `path` exactly;
    // nothing when no entry has it or its text is not valid Base64.
    std::optional<Bytes> content(std::string_view path) const;
};

}  // namespace lumaro
