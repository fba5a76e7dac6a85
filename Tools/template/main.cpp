// Generates the embedded blank template from the template source: the object
// declarations in BlankTemplateSource.cpp and the files under files/.
//
//   template-generator <files directory> <output directory>
//
// writes BlankPagesTemplate.hpp and BlankPagesTemplate.cpp into the output
// directory. The package metadata (components and external references) is
// computed from the declared objects, so it cannot fall out of step with them.

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
std::map<std::uint64_t, std::uint64_t> owners(const std::vector<Component>& components) {
    std::map<std::uint64_t, std::uint64_t> owner;
    for (const Component& component : components)
        for (const Object& object : component.objects) {
            if (object.identifier > kHighestIdentifier)
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

Message packageMetadata(const std::vector<Component>& components) {
    const auto owner = owners(components);
    Message metadata;
    metadata.varint(1, kHighestIdentifier);
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
    metadata.objects.push_back({kPackageMetadata, 11006, packageMetadata(components)});
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: template-generator <files directory> <output directory>\n", stderr);
        return 2;
    }
    try {
        writeBlankTemplate(blankTemplateFiles(argv[1]), argv[2]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "template-generator: %s\n", error.what());
        return 1;
    }
    return 0;
}
