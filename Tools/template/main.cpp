// Generates the embedded blank template from the template source: the object
// declarations in BlankTemplateSource.cpp and the files under files/.
//
//   template-generator <files directory> <output directory>
//
// writes BlankPagesTemplate.{hpp,cpp} and, from TableTemplateSource.cpp,
// PagesTableTemplate.{hpp,cpp} into the output directory. The package metadata (components and external references) is
// computed from the declared objects, so it cannot fall out of step with them.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include <plist/plist.h>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroPages/Base64.hpp"
#include "TemplateMessage.hpp"

namespace fs = std::filesystem;
using namespace lumaro;
using namespace lumaro::templatesource;

namespace {

constexpr std::uint64_t kPackageMetadata = 2;
constexpr std::uint64_t kHighestIdentifier = 1732661;
constexpr std::uint64_t kTableHighestIdentifier = 1734988;  // the one-table document's high-water mark
constexpr const char* kVersionUUID = "8E1F0B62-94C7-4A3D-B5E8-2D70C91A6F43";
constexpr const char* kPrivateUUID = "5D92A7C4-3E18-4B06-8F5A-E1C47B2D9036";
constexpr const char* kFileFormatVersion = "14.0.1";
constexpr std::size_t kBase64LineLength = 76;

struct File {
    std::string path;
    Bytes bytes;
};

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes encodeComponent(const Component& component) {
    std::vector<IWAObject> objects;
    for (const Object& object : component.objects)
        objects.push_back({object.identifier, object.type, object.payload.bytes()});
    return IWAArchive::encode(objects);
}

// Which component holds each object; a duplicate identifier is a source error.
std::map<std::uint64_t, std::uint64_t> owners(const std::vector<Component>& components, std::uint64_t highest) {
    std::map<std::uint64_t, std::uint64_t> owner;
    for (const Component& component : components)
        for (const Object& object : component.objects) {
            if (object.identifier > highest)
                throw std::runtime_error("identifier above the high-water mark: " + std::to_string(object.identifier));
            if (!owner.emplace(object.identifier, component.identifier).second)
                throw std::runtime_error("identifier declared twice: " + std::to_string(object.identifier));
        }
    return owner;
}

// External references of one component: every object of another component
// that one of its objects refers to. The Document component also lists every
// style, since the writer later refers to styles from the body that the blank
// body does not use, and adds no references of its own.
std::map<std::uint64_t, std::uint64_t> externalReferences(const Component& component,
                                                         const std::vector<Component>& components,
                                                         const std::map<std::uint64_t, std::uint64_t>& owner) {
    std::map<std::uint64_t, std::uint64_t> references;  // object -> its component
    for (const Object& object : component.objects)
        for (std::uint64_t target : object.payload.references()) {
            const auto found = owner.find(target);
            if (found == owner.end())
                throw std::runtime_error("dangling reference to " + std::to_string(target) + " from " +
                                         std::to_string(object.identifier));
            if (found->second != component.identifier) references.emplace(target, found->second);
        }
    if (component.locator == "Document")
        for (const Component& other : components)
            if (other.locator == "DocumentStylesheet")
                for (const Object& style : other.objects) references.emplace(style.identifier, other.identifier);
    return references;
}

Message packageMetadata(const std::vector<Component>& components, std::uint64_t highest,
                        const std::map<std::uint64_t, std::uint64_t>& extraOwners = {}) {
    auto owner = owners(components, highest);
    owner.insert(extraOwners.begin(), extraOwners.end());
    Message metadata;
    metadata.varint(1, highest);
    metadata.message(2, Message().text(2, kVersionUUID).varint(3, 0));
    for (const Component& component : components) {
        Message entry;
        entry.varint(1, component.identifier);
        const auto dash = component.locator.find('-');
        entry.text(2, component.locator.substr(0, dash));
        if (dash != std::string::npos) entry.text(3, component.locator);
        for (const auto& [object, holder] : externalReferences(component, components, owner))
            entry.message(6, Message().varint(1, holder).varint(2, object));
        metadata.message(3, entry);
    }
    return metadata;
}

Bytes binaryPlist(const std::string& documentUUID) {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "revision", plist_new_string((std::string("0::") + kVersionUUID).c_str()));
    plist_dict_set_item(dict, "documentUUID", plist_new_string(documentUUID.c_str()));
    plist_dict_set_item(dict, "shareUUID", plist_new_string(documentUUID.c_str()));
    plist_dict_set_item(dict, "stableDocumentUUID", plist_new_string(documentUUID.c_str()));
    plist_dict_set_item(dict, "versionUUID", plist_new_string(kVersionUUID));
    plist_dict_set_item(dict, "privateUUID", plist_new_string(kPrivateUUID));
    plist_dict_set_item(dict, "fileFormatVersion", plist_new_string(kFileFormatVersion));
    plist_dict_set_item(dict, "hasExternalReferenceOrMissingData", plist_new_bool(0));
    plist_dict_set_item(dict, "hasUnmaterializedRemoteData", plist_new_bool(0));
    plist_dict_set_item(dict, "isMultiPage", plist_new_bool(0));
    char* data = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(dict, &data, &length);
    plist_free(dict);
    if (data == nullptr) throw std::runtime_error("cannot write the property list");
    Bytes bytes(data, data + length);
    std::free(data);
    return bytes;
}

