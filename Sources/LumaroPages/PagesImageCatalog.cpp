#include "LumaroPages/PagesImageCatalog.hpp"

#include <string_view>
#include <utility>

#include "LumaroPages/PagesReaderText.hpp"
#include "LumaroPages/PagesWireView.hpp"

namespace lumaro {

namespace {

constexpr int kDeepestRegistryLevel = 7;
constexpr int kDeepestAttachmentHop = 3;
constexpr std::int64_t kDataIDField = 1;
constexpr std::int64_t kDataFileNameField = 4;
constexpr std::int64_t kReferenceField = 1;

std::string asciiLowercased(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Text after the last dot, or empty when there is no dot.
std::string pathExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string deletingPathExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// Thumbnails, preset fills and list bullets are document chrome, not images
// of the text.
bool isChromeImage(const std::string& fileName) {
    if (asciiLowercased(fileName).find("-small") != std::string::npos) return true;
    const std::string logical = asciiLowercased(PagesImageCatalog::logicalName(fileName));
    return logical.starts_with("presetimagefill") || logical.find("bullet") != std::string::npos;
}

}  // namespace

PagesImageCatalog::PagesImageCatalog(const IWAObjectStore& store) : store_(&store) {
    std::map<std::uint64_t, std::string> registry;
    for (const IWAObject& object : store.objects()) collectRegistry(ByteView(object.payload), 0, registry);

    std::set<std::string> used;
    for (const auto& [dataID, fileName] : registry) {  // ascending data identifier
        if (isChromeImage(fileName)) continue;
        std::string reference = uniqueName(logicalName(fileName), used);
        referenceNameByDataID_[dataID] = reference;
        assets_.push_back(Asset{dataID, fileName, std::move(reference)});
    }
}

std::optional<std::string> PagesImageCatalog::referenceName(std::uint64_t dataID) const {
    const auto found = referenceNameByDataID_.find(dataID);
    if (found == referenceNameByDataID_.end()) return std::nullopt;
    return found->second;
}

std::optional<std::uint64_t> PagesImageCatalog::resolveDataID(std::uint64_t objectID, int depth) const {
    for (;; ++depth) {
        if (depth > kDeepestAttachmentHop) return std::nullopt;
        const IWAObject* object = store_->object(objectID);
        if (!object) return std::nullopt;
        const ProtobufMessage message(object->payload);
        for (const ProtobufField& field : message.fields()) {
            const Bytes* nested = field.lengthDelimited();
            if (!nested) continue;
            const auto candidate = ProtobufMessage(*nested).varint(kDataIDField);
            if (candidate && referenceNameByDataID_.contains(*candidate)) return candidate;
        }
        const auto reference = message.message(kReferenceField);
        const auto next = reference ? reference->varint(kReferenceField) : std::nullopt;
        if (!next || !store_->object(*next)) return std::nullopt;
        objectID = *next;
    }
}

const std::set<std::string>& PagesImageCatalog::imageExtensions() {
    static const std::set<std::string> extensions{"png", "jpg", "jpeg", "heic", "heif", "tif", "tiff", "gif", "pdf"};
    return extensions;
}

bool PagesImageCatalog::isImageName(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return false;
    return imageExtensions().contains(asciiLowercased(pathExtension(name)));
}

std::string PagesImageCatalog::logicalName(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos) return name;
    const std::string stem = name.substr(0, dot);
    std::size_t digits = stem.size();
    while (digits > 0 && stem[digits - 1] >= '0' && stem[digits - 1] <= '9') --digits;
    if (digits == stem.size() || digits == 0 || stem[digits - 1] != '-') return name;
    return stem.substr(0, digits - 1) + name.substr(dot);
}

std::string PagesImageCatalog::uniqueName(const std::string& name, std::set<std::string>& used) {
    if (used.insert(name).second) return name;
    const std::string base = deletingPathExtension(name);
    const std::string extension = pathExtension(name);
    for (std::uint64_t n = 1;; ++n) {
        std::string candidate = base + "-" + std::to_string(n);
        if (!extension.empty()) candidate += "." + extension;
        if (used.insert(candidate).second) return candidate;
    }
}

namespace {

// The data records found by one walk, each with the rank of its message in the
// walk's pre-order (a message before the messages inside it, those in field
// order), so that a record found later in that order replaces an earlier one
// even though one scan of a message meets its nested messages before it has
// seen all of its own fields.
struct RankedRecord {
    std::uint64_t rank = 0;
    std::string fileName;
};
struct RegistryWalk {
    std::map<std::uint64_t, RankedRecord> found;
    std::uint64_t nextRank = 0;
};

// A data record names an image only with a "." and one of the image
// extensions among its bytes; repairing invalid UTF-8 never touches ASCII, so
// bytes without such a run hold no record that is catalogued, at any depth.
// Most objects have none and are not walked at all.
constexpr std::string_view kExtensionStarts[] = {"png", "jpg", "jpe", "hei", "tif", "gif", "pdf"};

bool mayHoldImageName(ByteView bytes) {
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    const std::string_view text(data, bytes.size());
    for (std::size_t dot = text.find('.'); dot != std::string_view::npos; dot = text.find('.', dot + 1)) {
        const std::string_view after = text.substr(dot + 1, 3);
        if (after.size() < 3) return false;
        char lowered[3];
        for (std::size_t i = 0; i < 3; ++i)
            lowered[i] = after[i] >= 'A' && after[i] <= 'Z' ? static_cast<char>(after[i] - 'A' + 'a') : after[i];
        for (const auto start : kExtensionStarts)
            if (std::string_view(lowered, 3) == start) return true;
    }
    return false;
}

void walkRegistry(ByteView message, int depth, RegistryWalk& walk) {
    if (depth > kDeepestRegistryLevel) return;
    const std::uint64_t rank = walk.nextRank++;
    std::optional<std::uint64_t> dataID;
    std::optional<ByteView> fileName;
    PagesWireView(message).forEach([&](const PagesWireView::Field& field) {
        if (field.wireType == PagesWireView::kVarint) {
            if (field.number == kDataIDField && !dataID) dataID = field.varint;
        } else if (field.wireType == PagesWireView::kLengthDelimited) {
            if (field.number == kDataFileNameField && !fileName) fileName = field.bytes;
            if (field.bytes.size() >= 2) walkRegistry(field.bytes, depth + 1, walk);
        }
    });
    if (!dataID || !fileName) return;
    std::string name = PagesReaderText::repairedUTF8(*fileName);
    if (!PagesImageCatalog::isImageName(name)) return;
    auto [entry, inserted] = walk.found.try_emplace(*dataID);
    if (inserted || entry->second.rank < rank) entry->second = RankedRecord{rank, std::move(name)};
}

}  // namespace

void PagesImageCatalog::collectRegistry(ByteView message, int depth, std::map<std::uint64_t, std::string>& registry) {
    if (!mayHoldImageName(message)) return;
    RegistryWalk walk;
    walkRegistry(message, depth, walk);
    for (auto& [dataID, found] : walk.found) registry[dataID] = std::move(found.fileName);
}

}  // namespace lumaro
