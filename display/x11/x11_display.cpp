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

class MenuDisplayX11 : public MenuDisplay {
public:
    explicit MenuDisplayX11(DisplayHandle display) : display_(std::move(display)) {
        // A launched program must not inherit the connection.
        const int fd = ConnectionNumber(display_.get());
        const int fdFlags = fcntl(fd, F_GETFD);
        if (fdFlags >= 0)
            fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC);
        previousHandler_ = XSetErrorHandler(ignoreXError);
        previousIOHandler_ = XSetIOErrorHandler(onIOError);
        if (XSetIOErrorExitHandler != nullptr) {
            XSetIOErrorExitHandler(display_.get(), onIOErrorExit, nullptr);
            exitHandlerSet = true;
        }
    }
    ~MenuDisplayX11() override {
        firstGrab_.grab = InputGrab{}; // grabs of a menu never shown
        display_.reset(); // with the handlers still set: closing may find the server gone
        XSetErrorHandler(previousHandler_);
        XSetIOErrorHandler(previousIOHandler_);
        exitHandlerSet = false;
    }
    MenuDisplayX11(const MenuDisplayX11&) = delete;
    MenuDisplayX11& operator=(const MenuDisplayX11&) = delete;

    // The core works in logical pixels; the screen counts device pixels at
    // the Xft.dpi resolution, which also sizes the menu.
    int screenWidth() override { return logicalPixels(facts().screen.width, scale()); }
    int screenHeight() override { return logicalPixels(facts().screen.height, scale()); }

    unsigned int track(const std::vector<MenuItem>& items, unsigned int flags, int x,
                       int y) override {
        // Asked first: the facts bring the first grab that is handed on.
        const ServerFacts& known = facts();
        const unsigned int picked =
            showPopupMenu(display_.get(), known, scale(), items, flags, devicePixels(x, scale()),
                          devicePixels(y, scale()), std::move(firstGrab_));
        // The menu is gone from the screen before anything is launched.
        XSync(display_.get(), False);
        return picked;
    }

private:
    // Asked for right before the menu, the server's facts bring the first
    // try at its grabs with them.
    const ServerFacts& facts() {
        if (!facts_) {
            PendingGrab pending;
            facts_ = askServer(display_.get(), &pending);
            takeGrabs(display_.get(), pending, firstGrab_.grab);
            firstGrab_.tried = true;
        }
        return *facts_;
    }
    double scale() {
        if (!scale_)
            scale_ = screenScale(display_.get());
        return *scale_;
    }

    DisplayHandle display_;
    std::optional<ServerFacts> facts_;
    FirstGrab firstGrab_;
    std::optional<double> scale_;
    XErrorHandler previousHandler_ = nullptr;
    XIOErrorHandler previousIOHandler_ = nullptr;
};

} // namespace

void startX11Connection() {
    const char* name = std::getenv("DISPLAY");
    if (name != nullptr && *name != '\0')
        startConnecting(name);
}

std::unique_ptr<MenuDisplay> openMenuDisplayX11() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        return nullptr;
    // The libraries load while the connection's thread loads libX11 (the
    // loader takes one at a time), and the font cache is read while the
    // server answers it: reading it meanwhile slowed the thread's loading.
    startConnecting(name);
    const bool loaded = loadX11Libraries();
    const bool remembered = loaded && FontSet::glyphsRemembered();
    if (remembered)
        FontSet::readAhead();
    // A missing font library means no X11 menu, found out here; unless the
    // font cache's glyphs may spare loading them, when the menu loads them
    // itself if the cache does not hold after all.
    DisplayHandle display;
    if (loaded && (remembered || loadX11FontLibraries()))
        display = awaitConnection(name, CONNECT_LIMIT);
    if (!display) {
        FontSet::forgetReadAhead();
        return nullptr;
    }
    return std::make_unique<MenuDisplayX11>(std::move(display));
}

} // namespace velmora
