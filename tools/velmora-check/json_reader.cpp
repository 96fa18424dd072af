#include "json_reader.h"

#include "text/text_codec.h"

#include <cstring>

namespace velmora::check {

const JsonValue* JsonValue::find(std::u16string_view key) const {
    for (const auto& member : members) {
        if (member.first == key)
            return &member.second;
    }
    return nullptr;
}

namespace {

constexpr int MAX_DEPTH = 200;

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    std::optional<JsonValue> document() {
        JsonValue value;
        skipSpace();
        if (!readValue(value, 0))
            return std::nullopt;
        skipSpace();
        if (pos_ != text_.size())
            return std::nullopt;
        return value;
    }

private:
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }

    void skipSpace() {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            ++pos_;
    }

    bool literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word)
            return false;
        pos_ += word.size();
        return true;
    }

    bool readValue(JsonValue& value, int depth) {
        if (depth > MAX_DEPTH)
            return false;
        switch (peek()) {
        case '{':
            return readObject(value, depth);
        case '[':
            return readArray(value, depth);
        case '"':
            value.kind = JsonValue::Kind::String;
            return readString(value.string);
        case 't':
            value.kind = JsonValue::Kind::Bool;
            value.boolean = true;
            return literal("true");
        case 'f':
            value.kind = JsonValue::Kind::Bool;
            return literal("false");
        case 'n':
            value.kind = JsonValue::Kind::Null;
            return literal("null");
        default:
            return readNumber(value);
        }
    }

    bool readObject(JsonValue& value, int depth) {
        value.kind = JsonValue::Kind::Object;
        ++pos_;
        skipSpace();
        if (peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            std::u16string key;
            if (peek() != '"' || !readString(key))
                return false;
            skipSpace();
            if (peek() != ':')
                return false;
            ++pos_;
            skipSpace();
            JsonValue member;
            if (!readValue(member, depth + 1))
                return false;
            value.members.emplace_back(std::move(key), std::move(member));
            skipSpace();
            if (peek() == ',') {
                ++pos_;
                skipSpace();
            } else if (peek() == '}') {
                ++pos_;
                return true;
            } else {
                return false;
            }
        }
    }

    bool readArray(JsonValue& value, int depth) {
        value.kind = JsonValue::Kind::Array;
        ++pos_;
        skipSpace();
        if (peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            JsonValue item;
            if (!readValue(item, depth + 1))
                return false;
            value.items.push_back(std::move(item));
            skipSpace();
            if (peek() == ',') {
                ++pos_;
                skipSpace();
            } else if (peek() == ']') {
                ++pos_;
                return true;
            } else {
                return false;
            }
        }
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    // The escape after a backslash, appended to `out`; false for none of JSON's.
    bool readEscape(std::u16string& out) {
        static constexpr char SIMPLE[] = "\"\\/bfnrt";
        static constexpr char16_t MEANS[] = u"\"\\/\b\f\n\r\t";
        const char escape = text_[pos_++];
        if (const char* found = std::strchr(SIMPLE, escape); found != nullptr && escape != '\0') {
            out += MEANS[found - SIMPLE];
            return true;
        }
        if (escape != 'u' || text_.size() - pos_ < 4)
            return false;
        unsigned int unit = 0;
        for (int k = 0; k < 4; ++k) {
            const int digit = hexDigit(text_[pos_++]);
            if (digit < 0)
                return false;
            unit = unit * 16 + static_cast<unsigned int>(digit);
        }
        out += static_cast<char16_t>(unit);
        return true;
    }

    bool readString(std::u16string& out) {
        ++pos_; // the opening quote
        std::size_t runStart = pos_;
        const auto flushRun = [&]() -> bool {
            const std::string_view run = text_.substr(runStart, pos_ - runStart);
            if (!isValidUtf8(run))
                return false;
            out += utf8ToUtf16(run);
            return true;
        };
        for (;;) {
            if (atEnd())
                return false;
            const auto c = static_cast<unsigned char>(text_[pos_]);
            if (c < 0x20)
                return false;
            if (c == '"') {
                if (!flushRun())
                    return false;
                ++pos_;
                return true;
            }
            if (c != '\\') {
                ++pos_;
                continue;
            }
            if (!flushRun())
                return false;
            ++pos_;
            if (atEnd())
                return false;
            if (!readEscape(out))
                return false;
            runStart = pos_;
        }
    }

    bool readNumber(JsonValue& value) {
        value.kind = JsonValue::Kind::Number;
        const std::size_t start = pos_;
        if (peek() == '-')
            ++pos_;
        if (peek() == '0') {
            ++pos_;
        } else if (peek() >= '1' && peek() <= '9') {
            while (peek() >= '0' && peek() <= '9')
                ++pos_;
        } else {
            return false;
        }
        bool integral = true;
        if (peek() == '.') {
            integral = false;
            ++pos_;
            if (!(peek() >= '0' && peek() <= '9'))
                return false;
            while (peek() >= '0' && peek() <= '9')
                ++pos_;
        }
        if (peek() == 'e' || peek() == 'E') {
            integral = false;
            ++pos_;
            if (peek() == '+' || peek() == '-')
                ++pos_;
            if (!(peek() >= '0' && peek() <= '9'))
                return false;
            while (peek() >= '0' && peek() <= '9')
                ++pos_;
        }
        value.numberText = std::string(text_.substr(start, pos_ - start));
        if (integral && value.numberText.size() <= 18)
            value.integer = std::stoll(value.numberText);
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

} // namespace

std::optional<JsonValue> parseJson(std::string_view text) {
    return Reader(text).document();
}

} // namespace velmora::check
