// The terminal menu's input decoder: the bytes terminals send, whole, cut
// short and malformed, and the same bytes arriving in pieces.
#include "display/terminal/terminal_input.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace velmora {

void PrintTo(const TerminalInput& input, std::ostream* out) {
    switch (input.kind) {
    case TerminalInput::Kind::Key:
        *out << "Key(" << static_cast<int>(input.key) << ")";
        break;
    case TerminalInput::Kind::Character:
        *out << "Character(U+" << std::hex << static_cast<unsigned long>(input.character)
             << std::dec << ")";
        break;
    case TerminalInput::Kind::Press:
    case TerminalInput::Kind::Release:
        *out << (input.kind == TerminalInput::Kind::Press ? "Press(" : "Release(")
             << static_cast<int>(input.button) << "," << input.column << "," << input.row << ")";
        break;
    case TerminalInput::Kind::Motion:
        *out << "Motion(" << input.buttonHeld << "," << input.column << "," << input.row << ")";
        break;
    case TerminalInput::Kind::Wheel:
        *out << "Wheel(" << input.notches << ")";
        break;
    }
}

} // namespace velmora

using namespace velmora;

namespace {

using Kind = TerminalInput::Kind;

TerminalInput key(MenuKey k) {
    return {Kind::Key, k};
}

TerminalInput character(char32_t c) {
    return {Kind::Character, MenuKey::Cancel, c};
}

TerminalInput pointer(Kind kind, int column, int row, MenuButton button = MenuButton::Left,
                      bool buttonHeld = false) {
    return {kind, MenuKey::Cancel, 0, button, buttonHeld, column, row};
}

TerminalInput press(int column, int row, MenuButton button = MenuButton::Left) {
    return pointer(Kind::Press, column, row, button);
}

TerminalInput release(int column, int row, MenuButton button = MenuButton::Left) {
    return pointer(Kind::Release, column, row, button);
}

TerminalInput motion(int column, int row, bool buttonHeld) {
    return pointer(Kind::Motion, column, row, MenuButton::Left, buttonHeld);
}

TerminalInput wheel(int notches) {
    return {Kind::Wheel, MenuKey::Cancel, 0, MenuButton::Left, false, 0, 0, notches};
}

// An X10 report: each byte 32 more than the button code, 33 more than the cell.
std::string x10(int code, int column, int row) {
    return std::string("\x1b[M") + char(32 + code) + char(33 + column) + char(33 + row);
}

struct Bytes {
    const char* what;
    std::string bytes;
    std::vector<TerminalInput> inputs;
};

void PrintTo(const Bytes& b, std::ostream* out) {
    *out << b.what;
}

class Decoding : public testing::TestWithParam<Bytes> {};

TEST_P(Decoding, GivesTheInputsOfTheBytes) {
    EXPECT_EQ(decodeTerminalInput(GetParam().bytes), GetParam().inputs);
}

const std::vector<Bytes> KEYS = {
    {"CSI Up", "\x1b[A", {key(MenuKey::Up)}},
    {"CSI Down", "\x1b[B", {key(MenuKey::Down)}},
    {"SS3 Up", "\x1bOA", {key(MenuKey::Up)}},
    {"SS3 Down", "\x1bOB", {key(MenuKey::Down)}},
    {"Ctrl+Up", "\x1b[1;5A", {key(MenuKey::Up)}},
    {"CSI Home", "\x1b[H", {key(MenuKey::Home)}},
    {"CSI End", "\x1b[F", {key(MenuKey::End)}},
    {"SS3 Home", "\x1bOH", {key(MenuKey::Home)}},
    {"SS3 End", "\x1bOF", {key(MenuKey::End)}},
    {"vt Home", "\x1b[1~", {key(MenuKey::Home)}},
    {"rxvt Home", "\x1b[7~", {key(MenuKey::Home)}},
    {"vt End", "\x1b[4~", {key(MenuKey::End)}},
    {"rxvt End", "\x1b[8~", {key(MenuKey::End)}},
    {"PageUp", "\x1b[5~", {key(MenuKey::PageUp)}},
    {"PageDown", "\x1b[6~", {key(MenuKey::PageDown)}},
    {"keypad Enter", "\x1bOM", {key(MenuKey::Enter)}},
    {"Return", "\r", {key(MenuKey::Enter)}},
    {"line feed", "\n", {key(MenuKey::Enter)}},
    {"Ctrl-C", "\x03", {key(MenuKey::Cancel)}},
    {"Escape", "\x1b", {key(MenuKey::Cancel)}},
    {"Alt+x", "\x1bx", {key(MenuKey::Cancel), character(U'x')}},
    {"two escapes", "\x1b\x1b", {key(MenuKey::Cancel), key(MenuKey::Cancel)}},
    {"Right, Insert, F5, Delete", "\x1b[C\x1b[2~\x1b[15~\x1b[3~", {}},
    {"keys in a row",
     "\x1b[Bq\r\x1bOA",
     {key(MenuKey::Down), character(U'q'), key(MenuKey::Enter), key(MenuKey::Up)}},
};

const std::vector<Bytes> CHARACTERS = {
    {"ASCII", "a", {character(U'a')}},
    {"two bytes", "\xC3\xA9", {character(U'é')}},
    {"three bytes", "\xE6\x97\xA5", {character(U'日')}},
    {"four bytes", "\xF0\x9F\x98\x80", {character(U'\U0001F600')}},
    {"other controls", "\x01\t\x7f\x08\x1a", {}},
    {"between controls", "\x01z\x7f", {character(U'z')}},
};

const std::vector<Bytes> MOUSE = {
    {"SGR left press", "\x1b[<0;5;3M", {press(4, 2)}},
    {"SGR left release", "\x1b[<0;5;3m", {release(4, 2)}},
    {"SGR middle and right",
     "\x1b[<1;5;3M\x1b[<1;5;3m\x1b[<2;6;3M\x1b[<2;6;3m",
     {press(4, 2, MenuButton::Middle), release(4, 2, MenuButton::Middle),
      press(5, 2, MenuButton::Right), release(5, 2, MenuButton::Right)}},
    {"SGR press with Shift, Alt, Ctrl", "\x1b[<28;1;1M", {press(0, 0)}},
    {"SGR drag with the left button", "\x1b[<32;6;3M", {motion(5, 2, true)}},
    {"SGR drag with the right button", "\x1b[<34;6;3M", {motion(5, 2, true)}},
    {"SGR motion without a button", "\x1b[<35;6;3M", {motion(5, 2, false)}},
    {"SGR wheel up", "\x1b[<64;5;3M", {wheel(-1)}},
    {"SGR wheel down", "\x1b[<65;5;3M", {wheel(1)}},
    {"SGR wheel with Ctrl", "\x1b[<81;5;3M", {wheel(1)}},
    {"SGR wheel release", "\x1b[<64;5;3m", {}},
    {"SGR wheel sideways", "\x1b[<66;5;3M\x1b[<67;5;3M", {}},
    {"SGR buttons 8 and 9", "\x1b[<128;5;3M\x1b[<129;5;3m", {}},
    {"SGR largest cell", "\x1b[<0;2147483647;1M", {press(2147483646, 0)}},
    {"X10 left click", x10(0, 4, 2) + x10(3, 4, 2), {press(4, 2), release(4, 2)}},
    {"X10 drag, released elsewhere",
     x10(0, 4, 2) + x10(32, 5, 3) + x10(3, 6, 3),
     {press(4, 2), motion(5, 3, true), release(6, 3)}},
    {"X10 right click",
     x10(2, 4, 2) + x10(3, 4, 2),
     {press(4, 2, MenuButton::Right), release(4, 2, MenuButton::Right)}},
    // A release names no button: with none pressed, or two held, it is no one's.
    {"X10 release alone", x10(3, 0, 0), {}},
    {"X10 release after two presses",
     x10(0, 1, 1) + x10(2, 1, 1) + x10(3, 1, 1) + x10(3, 1, 1),
     {press(1, 1), press(1, 1, MenuButton::Right)}},
    {"X10 wheel", x10(64, 0, 0) + x10(65, 0, 0), {wheel(-1), wheel(1)}},
};

// Cut short (nothing more came) or not what a terminal sends.
const std::vector<Bytes> MALFORMED = {
    {"cut CSI", "\x1b[", {}},
    {"cut CSI parameters", "\x1b[1;5", {}},
    {"cut SS3", "\x1bO", {}},
    {"cut SGR report", "\x1b[<0;5", {}},
    {"cut X10 report", "\x1b[M !", {}},
    {"key then cut CSI", "\x1b[A\x1b[", {key(MenuKey::Up)}},
    {"cut two-byte character", "\xC3", {character(0xFFFD)}},
    {"cut three-byte character", "\xE6\x97", {character(0xFFFD)}},
    {"cut four-byte character", "\xF0\x9F\x98", {character(0xFFFD)}},
    {"stray continuation byte", "\x80z", {character(0xFFFD), character(U'z')}},
    {"bad continuation byte", "\xC3(", {character(0xFFFD)}},
    {"overlong slash", "\xC0\xAF", {character(0xFFFD)}},
    {"encoded surrogate", "\xED\xA0\x80", {character(0xFFFD)}},
    {"beyond U+10FFFF", "\xF4\x90\x80\x80", {character(0xFFFD)}},
    {"byte 0xFF", "\xFF\x01\x02\x03", {character(0xFFFD)}},
    // "[" ends the first sequence, which means nothing; "A" is typed
    {"escape inside CSI", "\x1b[\x1b[A", {character(U'A')}},
    {"SGR column beyond int", "\x1b[<0;2147483648;1M", {}},
    {"SGR row beyond long", "\x1b[<0;1;99999999999999999999999M", {}},
    {"SGR button beyond int", "\x1b[<4294967296;1;1M", {}},
    {"SGR without cell", "\x1b[<0M", {press(0, 0)}},
    {"SGR with a NUL", std::string("\x1b[<0\0;9;9M", 10), {press(0, 0)}},
    {"SGR negative button", "\x1b[<-1;5;3M", {}},
    {"X10 button byte below 32", std::string("\x1b[M\x01!!"), {}},
    {"unknown final bytes", "\x1b[99z\x1b[~\x1bOz", {}},
};

INSTANTIATE_TEST_SUITE_P(Keys, Decoding, testing::ValuesIn(KEYS));
INSTANTIATE_TEST_SUITE_P(Characters, Decoding, testing::ValuesIn(CHARACTERS));
INSTANTIATE_TEST_SUITE_P(Mouse, Decoding, testing::ValuesIn(MOUSE));
INSTANTIATE_TEST_SUITE_P(Malformed, Decoding, testing::ValuesIn(MALFORMED));

// Every table's bytes one after the other, fed a byte at a time: an input cut
// by the end of a piece waits for the rest, so the pieces decode as the whole.
TEST(DecodingInPieces, WaitsForTheRestOfACutInput) {
    std::string all;
    std::vector<TerminalInput> expected;
    for (const auto* table : {&KEYS, &CHARACTERS, &MOUSE}) {
        for (const Bytes& b : *table) {
            if (b.bytes.size() == 1 && b.bytes[0] == '\x1b')
                continue; // alone only when nothing follows
            if (b.bytes == "\x1b\x1b")
                continue;
            all += b.bytes;
            expected.insert(expected.end(), b.inputs.begin(), b.inputs.end());
        }
    }
    TerminalInputDecoder decoder;
    std::vector<TerminalInput> inputs;
    for (const char byte : all) {
        decoder.feed(std::string_view(&byte, 1));
        while (const auto input = decoder.next())
            inputs.push_back(*input);
    }
    EXPECT_FALSE(decoder.waiting());
    EXPECT_EQ(inputs, expected);
}

TEST(DecodingInPieces, AnEscapeWaitsThenIsTheEscapeKeyWhenNothingFollows) {
    TerminalInputDecoder decoder;
    decoder.feed("\x1b");
    EXPECT_EQ(decoder.next(), std::nullopt);
    EXPECT_TRUE(decoder.waiting());
    decoder.feed("[");
    EXPECT_EQ(decoder.next(), std::nullopt);
    decoder.feed("6~");
    EXPECT_EQ(decoder.next(), key(MenuKey::PageDown));
    decoder.feed("\x1b");
    EXPECT_EQ(decoder.flush(), key(MenuKey::Cancel));
    EXPECT_FALSE(decoder.waiting());
    decoder.feed("\x1b[<0;3");
    EXPECT_EQ(decoder.flush(), std::nullopt);
    EXPECT_FALSE(decoder.waiting());
}

} // namespace
