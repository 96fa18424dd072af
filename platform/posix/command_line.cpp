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

} // namespace

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
