// The X11 menu display: the connection to the server, opened within a time
// limit and given up quietly when it breaks, and the screen the menu is
// placed on.
#include "display/menu_display.h"
#include "display/x11/x11_connect.h"
#include "display/x11/x11_fonts.h"
#include "display/x11/x11_handles.h"
#include "display/x11/x11_popup.h"
#include "display/x11/x11_screen.h"
#include "platform/logical_pixels.h"
#include "platform/posix/held_pipe_signal.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

namespace velmora {

namespace {

using namespace x11;

// How long the server has to accept the connection and answer its set-up,
// as long as the Wayland menu gives its compositor.
constexpr auto CONNECT_LIMIT = std::chrono::seconds(5);

// The connection to the server broke (the server ended, or dropped the
// launcher): the menu went with it, which is a dismissed menu, and Xlib
// cannot go on. The run ends here as a dismissed menu's does, with status 0
// and nothing printed. Nothing is left undone: the instance lock goes with
// the process, the configuration file was written before the menu opened,
// and nothing has been launched.
[[noreturn]] void endQuietly() {
    _exit(EXIT_SUCCESS);
}

// Where libX11 has an exit handler (1.7 and later) it ends the run, and the
// I/O error handler only keeps Xlib's message back; before that, the I/O
// error handler must not return, or Xlib exits with status 1.
bool exitHandlerSet = false;

int onIOError(Display*) {
    if (!exitHandlerSet)
        endQuietly();
    return 0;
}

void onIOErrorExit(Display*, void*) {
    endQuietly();
}

// Xlib ends the process on a protocol error by default; the menu's requests
// are checked where it matters, so errors are only absorbed here.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

// The launcher's error handlers, set while a connection of its own is open;
// the ones before come back when it is closed.
class ErrorHandlers {
public:
    explicit ErrorHandlers(Display* display)
        : previous_(XSetErrorHandler(ignoreXError)), previousIO_(XSetIOErrorHandler(onIOError)) {
        if (XSetIOErrorExitHandler != nullptr) {
            XSetIOErrorExitHandler(display, onIOErrorExit, nullptr);
            exitHandlerSet = true;
        }
    }
    ~ErrorHandlers() {
        XSetErrorHandler(previous_);
        XSetIOErrorHandler(previousIO_);
        exitHandlerSet = false;
    }
    ErrorHandlers(const ErrorHandlers&) = delete;
    ErrorHandlers& operator=(const ErrorHandlers&) = delete;

private:
    XErrorHandler previous_;
    XIOErrorHandler previousIO_;
};

// What the server answers first, with the menu's first try at its grabs:
// asked on the connecting thread, taken over by the menu display.
struct FirstAnswers : ServerGreeting {
    void greet(Wire& wire) override {
        Display* display = wire.xlib();
        if (display != nullptr)
            handlers = std::make_unique<ErrorHandlers>(display);
        PendingGrab pending;
        facts = askServer(wire, &pending);
        takeGrabs(wire, pending, grab.grab);
        grab.tried = true;
        if (display != nullptr) { // reads the resources the open brought
            facts->resources.dpi = xftDpi(display);
            scale = screenScale(facts->resources.dpi);
        }
    }

    std::unique_ptr<ErrorHandlers> handlers;
    std::optional<ServerFacts> facts;
    FirstGrab grab;
    double scale = 1.0;
};

ConnectionPlan planOf(const std::string& name, bool light) {
    return ConnectionPlan{name, light, endQuietly};
}

// A connection through Xlib, for a menu whose faces Xft opens, greeted by
// `answers` (which a thread given up on may still hold); null when the
// libraries or the server are missing.
std::unique_ptr<Wire> connectThroughXlib(const std::string& name,
                                         const std::shared_ptr<FirstAnswers>& answers) {
    if (!loadX11Libraries() || !loadX11FontLibraries())
        return nullptr;
    return awaitConnection(planOf(name, false), answers, CONNECT_LIMIT);
}

// Where a light connection (no Xlib) can serve: the remembered glyphs are
// drawn through RENDER, at the resolution the cache was written with while
// the server's resources are the same.
bool lightConnectionServes(FirstAnswers& answers) {
    ServerFacts& facts = *answers.facts;
    const auto dpi = FontSet::rememberedDpi(facts.resources.text);
    if (!dpi || !facts.render || !facts.render->drawsCoverage())
        return false;
    facts.resources.dpi = *dpi;
    answers.scale = screenScale(*dpi);
    return true;
}

class MenuDisplayX11 : public MenuDisplay {
public:
    MenuDisplayX11(std::string name, std::unique_ptr<Wire> wire, FirstAnswers& answers)
        : name_(std::move(name)) {
        take(std::move(wire), answers);
    }
    ~MenuDisplayX11() override { release(); }
    MenuDisplayX11(const MenuDisplayX11&) = delete;
    MenuDisplayX11& operator=(const MenuDisplayX11&) = delete;

