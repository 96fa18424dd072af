// Opening the connection to the X server aside, on a thread of its own: a
// server that accepts the connection but never answers (stopped, hung)
// cannot hold the launcher, and its instance lock, for ever; and the
// thread can start before the menu is asked for, so that the server's
// answers overlap the rest of the start. The connection's library (libxcb,
// or libX11) is loaded before the thread starts, not on it: while another
// thread of the process runs, each of the loader's unmappings and
// protection changes interrupts that thread's processor to flush its
// address translations, which cost more than loading beside it saved. The
// thread also asks the server's first questions, right after the open: the
// server then answers them while it still runs beside that thread, where
// another thread's round trips took twice as long, each waking a processor
// that had gone idle.
#pragma once

#include "display/x11/x11_handles.h"
#include "display/x11/x11_wire.h"

#include <chrono>
#include <memory>
#include <string>

namespace velmora::x11 {

// What is asked of the server as soon as it is connected.
class ServerGreeting {
public:
    virtual ~ServerGreeting() = default;
    // Right after the open, on the thread that opened the connection.
    virtual void greet(Wire& wire) = 0;
};

// How a connection is made: through Xlib, whose display Xft draws on, or
// (`light`) through libxcb alone, for a menu of remembered glyphs.
struct ConnectionPlan {
    std::string name;
    bool light = false;
    // Called when a light connection breaks; must not return.
    void (*lost)() = nullptr;
};

// XOpenDisplay(name) without Xlib's set-up of the keyboard extension, two
// of the open's six round trips before the menu could appear; the menu sets
// it up once it is on screen (enableKeyboardExtension). Null when the server
// cannot be reached.
Display* openDisplay(const char* name);

// Sets up Xlib's keyboard extension on a display that openDisplay opened,
// so that keys are looked up in XKB's groups, as a display opened the usual
// way does; keys that came before are read afterwards, with the core
// protocol's view of their state (which differs only in a third or fourth
// layout group). Nothing where the server has no XKB, or XKB_DISABLE says
// not to use it.
void enableKeyboardExtension(Display* display);

// Starts connecting as `plan` says, aside, greeted by `greeting`, unless
// such a connection was started already. False when no thread could be
// had. The plan's library must be loaded (loadX11Libraries, or
// loadXcbLibrary for a light one).
bool startConnecting(const ConnectionPlan& plan, std::shared_ptr<ServerGreeting> greeting);

// The connection `plan` brought, greeted, waiting for it up to `limit`; one
// is started (or, with no thread to be had, made and greeted here) when
// none was. Null when the server cannot be reached or does not answer in
// time.
std::unique_ptr<Wire> awaitConnection(const ConnectionPlan& plan,
                                      const std::shared_ptr<ServerGreeting>& greeting,
                                      std::chrono::milliseconds limit);

} // namespace velmora::x11
