#include "display/x11/x11_pending_reply.h"

namespace velmora::x11 {

PendingReply::PendingReply(Display* display) : display_(display), sequence_(display->request) {
    handler_.next = display->async_handlers;
    handler_.handler = onReply;
    handler_.data = reinterpret_cast<XPointer>(this);
    display->async_handlers = &handler_;
}

PendingReply::~PendingReply() {
    LockDisplay(display_);
    if (display_->async_handlers == &handler_)
        display_->async_handlers = handler_.next;
    else
        _XDeqAsyncHandler(display_, &handler_);
    UnlockDisplay(display_);
}

Bool PendingReply::onReply(Display* display, xReply* reply, char* buffer, int length,
                           XPointer data) {
    auto* self = reinterpret_cast<PendingReply*>(data);
    if (display->last_request_read != self->sequence_ || reply->generic.type == X_Error)
        return False;
    // Xlib over XCB hands over the whole reply; a length that disagrees
    // with the header's is taken as no answer.
    const std::size_t whole = sizeof(xReply) + std::size_t{reply->generic.length} * 4;
    if (length < 0 || static_cast<std::size_t>(length) != whole)
        return True;
    self->bytes_.assign(buffer, buffer + length);
    return True;
}

void afterRequest(Display* display) {
    if (display->synchandler != nullptr)
        display->synchandler(display);
}

} // namespace velmora::x11
