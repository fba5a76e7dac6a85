#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace schema {

// The scalar kinds a field can have; `message` fields name their class instead.
enum class ScalarKind { boolean, int32, uint32, uint64, float32, float64, string, message };

struct Field {
    std::string name;         // property name, lower camel case
    std::int64_t number = 0;  // protobuf field number
    bool repeated = false;
    ScalarKind kind = ScalarKind::message;
    std::string messageClass;  // class name of a message field, e.g. "TSP_Reference"
    int line = 0;              // where the field was declared, for error messages
};

struct Message {
    std::string className;     // family prefix, "_", name with nesting joined by "_"
    std::vector<Field> fields;  // declaration order
};

struct SourceFile {
    std::string name;     // e.g. "TSPMessages"; gives <name>.hpp and <name>.cpp
    std::string prefix;   // family prefix, e.g. "TSP"
    std::vector<Message> messages;  // declaration order
};

struct Schema {
    std::vector<SourceFile> files;  // order of the description
};

// A fault in the schema description; what() names the line.
class SchemaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a whole description and checks it: every referenced message exists,
// field numbers and property names are unique within a message, and no name
// clashes with C++ or with the members every class has. Throws SchemaError.
Schema parseSchema(const std::string& text, const std::string& sourceName);

// One generated file: name relative to the output directory, and its content.
struct GeneratedFile {
    std::string name;
    std::string content;
};

// The header and the implementation of every source file, in schema order.
std::vector<GeneratedFile> generateSources(const Schema& schema);

}  // namespace schema
