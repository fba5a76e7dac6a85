#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <set>
#include <sstream>

#include "Schema.hpp"

namespace schema {
namespace {

// Largest field number the protobuf wire format allows (29 bits).
constexpr std::int64_t kMaxFieldNumber = (std::int64_t{1} << 29) - 1;

// Property names that would not compile, or would clash with what every class has.
const std::set<std::string>& reservedPropertyNames() {
    static const std::set<std::string> names = {
        "alignas", "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor", "bool",
        "break", "case", "catch", "char", "char8_t", "char16_t", "char32_t", "class",
        "compl", "concept", "const", "consteval", "constexpr", "constinit", "const_cast",
        "continue", "co_await", "co_return", "co_yield", "decltype", "default", "delete",
        "do", "double", "dynamic_cast", "else", "enum", "explicit", "export", "extern",
        "false", "float", "for", "friend", "goto", "if", "inline", "int", "long",
        "mutable", "namespace", "new", "noexcept", "not", "not_eq", "nullptr", "operator",
        "or", "or_eq", "private", "protected", "public", "register", "reinterpret_cast",
        "requires", "return", "short", "signed", "sizeof", "static", "static_assert",
        "static_cast", "struct", "switch", "template", "this", "thread_local", "throw",
        "true", "try", "typedef", "typeid", "typename", "union", "unsigned", "using",
        "virtual", "void", "volatile", "wchar_t", "while", "xor", "xor_eq",
        // members of every generated class, and the locals of its encoder
        "unknownFields", "make", "encoded", "messageName", "writer", "element", "field",
    };
    return names;
}

const std::map<std::string, ScalarKind>& scalarKinds() {
    static const std::map<std::string, ScalarKind> kinds = {
        {"bool", ScalarKind::boolean}, {"int32", ScalarKind::int32},
        {"uint32", ScalarKind::uint32}, {"uint64", ScalarKind::uint64},
        {"float", ScalarKind::float32}, {"double", ScalarKind::float64},
        {"string", ScalarKind::string},
    };
    return kinds;
}

bool isIdentifier(const std::string& word) {
    if (word.empty() || !(std::isalpha(static_cast<unsigned char>(word[0])))) return false;
    return std::all_of(word.begin(), word.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
}

// snake_case field name to the lower camel case property name:
// "deprecated_is_external" -> "deprecatedIsExternal".
std::string lowerCamelCase(const std::string& fieldName) {
    std::string result;
    bool upperNext = false;
    for (char c : fieldName) {
        if (c == '_') {
            upperNext = true;
        } else {
            result += upperNext ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
            upperNext = false;
        }
    }
    return result;
}

// "TSD.GradientArchive.GradientStop" -> "TSD_GradientArchive_GradientStop".
std::string classNameOf(const std::string& dottedName) {
    std::string result = dottedName;
    std::replace(result.begin(), result.end(), '.', '_');
    return result;
}

bool isDottedName(const std::string& word) {
    std::stringstream parts(word);
    std::string part;
    int count = 0;
    while (std::getline(parts, part, '.')) {
        if (!isIdentifier(part)) return false;
        ++count;
    }
    return count > 0 && word.back() != '.';
}

class Parser {
public:
    explicit Parser(std::string sourceName) : sourceName_(std::move(sourceName)) {}

    Schema parse(const std::string& text) {
        std::stringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            ++lineNumber_;
            parseLine(line);
        }
        resolveMessageReferences();
        return std::move(schema_);
    }

private:
    [[noreturn]] void fail(int line, const std::string& problem) const {
        throw SchemaError(sourceName_ + ":" + std::to_string(line) + ": " + problem);
    }

    void parseLine(std::string line) {
        line = line.substr(0, line.find('#'));
        std::stringstream stream(line);
        std::vector<std::string> words;
        for (std::string word; stream >> word;) words.push_back(word);
        if (words.empty()) return;
        if (words[0] == "file") {
            parseFile(words);
        } else if (words[0] == "message") {
            parseMessage(words);
        } else {
            parseField(words);
        }
    }

    void parseFile(const std::vector<std::string>& words) {
        if (words.size() != 3 || !isIdentifier(words[1]) || !isIdentifier(words[2]))
            fail(lineNumber_, "expected: file <SourceFile> <FamilyPrefix>");
        for (const SourceFile& file : schema_.files)
            if (file.name == words[1]) fail(lineNumber_, "source file " + words[1] + " declared twice");
        schema_.files.push_back({words[1], words[2], {}});
    }

    void parseMessage(const std::vector<std::string>& words) {
        if (schema_.files.empty()) fail(lineNumber_, "message before the first file statement");
        if (words.size() != 2 || !isDottedName(words[1]))
            fail(lineNumber_, "expected: message <Name> or message <Outer>.<Name>");
        SourceFile& file = schema_.files.back();
        const std::string& name = words[1];
        const auto lastDot = name.rfind('.');
        if (lastDot != std::string::npos) {
            const std::string outer = file.prefix + "_" + classNameOf(name.substr(0, lastDot));
            const bool outerDeclared = std::any_of(file.messages.begin(), file.messages.end(),
                [&](const Message& m) { return m.className == outer; });
            if (!outerDeclared) fail(lineNumber_, "nested message before its outer message " + outer);
        }
        const std::string className = file.prefix + "_" + classNameOf(name);
        if (!declaredClasses_.insert(className).second)
            fail(lineNumber_, "message " + className + " declared twice");
        file.messages.push_back({className, {}});
    }

    void parseField(const std::vector<std::string>& words) {
        if (schema_.files.empty() || schema_.files.back().messages.empty())
            fail(lineNumber_, "field outside a message");
        const bool repeated = words.size() == 4 && words[2] == "repeated";
        if (words.size() != (repeated ? 4u : 3u))
            fail(lineNumber_, "expected: <field_name> <number> [repeated] <kind>");
        Field field;
        field.line = lineNumber_;
        field.repeated = repeated;
        field.name = fieldName(words[0]);
        field.number = fieldNumber(words[1]);
        setKind(field, words.back());
        addField(schema_.files.back().messages.back(), std::move(field));
    }

    std::string fieldName(const std::string& word) const {
        const bool snakeCase = isIdentifier(word) && std::islower(static_cast<unsigned char>(word[0])) &&
            std::none_of(word.begin(), word.end(), [](char c) { return std::isupper(static_cast<unsigned char>(c)); });
        if (!snakeCase || word.back() == '_' || word.find("__") != std::string::npos)
            fail(lineNumber_, "field name must be lower case snake_case: " + word);
        const std::string property = lowerCamelCase(word);
        if (reservedPropertyNames().count(property))
            fail(lineNumber_, "field name " + word + " is reserved in the generated code");
        return property;
    }

    std::int64_t fieldNumber(const std::string& word) const {
        std::int64_t number = 0;
        const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), number);
        if (error != std::errc() || end != word.data() + word.size() || number < 1 || number > kMaxFieldNumber)
            fail(lineNumber_, "field number must be 1 to " + std::to_string(kMaxFieldNumber) + ": " + word);
        return number;
    }

