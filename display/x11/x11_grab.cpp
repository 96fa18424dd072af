#include "display/x11/x11_grab.h"

namespace velmora::x11 {

namespace {

static_assert(sizeof(xGrabPointerReq) == sz_xGrabPointerReq);
static_assert(sizeof(xGrabKeyboardReq) == sz_xGrabKeyboardReq);

void queuePointerGrab(Display* display, Window root, std::optional<PendingReply>& pending) {
    queueRequest<xGrabPointerReq>(display, X_GrabPointer, pending, [&](xGrabPointerReq& request) {
        request.grabWindow = static_cast<CARD32>(root);
        request.ownerEvents = xFalse;
        request.eventMask = static_cast<CARD16>(POINTER_EVENTS);
        request.pointerMode = GrabModeAsync;
        request.keyboardMode = GrabModeAsync;
        request.confineTo = None;
        request.cursor = None;
        request.time = CurrentTime;
    });
}

void queueKeyboardGrab(Display* display, Window root, std::optional<PendingReply>& pending) {
    queueRequest<xGrabKeyboardReq>(display, X_GrabKeyboard, pending,
                                   [&](xGrabKeyboardReq& request) {
                                       request.grabWindow = static_cast<CARD32>(root);
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

void queueGrabs(Display* display, Window root, const InputGrab& grab, PendingGrab& pending) {
    if (!grab.pointer)
        queuePointerGrab(display, root, pending.pointer);
    if (!grab.keyboard)
        queueKeyboardGrab(display, root, pending.keyboard);
}

void takeGrabs(Display* display, PendingGrab& pending, InputGrab& grab) {
    const auto waiting = [](const std::optional<PendingReply>& reply) {
        return reply && !reply->answered();
    };
    if (waiting(pending.pointer) || waiting(pending.keyboard))
        XSync(display, False);
    if (granted(pending.pointer))
        grab.pointer = PointerGrab(display);
    if (granted(pending.keyboard))
        grab.keyboard = KeyboardGrab(display);
    pending.pointer.reset();
    pending.keyboard.reset();
}

} // namespace velmora::x11
