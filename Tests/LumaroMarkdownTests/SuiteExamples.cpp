#include "SuiteExamples.hpp"

#include <stdexcept>

#include "Support/TestSupport.hpp"

namespace lumaro::test {

namespace {

class JSONReader {
public:
    explicit JSONReader(std::string text) : text_(std::move(text)) {}

    std::vector<SuiteExample> examples() {
        std::vector<SuiteExample> result;
        expect('[');
        if (peek() == ']') {
            ++position_;
            return result;
        }
        do {
            result.push_back(example());
        } while (consumeIf(','));
        expect(']');
        return result;
    }

private:
    SuiteExample example() {
        SuiteExample example;
        expect('{');
        do {
            const std::string key = string();
            expect(':');
            if (key == "example") {
                example.number = static_cast<int>(number());
            } else if (key == "section") {
                example.section = string();
            } else if (key == "markdown") {
                example.markdown = string();
            } else if (key == "html") {
                example.html = string();
            } else {
                skipValue();
            }
        } while (consumeIf(','));
        expect('}');
        return example;
    }

    void skipValue() {
        const char c = peek();
        if (c == '"') {
            string();
        } else if (c == '[') {
            ++position_;
            if (!consumeIf(']')) {
                do {
                    skipValue();
                } while (consumeIf(','));
                expect(']');
            }
        } else {
            number();
        }
    }

    long number() {
        skipSpace();
        std::size_t used = 0;
        const long value = std::stol(text_.substr(position_, 24), &used);
        position_ += used;
        return value;
    }

    std::string string() {
        expect('"');
        std::string value;
        while (position_ < text_.size() && text_[position_] != '"') {
            const char c = text_[position_++];
            if (c != '\\') {
                value += c;
                continue;
            }
            const char escape = text_.at(position_++);
            switch (escape) {
            case 'n': value += '\n'; break;
            case 't': value += '\t'; break;
            case 'r': value += '\r'; break;
            case 'b': value += '\b'; break;
            case 'f': value += '\f'; break;
            case 'u': appendUTF8(value, unicodeEscape()); break;
            default: value += escape; break;  // \" \\ \/
            }
        }
        expect('"');
        return value;
    }

    char32_t unicodeEscape() {
        char32_t unit = hex4();
        if (unit >= 0xD800 && unit < 0xDC00 && text_.compare(position_, 2, "\\u") == 0) {
            position_ += 2;
            const char32_t low = hex4();
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        return unit;
    }

    char32_t hex4() {
        const char32_t value = static_cast<char32_t>(std::stoul(text_.substr(position_, 4), nullptr, 16));
        position_ += 4;
        return value;
    }

    static void appendUTF8(std::string& out, char32_t scalar) {
        if (scalar < 0x80) {
            out += static_cast<char>(scalar);
        } else if (scalar < 0x800) {
            out += static_cast<char>(0xC0 | (scalar >> 6));
            out += static_cast<char>(0x80 | (scalar & 0x3F));
        } else if (scalar < 0x10000) {
            out += static_cast<char>(0xE0 | (scalar >> 12));
            out += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (scalar & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (scalar >> 18));
            out += static_cast<char>(0x80 | ((scalar >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (scalar & 0x3F));
        }
    }

    void skipSpace() {
        while (position_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[position_]))) {
            ++position_;
        }
    }

    char peek() {
        skipSpace();
        if (position_ >= text_.size()) {
            throw std::runtime_error("unexpected end of JSON");
        }
        return text_[position_];
    }

    bool consumeIf(char c) {
        if (peek() != c) {
            return false;
        }
        ++position_;
        return true;
    }

    void expect(char c) {
        if (!consumeIf(c)) {
            throw std::runtime_error(std::string("JSON: expected '") + c + "' at offset " + std::to_string(position_));
        }
    }

    std::string text_;
    std::size_t position_ = 0;
};

}  // namespace

std::vector<SuiteExample> readSuiteExamples(const std::filesystem::path& path) {
    return JSONReader(readFileText(path)).examples();
}

}  // namespace lumaro::test
