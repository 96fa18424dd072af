#include "display/x11/x11_screen.h"

#include <X11/Xatom.h>
#include <X11/extensions/XKBproto.h>
#include <X11/extensions/randrproto.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <type_traits>

namespace velmora::x11 {

namespace {

static_assert(sizeof(xQueryExtensionReq) == sz_xQueryExtensionReq);
static_assert(sizeof(xInternAtomReq) == sz_xInternAtomReq);
static_assert(sizeof(xRRGetMonitorsReq) == sz_xRRGetMonitorsReq);
static_assert(sizeof(xkbUseExtensionReq) == sz_xkbUseExtensionReq);
static_assert(sizeof(xGetPropertyReq) == sz_xGetPropertyReq);

// Queues a core request that carries a name, QueryExtension or InternAtom,
// its reply caught in `pending`: the answer comes with the next request that
// is waited on.
template <typename Request>
void queueNamed(Wire& wire, CARD8 opcode, const char* name, std::optional<PendingReply>& pending) {
    const std::size_t length = std::strlen(name);
    queueRequest<Request>(wire, opcode, pending, [&](Request& request, RequestTail& tail) {
        if constexpr (std::is_same_v<Request, xInternAtomReq>)
            request.onlyIfExists = xFalse;
        request.nbytes = static_cast<CARD16>(length);
        tail.append(name, length);
    });
}

// The atom of a caught InternAtom reply; None when none came.
Atom atomOf(const std::optional<PendingReply>& pending) {
    xInternAtomReply reply{};
    return pending && pending->header(reply) ? reply.atom : None;
}

// An extension's major opcode from a caught QueryExtension reply; 0 when
// absent.
int extensionOpcode(const std::optional<PendingReply>& pending) {
    xQueryExtensionReply reply{};
    if (!pending || !pending->header(reply) || !reply.present)
        return 0;
    return reply.major_opcode;
}

// Queues RandR's GetMonitors request as the RandR library would send it:
// loading libXrandr and libXext for this one request cost more than the
// request itself, and their set-up took two more round trips. A server
// without RandR 1.5 refuses the request with an error, which is absorbed.
// (Asking for the version first would cost a round trip before the menu can
// appear.)
void queueGetMonitors(Wire& wire, int opcode, Window root, std::optional<PendingReply>& pending) {
    queueRequest<xRRGetMonitorsReq>(wire, opcode, pending,
                                    [&](xRRGetMonitorsReq& request, RequestTail&) {
                                        request.randrReqType = X_RRGetMonitors;
                                        request.window = static_cast<CARD32>(root);
                                        request.get_active = xTrue;
                                        request.pad = 0;
                                        request.pad2 = 0;
                                    });
}

// Queues XKB's UseExtension, as XkbUseExtension sends it: from then on the
// server reports keys to the launcher with XKB's state (the group of a
// third or fourth layout included), also those that come before Xlib's own
// set-up of the extension, which waits until the menu is on screen.
void queueUseXkb(Wire& wire, int opcode, std::optional<PendingReply>& pending) {
    queueRequest<xkbUseExtensionReq>(wire, opcode, pending,
                                     [](xkbUseExtensionReq& request, RequestTail&) {
                                         request.xkbReqType = X_kbUseExtension;
                                         request.wantedMajor = XkbMajorVersion;
                                         request.wantedMinor = XkbMinorVersion;
                                     });
}

struct Opcodes {
    int randr = 0;
    int render = 0;
    int xkb = 0;
};

// Queues the root window's RESOURCE_MANAGER property, as Xlib's open reads
// it.
void queueResources(Wire& wire, std::optional<PendingReply>& pending) {
    queueRequest<xGetPropertyReq>(wire, X_GetProperty, pending,
                                  [&](xGetPropertyReq& request, RequestTail&) {
                                      request.c_delete = xFalse;
                                      request.window = static_cast<CARD32>(wire.screen().root);
                                      request.property = XA_RESOURCE_MANAGER;
                                      request.type = XA_STRING;
                                      request.longOffset = 0;
                                      request.longLength = 100000000; // as Xlib asks
                                  });
}

// The text of a caught GetProperty reply of 8-bit items; empty when none.
std::string propertyText(const std::optional<PendingReply>& pending) {
    xGetPropertyReply reply{};
    if (!pending || !pending->header(reply) || reply.format != 8)
        return {};
    const std::vector<char>& bytes = pending->bytes();
    const std::size_t size = std::min<std::size_t>(reply.nItems, bytes.size() - sizeof reply);
    return std::string(bytes.data() + sizeof reply, size);
}

// The extensions' major opcodes: one round trip.
Opcodes askOpcodes(Wire& wire, std::optional<PendingReply>& resources) {
    queueResources(wire, resources);
    std::optional<PendingReply> randr;
    std::optional<PendingReply> render;
    std::optional<PendingReply> xkb;
    queueNamed<xQueryExtensionReq>(wire, X_QueryExtension, RANDR_NAME, randr);
    queueNamed<xQueryExtensionReq>(wire, X_QueryExtension, RENDER_NAME, render);
    queueNamed<xQueryExtensionReq>(wire, X_QueryExtension, XkbName, xkb);
    return Opcodes{extensionOpcode(randr), extensionOpcode(render), extensionOpcode(xkb)};
}

// The primary monitor of a GetMonitors reply, else `root`.
ScreenArea primaryMonitor(const std::optional<PendingReply>& pending, const ScreenArea& root) {
    xRRGetMonitorsReply reply{};
    if (!pending || !pending->header(reply))
        return root;
    static_assert(sizeof(xRRGetMonitorsReply) == sz_xRRGetMonitorsReply);
    static_assert(sizeof(xRRMonitorInfo) == sz_xRRMonitorInfo);
    const std::vector<char>& bytes = pending->bytes();
    std::size_t at = sizeof reply;
    for (CARD32 i = 0; i < reply.nmonitors && at + sizeof(xRRMonitorInfo) <= bytes.size(); ++i) {
        xRRMonitorInfo monitor{};
        std::memcpy(&monitor, &bytes[at], sizeof monitor);
        if (monitor.primary && monitor.width > 0 && monitor.height > 0)
            return ScreenArea{monitor.x, monitor.y, monitor.width, monitor.height};
        at += sizeof monitor + std::size_t{monitor.noutput} * sizeof(CARD32);
    }
    return root;
}

} // namespace

ServerFacts askServer(Wire& wire, PendingGrab* grabs) {
    const WireScreen& screen = wire.screen();
    std::optional<PendingReply> resources;
    const Opcodes opcodes = askOpcodes(wire, resources);
    // The second round trip: the monitors and the window type's atoms, XKB
    // taken into use before the grabs, with RENDER's version and formats.
    std::optional<PendingReply> monitors;
    if (opcodes.randr != 0)
        queueGetMonitors(wire, opcodes.randr, screen.root, monitors);
    std::optional<PendingReply> type;
    std::optional<PendingReply> popupMenu;
    queueNamed<xInternAtomReq>(wire, X_InternAtom, "_NET_WM_WINDOW_TYPE", type);
    queueNamed<xInternAtomReq>(wire, X_InternAtom, "_NET_WM_WINDOW_TYPE_POPUP_MENU", popupMenu);
    // Where XKB_DISABLE keeps Xlib from XKB, keys must go on coming in the
    // core protocol's terms, which Xlib then reads.
    std::optional<PendingReply> xkb;
    if (opcodes.xkb != 0 && std::getenv("XKB_DISABLE") == nullptr)
        queueUseXkb(wire, opcodes.xkb, xkb);
    if (grabs != nullptr)
        queueGrabs(wire, screen.root, InputGrab{}, *grabs);
    ServerFacts facts;
    if (opcodes.render != 0)
        facts.render = queryRenderFormats(wire, opcodes.render, screen.visual);
    else
        wire.sync();
    facts.screen = primaryMonitor(monitors, ScreenArea{0, 0, screen.width, screen.height});
    facts.windowType = atomOf(type);
    facts.popupMenuType = atomOf(popupMenu);
    facts.resources.text = propertyText(resources);
    return facts;
}

std::optional<std::string> xftDpi(Display* display) {
    const char* value = XGetDefault(display, "Xft", "dpi");
    return value ? std::optional<std::string>(value) : std::nullopt;
}

double screenScale(const std::optional<std::string>& dpi) {
    if (dpi) {
        const char* value = dpi->c_str();
        char* end = nullptr;
        const double dots = std::strtod(value, &end);
        if (end != value && dots >= 24.0 && dots <= 2400.0)
            return dots / 96.0;
    }
    return 1.0;
}

} // namespace velmora::x11
