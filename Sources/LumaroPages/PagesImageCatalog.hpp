#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/Protobuf.hpp"

namespace lumaro {

// The images of a document: every data record (a message with the data
// identifier in varint field 1 and the stored file name in field 4) found
// anywhere in the objects, each given a unique, readable reference name.
class PagesImageCatalog {
public:
    struct Asset {
        std::uint64_t dataID = 0;
        std::string dataFileName;   // stored name under Data/
        std::string referenceName;  // unique logical name
    };

    // The catalogue keeps a reference to `store`, which must outlive it.
    explicit PagesImageCatalog(const IWAObjectStore& store);

    const std::vector<Asset>& assets() const { return assets_; }
    const IWAObjectStore& store() const { return *store_; }
    const std::unordered_map<std::uint64_t, std::string>& referenceNameByDataID() const {
        return referenceNameByDataID_;
    }
    std::optional<std::string> referenceName(std::uint64_t dataID) const;

    // The image data identifier behind an attachment object, following its
    // field 1 reference at most three times.
    std::optional<std::uint64_t> resolveDataID(std::uint64_t objectID, int depth) const;

    static const std::set<std::string>& imageExtensions();
    static bool isImageName(const std::string& name);
    // "photo-3.png" -> "photo.png": a numeric suffix of the stem is dropped.
    static std::string logicalName(const std::string& name);
    static std::string uniqueName(const std::string& name, std::set<std::string>& used);
    // Data identifier -> file name of every data record within `message`,
    // searched to a nesting depth of 7; a later find replaces an earlier one.
    static void collectRegistry(ByteView message, int depth, std::map<std::uint64_t, std::string>& registry);

private:
    std::vector<Asset> assets_;
    const IWAObjectStore* store_;
    std::unordered_map<std::uint64_t, std::string> referenceNameByDataID_;
};

}  // namespace lumaro