std::vector<File> blankTemplateFiles(const fs::path& filesDirectory) {
    const std::vector<Component> components = blankComponents();
    std::vector<File> files;
    for (const Component& component : components)
        files.push_back({"Index/" + component.locator + ".iwa", encodeComponent(component)});
    Component metadata{kPackageMetadata, "Metadata", {}};
    metadata.objects.push_back({kPackageMetadata, 11006, packageMetadata(components, kHighestIdentifier)});
    files.push_back({"Index/Metadata.iwa", encodeComponent(metadata)});
    const Bytes identifier = readFile(filesDirectory / "DocumentIdentifier");
    files.push_back({"Metadata/Properties.plist", binaryPlist(textOf(identifier))});
    files.push_back({"Metadata/DocumentIdentifier", identifier});
    for (const char* name : {"BuildVersionHistory.plist"})
        files.push_back({std::string("Metadata/") + name, readFile(filesDirectory / name)});
    for (const char* name : {"preview.jpg", "preview-micro.jpg", "preview-web.jpg"})
        files.push_back({name, readFile(filesDirectory / name)});
    return files;
}

// The record framing the table copier rewrites: header {1: identifier,
// 2: {1: type, 2: version 1.0.5, 3: payload length, 5: packed references}}.
Bytes tableRecordBytes(const Object& object) {
    const Bytes& payload = object.payload.bytes();
    ProtobufWriter info;
    info.varintField(1, object.type);
    const Bytes version = {0x01, 0x00, 0x05};
    info.bytesField(2, version);
    info.varintField(3, payload.size());
    const std::vector<std::uint64_t> references(object.payload.references().begin(), object.payload.references().end());
    if (!references.empty()) info.packedVarintField(5, references);
    ProtobufWriter header;
    header.varintField(1, object.identifier);
    header.messageField(2, info.bytes());
    Bytes record = ProtobufWriter::varint(header.bytes().size());
    record.insert(record.end(), header.bytes().begin(), header.bytes().end());
    record.insert(record.end(), payload.begin(), payload.end());
    return record;
}

std::string locatorOf(const std::string& file) {
    const std::string prefix = "Index/";
    const std::string suffix = ".iwa";
    return file.substr(prefix.size(), file.size() - prefix.size() - suffix.size());
}

// The Metadata.iwa of the blank document after the template table was added:
// the table records joined to their files, one component per table file.
Bytes tablePackageMetadataFile(const std::vector<TableRecord>& records) {
    std::vector<Component> components = blankComponents();
    Object metadataRecord{0, 0, {}};
    for (const TableRecord& record : records) {
        if (record.file == "Index/Metadata.iwa") {
            metadataRecord = record.object;
            continue;
        }
        const std::string locator = locatorOf(record.file);
        auto component = std::find_if(components.begin(), components.end(),
                                      [&](const Component& c) { return c.locator == locator; });
        if (component == components.end()) {
            if (!record.file.starts_with("Index/Tables/"))
                throw std::runtime_error("table record in an unknown file: " + record.file);
            components.push_back({record.object.identifier, locator, {}});
            component = components.end() - 1;
        } else if (record.file.starts_with("Index/Tables/")) {
            throw std::runtime_error("two records in one table file: " + record.file);
        }
        component->objects.push_back(record.object);
    }
    Component metadata{kPackageMetadata, "Metadata", {}};
    metadata.objects.push_back({kPackageMetadata, 11006,
                                packageMetadata(components, kTableHighestIdentifier,
                                                {{metadataRecord.identifier, kPackageMetadata}})});
    metadata.objects.push_back(metadataRecord);
    return encodeComponent(metadata);
}

