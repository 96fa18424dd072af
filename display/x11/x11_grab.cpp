#include "display/x11/x11_grab.h"

namespace velmora::x11 {

namespace {

static_assert(sizeof(xGrabPointerReq) == sz_xGrabPointerReq);
static_assert(sizeof(xGrabKeyboardReq) == sz_xGrabKeyboardReq);

void queuePointerGrab(Wire& wire, Window window, std::optional<PendingReply>& pending) {
    queueRequest<xGrabPointerReq>(wire, X_GrabPointer, pending,
                                  [&](xGrabPointerReq& request, RequestTail&) {
                                      request.grabWindow = static_cast<CARD32>(window);
                                      request.ownerEvents = xFalse;
                                      request.eventMask = static_cast<CARD16>(POINTER_EVENTS);
                                      request.pointerMode = GrabModeAsync;
                                      request.keyboardMode = GrabModeAsync;
                                      request.confineTo = None;
                                      request.cursor = None;
                                      request.time = CurrentTime;
                                  });
}

void queueKeyboardGrab(Wire& wire, Window window, std::optional<PendingReply>& pending) {
    queueRequest<xGrabKeyboardReq>(wire, X_GrabKeyboard, pending,
                                   [&](xGrabKeyboardReq& request, RequestTail&) {
                                       request.grabWindow = static_cast<CARD32>(window);
                                       request.ownerEvents = xFalse;
                                       request.pointerMode = GrabModeAsync;
                                       request.keyboardMode = GrabModeAsync;
                                       request.time = CurrentTime;
                                   });
}

// Whether a queued grab took (both replies carry the status in the same
// place); false when no reply came, so that the grab is asked again.
bool granted(const std::optional<PendingReply>& pending) {
    static_assert(sizeof(xGrabPointerReply) == sizeof(xGrabKeyboardReply));
    xGrabKeyboardReply reply{};
    return pending && pending->header(reply) && reply.status == GrabSuccess;
}

} // namespace

void queueGrabs(Wire& wire, Window window, const InputGrab& grab, PendingGrab& pending) {
    if (!grab.pointer)
        queuePointerGrab(wire, window, pending.pointer);
    if (!grab.keyboard)
        queueKeyboardGrab(wire, window, pending.keyboard);
}

void takeGrabs(Wire& wire, PendingGrab& pending, InputGrab& grab) {
    if (granted(pending.pointer))
        grab.pointer = PointerGrab(&wire);
    if (granted(pending.keyboard))
        grab.keyboard = KeyboardGrab(&wire);
    pending.pointer.reset();
    pending.keyboard.reset();
}

} // namespace velmora::x11
