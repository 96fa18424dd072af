// The floor of the font stack for the menu's start-up: the minimal window of
// velmora_x11_minimal_window, preceded by what any Xft program does before it
// can size a window for text: open a sans-serif face (which loads fontconfig)
// and measure one string.
#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>

#include <chrono>
#include <thread>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return 2;
    const int screen = DefaultScreen(display);
    XftFont* font = XftFontOpenName(display, screen, "sans-serif:pixelsize=12");
    if (font == nullptr)
        return 2;
    const char text[] = "Internet Explorer";
    XGlyphInfo extents{};
    XftTextExtentsUtf8(display, font, reinterpret_cast<const FcChar8*>(text), sizeof text - 1,
                       &extents);
    const Window root = DefaultRootWindow(display);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(display, screen);
    const Window window = XCreateWindow(
        display, root, 0, 0, static_cast<unsigned int>(extents.xOff + 20),
        static_cast<unsigned int>(font->ascent + font->descent + 6), 0, CopyFromParent, InputOutput,
        CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
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
    XftFontClose(display, font);
    XCloseDisplay(display);
    return 0;
}
