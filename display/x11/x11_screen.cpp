#include "display/x11/x11_screen.h"

#include <X11/extensions/randrproto.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace velmora::x11 {

namespace {

// The words of the reply to RandR's GetMonitors request, empty when the
// server refused it or has no RandR.
//
// The request is sent through Xlib's request interface as the RandR library
// would send it: loading libXrandr and libXext for this one request cost
// more than the request itself, and their set-up took two more round trips.
// A server without RandR 1.5 refuses the request with an error, which is
// absorbed. (Asking for the version first would cost a round trip before the
// menu can appear.)
std::vector<CARD32> getMonitors(Display* display, Window root, CARD32& monitors) {
    std::vector<CARD32> words;
    int opcode = 0;
    int eventBase = 0;
    int errorBase = 0;
    if (!XQueryExtension(display, RANDR_NAME, &opcode, &eventBase, &errorBase))
        return words;
    LockDisplay(display);
    auto* request = static_cast<xRRGetMonitorsReq*>(
        _XGetRequest(display, static_cast<CARD8>(opcode), sz_xRRGetMonitorsReq));
    request->randrReqType = X_RRGetMonitors;
    request->window = static_cast<CARD32>(root);
    request->get_active = xTrue;
    xRRGetMonitorsReply reply{};
    const bool answered = _XReply(display, reinterpret_cast<xReply*>(&reply), 0, xFalse) != 0;
    // A monitor takes six words and one per output; more than a few
    // thousand is no real server's answer, and is skipped unread.
    constexpr CARD32 MOST_WORDS = 1u << 16;
    if (answered && reply.length <= MOST_WORDS) {
        words.resize(reply.length);
        _XRead(display, reinterpret_cast<char*>(words.data()),
               static_cast<long>(words.size() * sizeof(CARD32)));
        monitors = reply.nmonitors;
    } else if (answered) {
        _XEatDataWords(display, reply.length);
    }
    UnlockDisplay(display);
    if (display->synchandler != nullptr) // what Xlib's SyncHandle does
        display->synchandler(display);
    return words;
}

} // namespace

ScreenArea findMenuScreen(Display* display) {
    const int screen = DefaultScreen(display);
    const ScreenArea root{0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
    CARD32 monitors = 0;
    const std::vector<CARD32> words = getMonitors(display, RootWindow(display, screen), monitors);
    static_assert(sizeof(xRRMonitorInfo) == sz_xRRMonitorInfo);
    constexpr std::size_t MONITOR_WORDS = sz_xRRMonitorInfo / sizeof(CARD32);
    std::size_t at = 0;
    for (CARD32 i = 0; i < monitors && at + MONITOR_WORDS <= words.size(); ++i) {
        xRRMonitorInfo monitor{};
        std::memcpy(&monitor, &words[at], sizeof monitor);
        if (monitor.primary && monitor.width > 0 && monitor.height > 0)
            return ScreenArea{monitor.x, monitor.y, monitor.width, monitor.height};
        at += MONITOR_WORDS + monitor.noutput;
    }
    return root;
}

double screenScale(Display* display) {
    if (const char* value = XGetDefault(display, "Xft", "dpi")) {
        char* end = nullptr;
        const double dpi = std::strtod(value, &end);
        if (end != value && dpi >= 24.0 && dpi <= 2400.0)
            return dpi / 96.0;
    }
    return 1.0;
}

} // namespace velmora::x11
