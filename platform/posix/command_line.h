// The launcher's arguments as one command-line text, and back.
//
// On Linux a program receives a vector of byte strings, while the launcher
// hands one text on to the program it starts. The text is made and split by
// one convention, that of the POSIX shell's quoting (but no shell ever reads
// it, and nothing in it is expanded):
//
//   - arguments are separated by one blank;
//   - an argument made only of the characters A-Z a-z 0-9 and _ @ % + = : , . / -
//     is written as it is;
//   - any other argument, the empty one included, is written in single
//     quotes, in which every character stands for itself; a single quote
//     inside it is written '\'' (close, an escaped quote, open again).
//
// Splitting accepts that form and the rest of the shell's quoting, so that a
// text written by hand reads as a shell user expects: blanks, tabs and line
// feeds separate arguments; '...' keeps everything literally; "..." keeps
// everything but a backslash before \ " $ ` or a line feed; outside quotes a
// backslash takes the next character literally (a backslash before a line
// feed joins the lines). Adjacent quoted and bare pieces form one argument.
//
// Bytes that are not UTF-8 survive the round trip: each such byte becomes the
// unpaired surrogate U+DC80 + (byte - 0x80) in the text and is turned back
// into the same byte when the text is split. So the started program receives
// the launcher's argument vector byte for byte.
#pragma once

#include "text/text_codec.h"

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// argv[1..] of the launcher as the command-line text.
std::u16string joinCommandLine(const std::vector<std::string>& arguments);

// The arguments that a command-line text stands for. An unterminated quote
// ends at the end of the text.
std::vector<std::string> splitCommandLine(std::u16string_view commandLine);

} // namespace velmora
