// The X11 and fontconfig resources the pop-up menu uses, each owned by
// UniqueHandle and freed the one way its kind is freed. Resources of the
// server carry the display they belong to in their traits.
#pragma once

#include "display/x11/x11_library.h"
#include "platform/unique_handle.h"

namespace velmora::x11 {

// The freeing functions are loaded at run time, so the traits call them
// through these.
inline void closeDisplay(Display* display) {
    XCloseDisplay(display);
}
inline void destroyXftDraw(XftDraw* draw) {
    XftDrawDestroy(draw);
}
inline void destroyFcPattern(FcPattern* pattern) {
    FcPatternDestroy(pattern);
}
inline void destroyFcCharSet(FcCharSet* charset) {
    FcCharSetDestroy(charset);
}

// The connection to the X server.
using DisplayHandle = UniqueHandle<PointerTraits<Display, closeDisplay>>;
// An Xft drawing surface bound to one window.
using XftDrawHandle = UniqueHandle<PointerTraits<XftDraw, destroyXftDraw>>;
// A fontconfig pattern; release() hands it to XftFontOpenPattern.
using FcPatternHandle = UniqueHandle<PointerTraits<FcPattern, destroyFcPattern>>;
// A fontconfig character set.
using FcCharSetHandle = UniqueHandle<PointerTraits<FcCharSet, destroyFcCharSet>>;

// A window of our own.
struct WindowTraits {
    using Handle = Window;
    Display* display = nullptr;
    static Window empty() { return None; }
    bool free(Window window) const {
        XDestroyWindow(display, window);
        return true;
    }
};
using WindowHandle = UniqueHandle<WindowTraits>;

// A graphics context for the few shapes Xft does not draw.
struct GcTraits {
    using Handle = GC;
    Display* display = nullptr;
    static GC empty() { return nullptr; }
    bool free(GC gc) const {
        XFreeGC(display, gc);
        return true;
    }
};
using GcHandle = UniqueHandle<GcTraits>;

// An open Xft font.
struct XftFontTraits {
    using Handle = XftFont*;
    Display* display = nullptr;
    static XftFont* empty() { return nullptr; }
    bool free(XftFont* font) const {
        XftFontClose(display, font);
        return true;
    }
};
using XftFontHandle = UniqueHandle<XftFontTraits>;

// A colour allocated for Xft drawing. The colour itself lives on the heap so
// that the handle is a pointer like the others.
struct XftColorTraits {
    using Handle = XftColor*;
    Display* display = nullptr;
    Visual* visual = nullptr;
    Colormap colormap = 0;
    static XftColor* empty() { return nullptr; }
    bool free(XftColor* color) const {
        XftColorFree(display, visual, colormap, color);
        delete color;
        return true;
    }
};
using XftColorHandle = UniqueHandle<XftColorTraits>;

// Allocates the colour 0xRRGGBB; empty when the server refuses.
inline XftColorHandle allocateXftColor(Display* display, Visual* visual, Colormap colormap,
                                       unsigned long rgb) {
    XRenderColor value;
    value.red = static_cast<unsigned short>(((rgb >> 16) & 0xFF) * 0x101);
    value.green = static_cast<unsigned short>(((rgb >> 8) & 0xFF) * 0x101);
    value.blue = static_cast<unsigned short>((rgb & 0xFF) * 0x101);
    value.alpha = 0xFFFF;
    auto* color = new XftColor{};
    if (XftColorAllocValue(display, visual, colormap, &value, color) == 0) {
        delete color;
        return {};
    }
    return XftColorHandle(color, XftColorTraits{display, visual, colormap});
}

// The pointer and the keyboard grab of an open menu, each released with its
// handle. The handle is the display the grab was taken on.
struct PointerGrabTraits {
    using Handle = Display*;
    static Display* empty() { return nullptr; }
    bool free(Display* display) const {
        XUngrabPointer(display, CurrentTime);
        return true;
    }
};
using PointerGrab = UniqueHandle<PointerGrabTraits>;

struct KeyboardGrabTraits {
    using Handle = Display*;
    static Display* empty() { return nullptr; }
    bool free(Display* display) const {
        XUngrabKeyboard(display, CurrentTime);
        return true;
    }
};
using KeyboardGrab = UniqueHandle<KeyboardGrabTraits>;

struct InputGrab {
    // Released keyboard first, as they were taken last.
    PointerGrab pointer;
    KeyboardGrab keyboard;
    bool complete() const { return pointer && keyboard; }
};

} // namespace velmora::x11