    void setKind(Field& field, const std::string& word) const {
        if (const auto scalar = scalarKinds().find(word); scalar != scalarKinds().end()) {
            field.kind = scalar->second;
        } else if (word.find('.') != std::string::npos && isDottedName(word)) {
            field.kind = ScalarKind::message;
            field.messageClass = classNameOf(word);
        } else {
            fail(lineNumber_, "unknown kind " + word);
        }
    }

    void addField(Message& message, Field field) const {
        for (const Field& other : message.fields) {
            if (other.number == field.number)
                fail(lineNumber_, "field number " + std::to_string(field.number) + " used twice in " + message.className);
            if (other.name == field.name)
                fail(lineNumber_, "property " + field.name + " declared twice in " + message.className);
        }
        message.fields.push_back(std::move(field));
    }

    void resolveMessageReferences() const {
        for (const SourceFile& file : schema_.files)
            for (const Message& message : file.messages)
                for (const Field& field : message.fields)
                    if (field.kind == ScalarKind::message && !declaredClasses_.count(field.messageClass))
                        fail(field.line, "unknown message " + field.messageClass);
    }

    std::string sourceName_;
    int lineNumber_ = 0;
    Schema schema_;
    std::set<std::string> declaredClasses_;
};

}  // namespace

Schema parseSchema(const std::string& text, const std::string& sourceName) {
    return Parser(sourceName).parse(text);
}

}  // namespace schema
