#include "platform/posix/messages.h"

#include "platform/file_descriptor.h"
#include "platform/posix/held_pipe_signal.h"
#include "text/text_codec.h"

#include <unistd.h>

namespace velmora {

std::string terminalSafe(std::u16string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0, units = 0; i < text.size(); i += units) {
        const char32_t c = codePointAt(text, i, units);
        if (c >= 0xDC80 && c <= 0xDCFF) {
            const unsigned int byte = static_cast<unsigned int>(c - 0xDC00);
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            out += '?';
        } else {
            appendUtf8CodePoint(out, isSurrogate(c) ? 0xFFFD : c);
        }
    }
    return out;
}

void reportProblem(std::string_view line) {
    std::string text = "velmora: ";
    text += line;
    text += '\n';
    // A standard error that is a pipe nobody reads any more would end the
    // launcher by SIGPIPE.
    const HeldPipeSignal held;
    static_cast<void>(writeAll(STDERR_FILENO, text.data(), text.size()));
}

} // namespace velmora
