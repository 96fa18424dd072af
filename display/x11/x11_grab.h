// The menu's pointer and keyboard grabs, sent as Xlib sends them but with
// their replies caught, so that a try at both costs no round trip of its
// own: the first goes out with the questions asked of the server before the
// menu is made, a retry with each other.
#pragma once

#include "display/x11/x11_handles.h"
#include "display/x11/x11_wire.h"

#include <optional>

namespace velmora::x11 {

// The pointer events the menu's grabs ask for.
constexpr unsigned int POINTER_EVENTS =
    ButtonPressMask | ButtonReleaseMask | PointerMotionMask | EnterWindowMask | LeaveWindowMask;

// A try at the grabs not yet held, its replies yet to come.
struct PendingGrab {
    std::optional<PendingReply> pointer;
    std::optional<PendingReply> keyboard;
};

// Queues a grab on `window` of each of the pointer and the keyboard that
// `grab` does not hold yet.
void queueGrabs(Wire& wire, Window window, const InputGrab& grab, PendingGrab& pending);

// Moves into `grab` what the queued tries won, waiting for their replies
// unless a later request's round trip brought them.
void takeGrabs(Wire& wire, PendingGrab& pending, InputGrab& grab);

} // namespace velmora::x11
