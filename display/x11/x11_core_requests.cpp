#include "display/x11/x11_core_requests.h"

namespace velmora::x11 {

namespace {

static_assert(sizeof(xCreateWindowReq) == sz_xCreateWindowReq);
static_assert(sizeof(xChangePropertyReq) == sz_xChangePropertyReq);
static_assert(sizeof(xConfigureWindowReq) == sz_xConfigureWindowReq);
static_assert(sizeof(xResourceReq) == sz_xResourceReq);
static_assert(sizeof(xCreateGCReq) == sz_xCreateGCReq);
static_assert(sizeof(xChangeGCReq) == sz_xChangeGCReq);
static_assert(sizeof(xPolyFillRectangleReq) == sz_xPolyFillRectangleReq);
static_assert(sizeof(xFillPolyReq) == sz_xFillPolyReq);
static_assert(sizeof(xAllocColorReq) == sz_xAllocColorReq);
static_assert(sizeof(xFreeColorsReq) == sz_xFreeColorsReq);

// A request that names one resource (or a time) alone.
void sendResource(Wire& wire, int opcode, XID id) {
    sendRequest<xResourceReq>(wire, opcode, [&](xResourceReq& request, RequestTail&) {
        request.id = static_cast<CARD32>(id);
    });
}

void appendValue(RequestTail& tail, unsigned long value) {
    const auto word = static_cast<CARD32>(value);
    tail.append(&word, sizeof word);
}

} // namespace

Window createWindow(Wire& wire, const MenuRect& frame, const WindowAttributes& attributes) {
    const Window window = wire.newId();
    sendRequest<xCreateWindowReq>(wire, X_CreateWindow,
                                  [&](xCreateWindowReq& request, RequestTail& tail) {
                                      request.depth = 0; // the parent's
                                      request.wid = static_cast<CARD32>(window);
                                      request.parent = static_cast<CARD32>(wire.screen().root);
                                      request.x = static_cast<INT16>(frame.left);
                                      request.y = static_cast<INT16>(frame.top);
                                      request.width = static_cast<CARD16>(frame.width);
                                      request.height = static_cast<CARD16>(frame.height);
                                      request.borderWidth = 0;
                                      request.c_class = InputOutput;
                                      request.visual = CopyFromParent;
                                      // The values follow in the order of their mask bits.
                                      request.mask = CWBackPixel | CWBorderPixel |
                                                     CWOverrideRedirect | CWSaveUnder | CWEventMask;
                                      appendValue(tail, attributes.backgroundPixel);
                                      appendValue(tail, attributes.borderPixel);
                                      appendValue(tail, attributes.overrideRedirect ? 1 : 0);
                                      appendValue(tail, attributes.saveUnder ? 1 : 0);
                                      appendValue(tail, attributes.eventMask);
                                  });
    return window;
}

void destroyWindow(Wire& wire, Window window) {
    sendResource(wire, X_DestroyWindow, window);
}

void changeProperty(Wire& wire, Window window, Atom property, Atom type, int format,
                    const void* data, std::size_t count) {
    sendRequest<xChangePropertyReq>(
        wire, X_ChangeProperty, [&](xChangePropertyReq& request, RequestTail& tail) {
            request.mode = PropModeReplace;
            request.window = static_cast<CARD32>(window);
            request.property = static_cast<CARD32>(property);
            request.type = static_cast<CARD32>(type);
            request.format = static_cast<CARD8>(format);
            request.nUnits = static_cast<CARD32>(count);
            tail.append(data, count * static_cast<std::size_t>(format / 8));
        });
}

void mapRaised(Wire& wire, Window window) {
    sendRequest<xConfigureWindowReq>(wire, X_ConfigureWindow,
                                     [&](xConfigureWindowReq& request, RequestTail& tail) {
                                         request.window = static_cast<CARD32>(window);
                                         request.mask = CWStackMode;
                                         appendValue(tail, Above);
                                     });
    sendResource(wire, X_MapWindow, window);
}

GContext createGc(Wire& wire, Drawable drawable) {
    const GContext gc = wire.newId();
    sendRequest<xCreateGCReq>(wire, X_CreateGC, [&](xCreateGCReq& request, RequestTail&) {
        request.gc = static_cast<CARD32>(gc);
        request.drawable = static_cast<CARD32>(drawable);
        request.mask = 0;
    });
    return gc;
}

void freeGc(Wire& wire, GContext gc) {
    sendResource(wire, X_FreeGC, gc);
}

void setForeground(Wire& wire, GContext gc, unsigned long pixel) {
    sendRequest<xChangeGCReq>(wire, X_ChangeGC, [&](xChangeGCReq& request, RequestTail& tail) {
        request.gc = static_cast<CARD32>(gc);
        request.mask = GCForeground;
        appendValue(tail, pixel);
    });
}

void polyFillRectangle(Wire& wire, Drawable drawable, GContext gc, const MenuRect& rect) {
    // Coordinates are 16 bits on the wire, as Xlib sends them.
    const xRectangle rectangle{static_cast<INT16>(rect.left), static_cast<INT16>(rect.top),
                               static_cast<CARD16>(rect.width), static_cast<CARD16>(rect.height)};
    sendRequest<xPolyFillRectangleReq>(wire, X_PolyFillRectangle,
                                       [&](xPolyFillRectangleReq& request, RequestTail& tail) {
                                           request.drawable = static_cast<CARD32>(drawable);
                                           request.gc = static_cast<CARD32>(gc);
                                           tail.append(&rectangle, sizeof rectangle);
                                       });
}

void fillPoly(Wire& wire, Drawable drawable, GContext gc, const xPoint* points, std::size_t count) {
    sendRequest<xFillPolyReq>(wire, X_FillPoly, [&](xFillPolyReq& request, RequestTail& tail) {
        request.drawable = static_cast<CARD32>(drawable);
        request.gc = static_cast<CARD32>(gc);
        request.shape = Convex;
        request.coordMode = CoordModeOrigin;
        tail.append(points, count * sizeof(xPoint));
    });
}

std::optional<unsigned long> allocColor(Wire& wire, Colormap colormap, unsigned short red,
                                        unsigned short green, unsigned short blue) {
    std::optional<PendingReply> pending;
    queueRequest<xAllocColorReq>(wire, X_AllocColor, pending,
                                 [&](xAllocColorReq& request, RequestTail&) {
                                     request.cmap = static_cast<CARD32>(colormap);
                                     request.red = red;
                                     request.green = green;
                                     request.blue = blue;
                                 });
    xAllocColorReply reply{};
    if (!pending->header(reply))
        return std::nullopt;
    return reply.pixel;
}

void freeColor(Wire& wire, Colormap colormap, unsigned long pixel) {
    sendRequest<xFreeColorsReq>(wire, X_FreeColors,
                                [&](xFreeColorsReq& request, RequestTail& tail) {
                                    request.cmap = static_cast<CARD32>(colormap);
                                    request.planeMask = 0;
                                    appendValue(tail, pixel);
                                });
}

void ungrabPointer(Wire& wire) {
    sendResource(wire, X_UngrabPointer, CurrentTime);
}

void ungrabKeyboard(Wire& wire) {
    sendResource(wire, X_UngrabKeyboard, CurrentTime);
}

} // namespace velmora::x11
