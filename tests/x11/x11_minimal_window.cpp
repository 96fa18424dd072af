// The yardstick for the menu's start-up: the least an Xlib program does to
// put a window on screen. It maps one override-redirect window, then takes
// the keyboard and ends at the first key.
#include <X11/Xlib.h>

#include <chrono>
#include <thread>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return 2;
    const Window root = DefaultRootWindow(display);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(display, DefaultScreen(display));
    const Window window =
        XCreateWindow(display, root, 0, 0, 120, 60, 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(display, window);
    XFlush(display);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (XGrabKeyboard(display, window, False, GrabModeAsync, GrabModeAsync, CurrentTime) ==
            GrabSuccess)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    XEvent event;
    do {
        XNextEvent(display, &event);
    } while (event.type != KeyPress);
    XCloseDisplay(display);
    return 0;
}
