// What the terminal menu reads, decoded from the bytes the terminal sends in
// raw mode, without any I/O: typed characters (UTF-8), the keys that move
// and pick (CSI and SS3 sequences as xterm, tmux, screen and the Linux
// console send them), and mouse reports (SGR, and the older X10 form):
// presses, releases, motion with a button held, and wheel notches.
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
    enum class Kind { Key, Character, Press, Release, Motion, Wheel } kind = Kind::Key;
    MenuKey key = MenuKey::Cancel;        // of a Key
    char32_t character = 0;               // of a Character: printable, never a control
    MenuButton button = MenuButton::Left; // of a Press or Release
    bool buttonHeld = false;              // of a Motion
    int column = 0;                       // of a Press, Release or Motion, in cells from 0
    int row = 0;
    int notches = 0; // of a Wheel: 1 or -1, positive downwards

    bool operator==(const TerminalInput& other) const;
};

class TerminalInputDecoder {
public:
    void feed(std::string_view bytes) { pending_.append(bytes); }
    // The next input among the bytes fed, or none when they are used up or
    // end in a cut sequence (then waiting() is true). Bytes that mean nothing
    // to the menu (other controls, unknown sequences, the horizontal wheel,
    // the extra buttons) are passed over.
    std::optional<TerminalInput> next();
    // Bytes are held that may be the start of an input.
    bool waiting() const { return !pending_.empty(); }
    // No more bytes came: the next input, a cut end of the bytes taken as
    // it stands. Once that end is reached nothing is held.
    std::optional<TerminalInput> flush();
    // Forgets the bytes held and the buttons seen pressed.
    void clear();

private:
    std::optional<TerminalInput> x10Mouse(const std::string& sequence);

    std::string pending_;
    // The X10 form's release names no button: it is the release of the one
    // button this decoder saw pressed, and nothing when it saw none, or
    // several at once (then it cannot tell which went up).
    std::optional<MenuButton> x10Held_;
    bool x10Several_ = false;
};

// Every input of `bytes`, as if they came at once and nothing after them.
std::vector<TerminalInput> decodeTerminalInput(std::string_view bytes);

} // namespace velmora
