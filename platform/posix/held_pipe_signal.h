// SIGPIPE held back from the calling thread for a while: a write to a pipe
// or a socket whose reader is gone (a standard error nobody reads, an X
// server that ended) then fails with EPIPE instead of ending the launcher
// by the signal. One that the writes raised is taken back before the
// signal is let go; its disposition is never changed, so nothing of this
// reaches a started program.
#pragma once

#include <cerrno>
#include <pthread.h>
#include <signal.h>
#include <time.h>

namespace velmora {

class HeldPipeSignal {
public:
    HeldPipeSignal() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        held_ = ::pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_) == 0;
        sigset_t pending;
        sigemptyset(&pending);
        pendingBefore_ =
            held_ && ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    }
    ~HeldPipeSignal() {
        if (!held_)
            return;
        if (!pendingBefore_) {
            const timespec now{};
            while (::sigtimedwait(&pipeOnly_, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    HeldPipeSignal(const HeldPipeSignal&) = delete;
    HeldPipeSignal& operator=(const HeldPipeSignal&) = delete;

private:
    sigset_t pipeOnly_;
    sigset_t previous_;
    bool held_ = false;
    bool pendingBefore_ = false;
};

} // namespace velmora
