#include "display/terminal/terminal_input.h"

#include "text/text_codec.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace velmora {

namespace {

constexpr unsigned char ESC = 0x1b;

TerminalInput key(MenuKey k) {
    TerminalInput input;
    input.kind = TerminalInput::Kind::Key;
    input.key = k;
    return input;
}

// The bytes of one typed character (a whole UTF-8 sequence, or what came of
// a cut one).
std::optional<TerminalInput> typed(std::string_view bytes) {
    const auto lead = static_cast<unsigned char>(bytes.front());
    if (lead == '\r' || lead == '\n')
        return key(MenuKey::Enter);
    if (lead == 0x03) // Ctrl-C
        return key(MenuKey::Cancel);
    const std::u16string text = utf8ToUtf16(bytes);
    std::size_t units = 0;
    const char32_t c = text.empty() ? 0 : codePointAt(text, 0, units);
    if (c < 0x20 || c == 0x7F)
        return std::nullopt;
    TerminalInput input;
    input.kind = TerminalInput::Kind::Character;
    input.character = c;
    return input;
}

// The length of the UTF-8 sequence that `lead` starts.
std::size_t sequenceLength(unsigned char lead) {
    return lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

// One decimal parameter of an SGR mouse report, read from `*p` on; false
// when it does not fit an int (such a report is not a real one).
bool mouseNumber(const char*& p, int& value) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(p, &end, 10);
    if (errno == ERANGE || n > INT_MAX || n <= INT_MIN)
        return false;
    value = static_cast<int>(n);
    p = end;
    return true;
}

MenuButton buttonOf(int low) {
    return low == 0 ? MenuButton::Left : low == 1 ? MenuButton::Middle : MenuButton::Right;
}

// A mouse report: the button code, the cell from 0, and whether the report
// says a button went up. In the code the low two bits are the button (3:
// none, in motion or in the X10 form's release), 4, 8 and 16 the modifiers,
// 32 motion, 64 the wheel (its low bits 0 up, 1 down, 2 and 3 sideways) and
// 128 the buttons past the third.
std::optional<TerminalInput> mouse(int code, int column, int row, bool released) {
    if (code < 0 || (code & 128) != 0)
        return std::nullopt;
    const int low = code & 3;
    TerminalInput input;
    if ((code & 64) != 0) {
        if (released || (code & 32) != 0 || low > 1)
            return std::nullopt;
        input.kind = TerminalInput::Kind::Wheel;
        input.notches = low == 1 ? 1 : -1;
        return input;
    }
    input.column = column;
    input.row = row;
    if ((code & 32) != 0) {
        input.kind = TerminalInput::Kind::Motion;
        input.buttonHeld = low != 3;
        return input;
    }
    if (low == 3)
        return std::nullopt;
    input.kind = released ? TerminalInput::Kind::Release : TerminalInput::Kind::Press;
    input.button = buttonOf(low);
    return input;
}

// "ESC [ < button ; column ; row M" (press) or "... m" (release), from 1.
std::optional<TerminalInput> sgrMouse(const std::string& params, char final) {
    const char* p = params.c_str() + 1;
    int button = 0;
    int column = 0;
    int row = 0;
    if (!mouseNumber(p, button))
        return std::nullopt;
    if (*p == ';') {
        ++p;
        if (!mouseNumber(p, column))
            return std::nullopt;
        --column;
        if (*p == ';') {
            ++p;
            if (!mouseNumber(p, row))
                return std::nullopt;
            --row;
        }
    }
    return mouse(button, column, row, final == 'm');
}

std::optional<TerminalInput> keySequence(const std::string& params, char final) {
    switch (final) {
    case 'A':
        return key(MenuKey::Up);
    case 'B':
        return key(MenuKey::Down);
    case 'H':
        return key(MenuKey::Home);
    case 'F':
        return key(MenuKey::End);
    case 'M':
        return key(MenuKey::Enter); // keypad Enter
    case '~':
        if (params == "1" || params == "7")
            return key(MenuKey::Home);
        if (params == "4" || params == "8")
            return key(MenuKey::End);
        if (params == "5")
            return key(MenuKey::PageUp);
        if (params == "6")
            return key(MenuKey::PageDown);
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

} // namespace

bool TerminalInput::operator==(const TerminalInput& other) const {
    return kind == other.kind && key == other.key && character == other.character &&
           button == other.button && buttonHeld == other.buttonHeld && column == other.column &&
           row == other.row && notches == other.notches;
}

void TerminalInputDecoder::clear() {
    pending_.clear();
    x10Held_.reset();
    x10Several_ = false;
}

// "ESC [ M" and three bytes, each 32 more than the button code and 33 more
// than the column and row.
std::optional<TerminalInput> TerminalInputDecoder::x10Mouse(const std::string& sequence) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
    if (byte(3) < 32)
        return std::nullopt; // not a real report
    const int code = byte(3) - 32;
    const int column = byte(4) - 33;
    const int row = byte(5) - 33;
    if ((code & (3 | 32 | 64 | 128)) != 3) {
        std::optional<TerminalInput> input = mouse(code, column, row, false);
        if (input && input->kind == TerminalInput::Kind::Press) {
            x10Several_ = x10Several_ || (x10Held_ && *x10Held_ != input->button);
            x10Held_ = input->button;
        }
        return input;
    }
    const std::optional<MenuButton> held = x10Several_ ? std::nullopt : x10Held_;
    x10Held_.reset();
    x10Several_ = false;
    if (!held)
        return std::nullopt;
    TerminalInput input;
    input.kind = TerminalInput::Kind::Release;
    input.button = *held;
    input.column = column;
    input.row = row;
    return input;
}

std::optional<TerminalInput> TerminalInputDecoder::next() {
    const auto byte = [this](std::size_t i) { return static_cast<unsigned char>(pending_[i]); };
    while (!pending_.empty()) {
        const unsigned char lead = byte(0);
        if (lead != ESC) {
            const std::size_t length = sequenceLength(lead);
            if (pending_.size() < length)
                return std::nullopt;
            const std::optional<TerminalInput> input =
                typed(std::string_view(pending_).substr(0, length));
            pending_.erase(0, length);
            if (input)
                return input;
            continue;
        }

        // An escape: alone it is the Escape key; else a sequence follows.
        if (pending_.size() == 1)
            return std::nullopt;
        const char introducer = pending_[1];
        if (introducer != '[' && introducer != 'O') {
            pending_.erase(0, 1); // Alt+key or a stray escape: Escape
            return key(MenuKey::Cancel);
        }
        // The sequence ends at its final byte (0x40..0x7E after parameters);
        // an X10 mouse report is "ESC [ M" and three bytes.
        const bool x10Report = introducer == '[' && pending_.size() > 2 && pending_[2] == 'M';
        std::size_t end = 6;
        if (!x10Report) {
            end = 2;
            while (end < pending_.size() && (byte(end) < 0x40 || byte(end) > 0x7E))
                ++end;
            ++end;
        }
        if (pending_.size() < end)
            return std::nullopt;
        const std::string sequence = pending_.substr(0, end);
        pending_.erase(0, end);
        const char final = sequence.back();
        const std::string params = sequence.substr(2, sequence.size() - 3);

        std::optional<TerminalInput> input;
        if (x10Report) {
            input = x10Mouse(sequence);
        } else if (introducer == '[' && !params.empty() && params[0] == '<') {
            input = sgrMouse(params, final);
        } else {
            input = keySequence(params, final);
        }
        if (input)
            return input;
    }
    return std::nullopt;
}

std::optional<TerminalInput> TerminalInputDecoder::flush() {
    std::optional<TerminalInput> input = next();
    if (input || pending_.empty())
        return input;
    // What is held is cut short.
    if (static_cast<unsigned char>(pending_[0]) != ESC)
        input = typed(pending_);
    else if (pending_.size() == 1)
        input = key(MenuKey::Cancel);
    pending_.clear();
    return input;
}

std::vector<TerminalInput> decodeTerminalInput(std::string_view bytes) {
    TerminalInputDecoder decoder;
    decoder.feed(bytes);
    std::vector<TerminalInput> inputs;
    while (decoder.waiting()) {
        if (std::optional<TerminalInput> input = decoder.flush())
            inputs.push_back(*input);
    }
    return inputs;
}

} // namespace velmora
