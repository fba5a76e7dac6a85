// schema-generator <description> <output-directory>
//
// Writes the schema message classes described in <description> as one .hpp and
// one .cpp per source file into <output-directory>. The description is checked
// whole before anything is written, so a faulty one leaves the directory as it was.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Schema.hpp"

namespace {

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: schema-generator <description> <output-directory>\n";
        return 2;
    }
    try {
        const std::filesystem::path description = argv[1];
        const std::filesystem::path outputDirectory = argv[2];
        const auto schema = schema::parseSchema(readText(description), description.filename().string());
        const auto files = schema::generateSources(schema);
        std::filesystem::create_directories(outputDirectory);
        for (const auto& file : files) writeText(outputDirectory / file.name, file.content);
    } catch (const std::exception& error) {
        std::cerr << "schema-generator: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