    // The core works in logical pixels; the screen counts device pixels at
    // the Xft.dpi resolution, which also sizes the menu.
    int screenWidth() override { return logicalPixels(facts_.screen.width, scale_); }
    int screenHeight() override { return logicalPixels(facts_.screen.height, scale_); }

    unsigned int track(const std::vector<MenuItem>& items, unsigned int flags, int x,
                       int y) override {
        // A server that ends while the menu writes to it ends the menu, as
        // a dismissed one, not the launcher by SIGPIPE.
        const HeldPipeSignal held;
        std::optional<unsigned int> picked = show(items, flags, x, y);
        // Titles the remembered glyphs do not draw: Xft draws them.
        if (!picked && reconnectThroughXlib())
            picked = show(items, flags, x, y);
        // The menu is gone from the screen before anything is launched.
        if (wire_)
            wire_->sync();
        return picked.value_or(0);
    }

    // Trades a light connection for one through Xlib; false when none came.
    bool reconnectThroughXlib() {
        release();
        const auto answers = std::make_shared<FirstAnswers>();
        std::unique_ptr<Wire> wire = connectThroughXlib(name_, answers);
        if (!wire || !answers->facts)
            return false;
        take(std::move(wire), *answers);
        return true;
    }

private:
    std::optional<unsigned int> show(const std::vector<MenuItem>& items, unsigned int flags, int x,
                                     int y) {
        return showPopupMenu(*wire_, facts_, scale_, items, flags, devicePixels(x, scale_),
                             devicePixels(y, scale_), std::move(firstGrab_));
    }

    void take(std::unique_ptr<Wire> wire, FirstAnswers& answers) {
        handlers_ = std::move(answers.handlers);
        wire_ = std::move(wire);
        facts_ = std::move(*answers.facts);
        firstGrab_ = std::move(answers.grab);
        scale_ = answers.scale;
        // A launched program must not inherit the connection.
        const int fd = wire_->fileDescriptor();
        const int fdFlags = fcntl(fd, F_GETFD);
        if (fdFlags >= 0)
            fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC);
    }

    void release() {
        const HeldPipeSignal held;
        firstGrab_.grab = InputGrab{}; // grabs of a menu never shown
        wire_.reset(); // with the handlers still set: closing may find the server gone
        handlers_.reset();
    }

    std::string name_;
    std::unique_ptr<ErrorHandlers> handlers_;
    std::unique_ptr<Wire> wire_;
    ServerFacts facts_;
    FirstGrab firstGrab_;
    double scale_ = 1.0;
};

// The connection started, or to start, for the menu, and its answers.
struct StartedConnection {
    ConnectionPlan plan;
    std::shared_ptr<FirstAnswers> answers;
};

std::optional<StartedConnection>& startedConnection() {
    static std::optional<StartedConnection> started;
    return started;
}

// Light when the font cache holds glyphs, which may spare Xlib; the cache
// file read is kept for reading the cache.
std::optional<StartedConnection> planConnection(const std::string& name) {
    const bool light = FontSet::glyphsRemembered() && loadXcbLibrary();
    if (!light && !loadX11Libraries())
        return std::nullopt;
    return StartedConnection{planOf(name, light), std::make_shared<FirstAnswers>()};
}

} // namespace

void startX11Connection() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        return;
    startedConnection() = planConnection(name);
    if (startedConnection())
        startConnecting(startedConnection()->plan, startedConnection()->answers);
}

std::unique_ptr<MenuDisplay> openMenuDisplayX11() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        return nullptr;
    std::optional<StartedConnection> started = std::move(startedConnection());
    startedConnection().reset();
    if (!started || started->plan.name != name)
        started = planConnection(name);
    if (!started)
        return nullptr;
    const bool light = started->plan.light;
    // The font cache is read while the server answers the connection.
    startConnecting(started->plan, started->answers);
    if (light)
        FontSet::readAhead();
    // A missing font library means no X11 menu, found out here; unless the
    // font cache's glyphs may spare loading them, when the menu loads them
    // itself if the cache does not hold after all. The connection is taken
    // either way, so that the grabs its greeting won go with it.
    const bool fonts = light || loadX11FontLibraries();
    std::unique_ptr<Wire> wire = awaitConnection(started->plan, started->answers, CONNECT_LIMIT);
    std::unique_ptr<MenuDisplayX11> menu;
    if (wire && started->answers->facts) {
        const bool serves = !light || lightConnectionServes(*started->answers);
        menu = std::make_unique<MenuDisplayX11>(name, std::move(wire), *started->answers);
        if (!serves && !menu->reconnectThroughXlib())
            menu.reset();
    }
    if (!menu || !fonts) {
        FontSet::forgetReadAhead();
        return nullptr;
    }
    return menu;
}

} // namespace velmora
