#include "LumaroPages/PagesTableTemplate.hpp"

#include "LumaroPages/Generated/PagesTableTemplate.hpp"

namespace lumaro {

const std::vector<PagesTableTemplate::Record>& PagesTableTemplate::records() {
    static const std::vector<Record> instance = [] {
        std::vector<Record> records;
        for (const auto& record : generated::kPagesTableTemplateRecords)
            records.push_back({record.file, record.id, record.type, record.base64});
        return records;
    }();
    return instance;
}

const std::string& PagesTableTemplate::packageMetadata() {
    static const std::string instance = generated::kPagesTablePackageMetadata;
    return instance;
}

Bytes PagesTableTemplate::payload(ByteView record) {
    constexpr int kMaximumVarintBytes = 10;
    std::uint64_t headerLength = 0;
    std::size_t position = 0;
    for (int shift = 0;; shift += 7) {
        if (position >= record.size() || position >= kMaximumVarintBytes) return Bytes(record.begin(), record.end());
        const std::uint8_t byte = record[position++];
        headerLength |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) break;
    }
    // A header running past the end means the buffer is not a framed record.
    // A header that ends exactly at the end frames an empty payload.
    if (headerLength > record.size() - position) return Bytes(record.begin(), record.end());
    return Bytes(record.begin() + static_cast<std::ptrdiff_t>(position + headerLength), record.end());
}

}  // namespace lumaro
