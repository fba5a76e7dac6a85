#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "LumaroIWA/Bytes.hpp"
#include "LumaroIWA/Error.hpp"
#include "LumaroPages/IWARecord.hpp"
#include "LumaroPages/StoredZipWriter.hpp"

namespace lumaro {

// A package file whose path would not stay inside the package directory.
class IWAPackageError : public Error {
public:
    enum class Case { unsafePath };
    explicit IWAPackageError(std::string path);
    Case kind() const { return Case::unsafePath; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A whole document as a list of files, so that it can be written again in
// another packaging or after edits. `Index/*.iwa` files are held as records
// beside the bytes they were read from; every other file as raw bytes.
struct IWAPackage {
    struct Content {
        struct Iwa {
            std::vector<IWARecord> records;
            std::optional<Bytes> original;  // absent for a file built rather than read
        };
        struct Raw {
            Bytes bytes;
        };
        std::variant<Iwa, Raw> value;

        static Content iwa(std::vector<IWARecord> records, std::optional<Bytes> original);
        static Content raw(Bytes bytes);
        const Iwa* asIwa() const { return std::get_if<Iwa>(&value); }
        const Raw* asRaw() const { return std::get_if<Raw>(&value); }
    };

    struct File {
        std::string path;  // "/"-separated, relative, e.g. Index/Document.iwa
        Content content;
    };

    // A file as it comes from a container or an archive.
    struct SourceFile {
        std::string path;
        Bytes bytes;
    };

    static constexpr std::string_view kIndexPrefix = "Index/";
    static constexpr std::string_view kArchiveSuffix = ".iwa";
    static constexpr std::string_view kIndexArchiveName = "Index.zip";

    std::vector<File> files;  // in the order read
    // The headers of the ZIP entry each file came from; empty unless read from a ZIP.
    std::map<std::string, StoredZipWriter::Metadata> zipMeta;

    // Never fails: an `.iwa` file that does not decompress is held raw.
    static IWAPackage read(std::vector<SourceFile> files);
    // Absent when the bytes are not a stored ZIP archive that ZipReader reads.
    static std::optional<IWAPackage> readZip(ByteView zip);

    // The bytes to write for one file: an untouched `.iwa` file as it was read,
    // otherwise its records framed and compressed anew.
    static Bytes serialized(const Content& content);

    // Writes every "Index/" file into Index.zip and every other file under the
    // directory. Throws IWAPackageError before writing anything when a path is
    // absolute or has empty or ".." components, StoredZipWriterError when
    // Index.zip would exceed the format, and the file system's error of the
    // first creation or write that fails (what was written before stays).
    void writeDirectoryPackage(const std::filesystem::path& to) const;

private:
    static std::vector<IWARecord> parseRecords(ByteView file);
};

}  // namespace lumaro
