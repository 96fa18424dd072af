// What the terminal menu reads, decoded from the bytes the terminal sends in
// raw mode, without any I/O: typed characters (UTF-8), the keys that move
// and pick (CSI and SS3 sequences as xterm, tmux, screen and the Linux
// console send them), and mouse reports (SGR, and the older X10 form).
//
// Bytes arrive in pieces. A sequence or character cut at the end of what has
// come waits for the rest; when no more comes within a short time the caller
// says so, and the rest is taken as it stands: a lone escape is the Escape
// key, a cut character is one unreadable character, a cut sequence is
// dropped.
#pragma once

#include "menu/menu_session.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct TerminalInput {
    enum class Kind { Key, Character, Click, Wheel } kind = Kind::Key;
    MenuKey key = MenuKey::Cancel; // of a Key
    char32_t character = 0;        // of a Character: printable, never a control
    int column = 0;                // of a Click, in cells from 0
    int row = 0;
    int wheel = 0; // of a Wheel: rows to scroll, negative upwards

    bool operator==(const TerminalInput& other) const;
};

class TerminalInputDecoder {
public:
    void feed(std::string_view bytes) { pending_.append(bytes); }
    // The next input among the bytes fed, or none when they are used up or
    // end in a cut sequence (then waiting() is true). Bytes that mean nothing
    // to the menu (other controls, unknown sequences, button releases) are
    // passed over.
    std::optional<TerminalInput> next();
    // Bytes are held that may be the start of an input.
    bool waiting() const { return !pending_.empty(); }
    // No more bytes came: the next input, a cut end of the bytes taken as
    // it stands. Once that end is reached nothing is held.
    std::optional<TerminalInput> flush();
    void clear() { pending_.clear(); }

private:
    std::string pending_;
};

// Every input of `bytes`, as if they came at once and nothing after them.
std::vector<TerminalInput> decodeTerminalInput(std::string_view bytes);

} // namespace velmora
