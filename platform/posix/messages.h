// The launcher's few lines on standard error, made safe for a terminal.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// A text as it may be written to a terminal: control characters (C0, DEL
// and C1, which could steer the terminal) shown as "?", bytes that are not
// UTF-8 (carried as U+DC80 + byte) shown as "\xNN", other lone surrogates as
// U+FFFD.
std::string terminalSafe(std::u16string_view text);

// Writes "velmora: " + `line` and a line feed to standard error at once.
void reportProblem(std::string_view line);

} // namespace velmora
