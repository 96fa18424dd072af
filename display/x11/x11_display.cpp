// The X11 menu display: the connection to the server, opened within a time
// limit and given up quietly when it breaks, and the screen the menu is
// placed on.
#include "display/menu_display.h"
#include "display/x11/x11_connect.h"
#include "display/x11/x11_fonts.h"
#include "display/x11/x11_handles.h"
#include "display/x11/x11_popup.h"
#include "display/x11/x11_screen.h"
#include "display/x11/x11_wire_xlib.h"
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
    void greet(Display* display) override {
        handlers = std::make_unique<ErrorHandlers>(display);
        wire = std::make_unique<XlibWire>(display);
        PendingGrab pending;
        facts = askServer(*wire, &pending);
        takeGrabs(*wire, pending, grab.grab);
        grab.tried = true;
        scale = screenScale(display); // reads the resources the open brought
    }

    std::unique_ptr<ErrorHandlers> handlers;
    std::unique_ptr<XlibWire> wire;
    std::optional<ServerFacts> facts;
    FirstGrab grab;
    double scale = 1.0;
};

class MenuDisplayX11 : public MenuDisplay {
public:
    MenuDisplayX11(DisplayHandle display, FirstAnswers& answers)
        : handlers_(std::move(answers.handlers)), display_(std::move(display)),
          wire_(std::move(answers.wire)), facts_(std::move(*answers.facts)),
          firstGrab_(std::move(answers.grab)), scale_(answers.scale) {
        // A launched program must not inherit the connection.
        const int fd = ConnectionNumber(display_.get());
        const int fdFlags = fcntl(fd, F_GETFD);
        if (fdFlags >= 0)
            fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC);
    }
    ~MenuDisplayX11() override {
        firstGrab_.grab = InputGrab{}; // grabs of a menu never shown
        wire_.reset();
        display_.reset(); // with the handlers still set: closing may find the server gone
    }
    MenuDisplayX11(const MenuDisplayX11&) = delete;
    MenuDisplayX11& operator=(const MenuDisplayX11&) = delete;

    // The core works in logical pixels; the screen counts device pixels at
    // the Xft.dpi resolution, which also sizes the menu.
    int screenWidth() override { return logicalPixels(facts_.screen.width, scale_); }
    int screenHeight() override { return logicalPixels(facts_.screen.height, scale_); }

    unsigned int track(const std::vector<MenuItem>& items, unsigned int flags, int x,
                       int y) override {
        const unsigned int picked =
            showPopupMenu(*wire_, facts_, scale_, items, flags, devicePixels(x, scale_),
                          devicePixels(y, scale_), std::move(firstGrab_));
        // The menu is gone from the screen before anything is launched.
        wire_->sync();
        return picked;
    }

private:
    std::unique_ptr<ErrorHandlers> handlers_; // restored after the display closed
    DisplayHandle display_;
    std::unique_ptr<XlibWire> wire_;
    ServerFacts facts_;
    FirstGrab firstGrab_;
    double scale_;
};

// The answers of the connection started, or to start, for the menu.
std::shared_ptr<FirstAnswers>& startedAnswers() {
    static std::shared_ptr<FirstAnswers> answers;
    if (!answers)
        answers = std::make_shared<FirstAnswers>();
    return answers;
}

} // namespace

void startX11Connection() {
    const char* name = std::getenv("DISPLAY");
    if (name != nullptr && *name != '\0' && loadX11Libraries())
        startConnecting(name, startedAnswers());
}

std::unique_ptr<MenuDisplay> openMenuDisplayX11() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0' || !loadX11Libraries())
        return nullptr;
    // The font cache is read while the server answers the connection.
    const std::shared_ptr<FirstAnswers> answers = startedAnswers();
    startedAnswers().reset();
    startConnecting(name, answers);
    const bool remembered = FontSet::glyphsRemembered();
    if (remembered)
        FontSet::readAhead();
    // A missing font library means no X11 menu, found out here; unless the
    // font cache's glyphs may spare loading them, when the menu loads them
    // itself if the cache does not hold after all. The connection is taken
    // either way, so that the grabs its greeting won go with it.
    const bool fonts = remembered || loadX11FontLibraries();
    DisplayHandle display = awaitConnection(name, answers, CONNECT_LIMIT);
    std::unique_ptr<MenuDisplayX11> menu;
    if (display && answers->facts)
        menu = std::make_unique<MenuDisplayX11>(std::move(display), *answers);
    if (!menu || !fonts) {
        FontSet::forgetReadAhead();
        return nullptr;
    }
    return menu;
}

} // namespace velmora
