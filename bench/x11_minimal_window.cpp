// The yardsticks for the menu's start-up: the least an Xlib program does to
// put a window on screen. It maps one override-redirect window, then takes
// the keyboard and ends at the first key.
//
// Built a second time with VELMORA_MINIMAL_XFT, it is the floor of the font
// stack: before the window it does what any Xft program does before it can
// size a window for text, opening a sans-serif face (which loads fontconfig)
// and measuring one string. The plain build links no Xft at all.
#ifdef VELMORA_MINIMAL_XFT
#include <X11/Xft/Xft.h>
#endif
#include <X11/Xlib.h>

#include <chrono>
#include <thread>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return 2;
    const int screen = DefaultScreen(display);
    unsigned int width = 120;
    unsigned int height = 60;
#ifdef VELMORA_MINIMAL_XFT
    XftFont* font = XftFontOpenName(display, screen, "sans-serif:pixelsize=12");
    if (font == nullptr)
        return 2;
    const char text[] = "Internet Explorer";
    XGlyphInfo extents{};
    XftTextExtentsUtf8(display, font, reinterpret_cast<const FcChar8*>(text), sizeof text - 1,
                       &extents);
    width = static_cast<unsigned int>(extents.xOff + 20);
    height = static_cast<unsigned int>(font->ascent + font->descent + 6);
#endif
    const Window root = DefaultRootWindow(display);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(display, screen);
    const Window window =
        XCreateWindow(display, root, 0, 0, width, height, 0, CopyFromParent, InputOutput,
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
#ifdef VELMORA_MINIMAL_XFT
    XftFontClose(display, font);
#endif
    XCloseDisplay(display);
    return 0;
}
