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

namespace {

// Reads a command line into words as a POSIX shell does: blanks between
// them, '...' and "..." quoting, backslash escapes.
class CommandLineSplitter {
public:
    explicit CommandLineSplitter(std::u16string_view text) : text_(text) {}

    std::vector<std::string> split() {
        for (at_ = 0; at_ < text_.size(); ++at_) {
            if (quote_ == Quote::Single)
                singleQuoted(text_[at_]);
            else if (quote_ == Quote::Double)
                doubleQuoted(text_[at_]);
            else
                unquoted(text_[at_]);
        }
        endArgument();
        return std::move(arguments_);
    }

private:
    enum class Quote { None, Single, Double };

    bool hasNext() const { return at_ + 1 < text_.size(); }
    char16_t takeNext() { return text_[++at_]; }

    void add(char16_t c) {
        current_.push_back(c);
        inArgument_ = true;
    }

    void endArgument() {
        if (inArgument_)
            arguments_.push_back(argumentBytes(current_));
        current_.clear();
        inArgument_ = false;
    }

    void singleQuoted(char16_t c) {
        if (c == u'\'')
            quote_ = Quote::None;
        else
            add(c);
    }

    void doubleQuoted(char16_t c) {
        if (c == u'"') {
            quote_ = Quote::None;
        } else if (c == u'\\' && hasNext()) {
            const char16_t next = text_[at_ + 1];
            if (next == u'\\' || next == u'"' || next == u'$' || next == u'`')
                add(takeNext());
            else if (next == u'\n')
                takeNext(); // a line continued
            else
                add(c);
        } else {
            add(c);
        }
    }

    void unquoted(char16_t c) {
        if (c == u' ' || c == u'\t' || c == u'\n') {
            endArgument();
        } else if (c == u'\'' || c == u'"') {
            quote_ = c == u'"' ? Quote::Double : Quote::Single;
            inArgument_ = true;
        } else if (c == u'\\' && hasNext()) {
            const char16_t next = takeNext();
            if (next != u'\n')
                add(next);
        } else {
            add(c);
        }
    }

    std::u16string_view text_;
    std::size_t at_ = 0;
    Quote quote_ = Quote::None;
    std::u16string current_;
    bool inArgument_ = false;
    std::vector<std::string> arguments_;
};

} // namespace

std::vector<std::string> splitCommandLine(std::u16string_view commandLine) {
    return CommandLineSplitter(commandLine).split();
}

} // namespace velmora
