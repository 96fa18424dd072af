#include "platform/posix/messages.h"

#include "platform/file_descriptor.h"
#include "text/text_codec.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>
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
    // launcher by SIGPIPE. The signal is held for the write, and one that
    // the write raised is taken back before it is let go; its disposition
    // is never changed, so nothing of this reaches a started program.
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t previous;
    if (::pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous) != 0)
        return;
    sigset_t pending;
    sigemptyset(&pending);
    const bool pendingBefore = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    if (!writeAll(STDERR_FILENO, text.data(), text.size()) && errno == EPIPE && !pendingBefore) {
        const struct timespec now {};
        while (::sigtimedwait(&pipeOnly, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace velmora
