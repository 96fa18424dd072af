// A request whose reply is read in the round trip of a later one: Xlib hands
// every reply it is not waiting for to the display's asynchronous handlers,
// which is how its own XInternAtoms and XGetWindowAttributes send several
// requests for one wait. Queries the menu needs before it appears go out
// together this way, instead of one round trip to the server each.
#pragma once

#include "display/x11/x11_library.h"

#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

namespace velmora::x11 {

class PendingReply {
public:
    // Catches the reply to the request queued last on `display` (with the
    // display locked, right after the request).
    explicit PendingReply(Display* display);
    ~PendingReply();
    PendingReply(const PendingReply&) = delete;
    PendingReply& operator=(const PendingReply&) = delete;

    // Once a later request was waited on: whether the reply came (an error
    // came instead, and went to the error handler, or the request was not
    // answered at all), and its bytes from the header on.
    bool answered() const { return !bytes_.empty(); }
    const std::vector<char>& bytes() const { return bytes_; }
    // The reply's fixed part; false when none came.
    template <typename Reply> bool header(Reply& reply) const {
        static_assert(std::is_trivially_copyable_v<Reply>);
        if (bytes_.size() < sizeof(Reply))
            return false;
        std::memcpy(&reply, bytes_.data(), sizeof(Reply));
        return true;
    }

private:
    static Bool onReply(Display* display, xReply* reply, char* buffer, int length, XPointer data);

    Display* display_;
    unsigned long sequence_;
    _XAsyncHandler handler_{};
    std::vector<char> bytes_;
};

// What Xlib's SyncHandle does after a request.
void afterRequest(Display* display);

// Sends a request of `size` bytes to `opcode` through Xlib's request
// interface: `fill` sets its fields and sends what follows it, with the
// display locked.
template <typename Request, typename Fill>
void sendRequest(Display* display, int opcode, Fill fill, std::size_t size = sizeof(Request)) {
    LockDisplay(display);
    fill(*static_cast<Request*>(_XGetRequest(display, static_cast<CARD8>(opcode), size)));
    UnlockDisplay(display);
    afterRequest(display);
}

// Queues such a request whose reply `pending` catches.
template <typename Request, typename Fill>
void queueRequest(Display* display, int opcode, std::optional<PendingReply>& pending, Fill fill,
                  std::size_t size = sizeof(Request)) {
    sendRequest<Request>(
        display, opcode,
        [&](Request& request) {
            pending.emplace(display);
            fill(request);
        },
        size);
}

} // namespace velmora::x11
