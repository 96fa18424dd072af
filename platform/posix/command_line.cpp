#include "platform/posix/command_line.h"

#include "text/text_codec.h"

#include <cstdint>

namespace velmora {

namespace {

bool isPlain(char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '_':
    case '@':
    case '%':
    case '+':
    case '=':
    case ':':
    case ',':
    case '.':
    case '/':
    case '-':
        return true;
    default:
        return false;
    }
}

// The length of the well-formed UTF-8 sequence at bytes[i], or 0.
std::size_t sequenceLength(std::string_view bytes, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char b0 = byte(i);
    std::size_t length = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

std::u16string argumentText(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const std::size_t length = sequenceLength(bytes, i, cp);
        if (length == 0) {
            text.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[i])));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return text;
}

std::string argumentBytes(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0, units = 0; i < text.size(); i += units) {
        const char32_t cp = codePointAt(text, i, units);
        if (cp >= 0xDC80 && cp <= 0xDCFF)
            bytes.push_back(static_cast<char>(cp - 0xDC00)); // a byte kept from the arguments
        else
            appendUtf8CodePoint(bytes, isSurrogate(cp) ? 0xFFFD : cp);
    }
    return bytes;
}

std::u16string joinCommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (std::size_t n = 0; n < arguments.size(); ++n) {
        const std::string& argument = arguments[n];
        if (n > 0)
            line.push_back(' ');
        bool plain = !argument.empty();
        for (const char c : argument)
            plain = plain && isPlain(c);
        if (plain) {
            line += argument;
            continue;
        }
        line.push_back('\'');
        for (const char c : argument) {
            if (c == '\'')
                line += "'\\''";
            else
                line.push_back(c);
        }
        line.push_back('\'');
    }
    return argumentText(line);
}

std::vector<std::string> splitCommandLine(std::u16string_view commandLine) {
    std::vector<std::string> arguments;
    std::u16string current;
    bool inArgument = false;
    enum class Quote { None, Single, Double } quote = Quote::None;
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        const char16_t c = commandLine[i];
        const bool hasNext = i + 1 < commandLine.size();
        switch (quote) {
        case Quote::Single:
            if (c == u'\'')
                quote = Quote::None;
            else
                current.push_back(c);
            break;
        case Quote::Double:
            if (c == u'"') {
                quote = Quote::None;
            } else if (c == u'\\' && hasNext) {
                const char16_t next = commandLine[i + 1];
                if (next == u'\\' || next == u'"' || next == u'$' || next == u'`') {
                    current.push_back(next);
                    ++i;
                } else if (next == u'\n') {
                    ++i;
                } else {
                    current.push_back(c);
                }
            } else {
                current.push_back(c);
            }
            break;
        case Quote::None:
            if (c == u' ' || c == u'\t' || c == u'\n') {
                if (inArgument)
                    arguments.push_back(argumentBytes(current));
                current.clear();
                inArgument = false;
            } else if (c == u'\'') {
                quote = Quote::Single;
                inArgument = true;
            } else if (c == u'"') {
                quote = Quote::Double;
                inArgument = true;
            } else if (c == u'\\' && hasNext) {
                const char16_t next = commandLine[i + 1];
                ++i;
                if (next != u'\n') {
                    current.push_back(next);
                    inArgument = true;
                }
            } else {
                current.push_back(c);
                inArgument = true;
            }
            break;
        }
    }
    if (inArgument)
        arguments.push_back(argumentBytes(current));
    return arguments;
}

} // namespace velmora
