// Developer tool: prints the objects of a Pages document (ZIP file or package
// directory) as nested protobuf fields, to check a template or a written
// document by eye.
//
//   iwa-inspect <document> [Index/File.iwa ...]
//
// Without file names every Index/*.iwa is printed. Each object shows its
// identifier and type, then its fields; a length-delimited field is shown as a
// nested message when it parses as one whole, else as text or hex. Nested
// {1: n} messages whose n is an object of the document are marked "-> ref".

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <unordered_set>

#include "LumaroIWA/IWAArchive.hpp"
#include "LumaroIWA/IWAContainer.hpp"
#include "LumaroIWA/Protobuf.hpp"

using namespace lumaro;

namespace {

constexpr int kMaximumDepth = 12;
constexpr std::size_t kHexPreview = 32;

bool isPrintableText(const Bytes& bytes) {
    if (bytes.empty()) return false;
    for (std::uint8_t byte : bytes)
        if (byte < 0x20 && byte != '\n' && byte != '\t') return false;
    return true;
}

// True when the bytes are one whole message: re-encoding its fields gives them back.
bool parsesWhole(const Bytes& bytes, const ProtobufMessage& message) {
    if (bytes.empty() || message.fields().empty()) return false;
    ProtobufWriter again;
    for (const auto& field : message.fields()) again.append(field);
    return again.bytes() == bytes;
}

std::string hex(const Bytes& bytes) {
    std::string text;
    char buffer[4];
    for (std::size_t i = 0; i < bytes.size() && i < kHexPreview; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", bytes[i]);
        text += buffer;
    }
    if (bytes.size() > kHexPreview) text += "...";
    return text;
}

template <typename T>
T little(const Bytes& bytes) {
    T value;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

void printMessage(const ProtobufMessage& message, const std::unordered_set<std::uint64_t>& objects, int depth) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    for (const ProtobufField& field : message.fields()) {
        std::printf("%s%lld: ", indent.c_str(), static_cast<long long>(field.number));
        if (const auto* value = field.varint()) {
            std::printf("%llu\n", static_cast<unsigned long long>(*value));
        } else if (const auto* raw = field.fixed32(); raw && raw->size() == 4) {
            std::printf("f32 %g\n", little<float>(*raw));
        } else if (const auto* raw64 = field.fixed64(); raw64 && raw64->size() == 8) {
            std::printf("f64 %g\n", little<double>(*raw64));
        } else if (const auto* bytes = field.lengthDelimited()) {
            const ProtobufMessage nested(*bytes);
            if (depth < kMaximumDepth && parsesWhole(*bytes, nested) && !isPrintableText(*bytes)) {
                const auto& inner = nested.fields();
                const bool reference = inner.size() == 1 && inner[0].number == 1 && inner[0].varint() &&
                                       objects.count(*inner[0].varint());
                if (reference) {
                    std::printf("{1: %llu} -> ref\n", static_cast<unsigned long long>(*inner[0].varint()));
                } else {
                    std::printf("{\n");
                    printMessage(nested, objects, depth + 1);
                    std::printf("%s}\n", indent.c_str());
                }
            } else if (isPrintableText(*bytes)) {
                std::printf("\"%s\"\n", std::string(bytes->begin(), bytes->end()).c_str());
            } else {
                std::printf("bytes[%zu] %s\n", bytes->size(), hex(*bytes).c_str());
            }
        } else {
            std::printf("?\n");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: iwa-inspect <document> [Index/File.iwa ...]\n", stderr);
        return 2;
    }
    try {
        const auto entries = IWAContainer::entries(argv[1], "Index/", ".iwa");
        std::set<std::string> wanted(argv + 2, argv + argc);
        std::vector<std::pair<std::string, std::vector<IWAObject>>> files;
        std::unordered_set<std::uint64_t> identifiers;
        for (const auto& entry : entries) {
            if (!wanted.empty() && !wanted.count(entry.path)) continue;
            files.emplace_back(entry.path, IWAArchive::objects(entry.data));
            for (const auto& object : files.back().second) identifiers.insert(object.identifier);
        }
        for (const auto& [path, objects] : files) {
            std::printf("== %s (%zu objects)\n", path.c_str(), objects.size());
            for (const auto& object : objects) {
                std::printf("object %llu type %llu (%zu bytes) {\n", static_cast<unsigned long long>(object.identifier),
                            static_cast<unsigned long long>(object.type), object.payload.size());
                printMessage(ProtobufMessage(object.payload), identifiers, 1);
                std::printf("}\n");
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "iwa-inspect: %s\n", error.what());
        return 1;
    }
    return 0;
}