// Base64 as adjacent string literals, one line each, joined by "\n".
std::string base64Literal(const Bytes& bytes) {
    const std::string text = Base64::encode(bytes);
    std::string literal;
    for (std::size_t i = 0; i < text.size(); i += kBase64LineLength) {
        const bool more = i + kBase64LineLength < text.size();
        literal += "\n        \"" + text.substr(i, kBase64LineLength) + (more ? "\\n\"" : "\"");
    }
    return literal.empty() ? " \"\"" : literal;
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

constexpr const char* kBanner = "// Generated by Tools/template (template-generator) from the template source. Do not edit.\n";

void writeBlankTemplate(const std::vector<File>& files, const fs::path& output) {
    std::ostringstream header;
    header << kBanner << "#pragma once\n\n#include <cstddef>\n\nnamespace lumaro::generated {\n\n"
           << "struct EmbeddedFile {\n    const char* path;\n    const char* base64;\n};\n\n"
           << "inline constexpr std::size_t kBlankPagesTemplateCount = " << files.size() << ";\n"
           << "extern const EmbeddedFile kBlankPagesTemplate[kBlankPagesTemplateCount];\n\n"
           << "}  // namespace lumaro::generated\n";
    writeText(output / "BlankPagesTemplate.hpp", header.str());

    std::ostringstream source;
    source << kBanner << "#include \"LumaroPages/Generated/BlankPagesTemplate.hpp\"\n\n"
           << "namespace lumaro::generated {\n\n"
           << "const EmbeddedFile kBlankPagesTemplate[kBlankPagesTemplateCount] = {\n";
    for (const File& file : files)
        source << "    {\"" << file.path << "\", // " << file.bytes.size() << " bytes"
               << base64Literal(file.bytes) << "},\n";
    source << "};\n\n}  // namespace lumaro::generated\n";
    writeText(output / "BlankPagesTemplate.cpp", source.str());
}

void writeTableTemplate(const std::vector<TableRecord>& records, const fs::path& output) {
    std::ostringstream header;
    header << kBanner << "#pragma once\n\n#include <cstddef>\n#include <cstdint>\n\nnamespace lumaro::generated {\n\n"
           << "struct EmbeddedRecord {\n    const char* file;\n    std::uint64_t id;\n    std::uint64_t type;\n"
           << "    const char* base64;\n};\n\n"
           << "inline constexpr std::size_t kPagesTableTemplateRecordCount = " << records.size() << ";\n"
           << "extern const EmbeddedRecord kPagesTableTemplateRecords[kPagesTableTemplateRecordCount];\n"
           << "// Index/Metadata.iwa of the one-table document, Base64 without line breaks.\n"
           << "extern const char* const kPagesTablePackageMetadata;\n\n"
           << "}  // namespace lumaro::generated\n";
    writeText(output / "PagesTableTemplate.hpp", header.str());

    std::ostringstream source;
    source << kBanner << "#include \"LumaroPages/Generated/PagesTableTemplate.hpp\"\n\n"
           << "namespace lumaro::generated {\n\n"
           << "const EmbeddedRecord kPagesTableTemplateRecords[kPagesTableTemplateRecordCount] = {\n";
    for (const TableRecord& record : records)
        source << "    {\"" << record.file << "\", " << record.object.identifier << ", " << record.object.type << ",\n        \""
               << Base64::encode(tableRecordBytes(record.object)) << "\"},\n";
    source << "};\n\nconst char* const kPagesTablePackageMetadata =";
    const std::string metadata = Base64::encode(tablePackageMetadataFile(records));
    for (std::size_t i = 0; i < metadata.size(); i += kBase64LineLength)
        source << "\n    \"" << metadata.substr(i, kBase64LineLength) << "\"";
    source << ";\n\n}  // namespace lumaro::generated\n";
    writeText(output / "PagesTableTemplate.cpp", source.str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: template-generator <files directory> <output directory>\n", stderr);
        return 2;
    }
    try {
        writeBlankTemplate(blankTemplateFiles(argv[1]), argv[2]);
        writeTableTemplate(tableRecords(), argv[2]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "template-generator: %s\n", error.what());
        return 1;
    }
    return 0;
}
