// The X11 and fontconfig resources the pop-up menu uses, each owned by
// UniqueHandle and freed the one way its kind is freed. Resources of the
// server carry the wire (or, for Xft's, the display) they belong to in
// their traits.
#pragma once

#include "display/x11/x11_core_requests.h"
#include "display/x11/x11_library.h"
#include "display/x11/x11_render_requests.h"
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

// A resource of the server, freed through the display it belongs to.
template <typename T, void (*Free)(Display*, T)> struct DisplayBoundTraits {
    using Handle = T;
    Display* display = nullptr;
    static T empty() { return T{}; }
    bool free(T handle) const {
        Free(display, handle);
        return true;
    }
};

inline void closeXftFont(Display* display, XftFont* font) {
    XftFontClose(display, font);
}
inline void freePixmap(Display* display, Pixmap pixmap) {
    XFreePixmap(display, pixmap);
}

// A resource of the server, freed by a request over the wire.
template <typename T, void (*Free)(Wire&, T)> struct WireBoundTraits {
    using Handle = T;
    Wire* wire = nullptr;
    static T empty() { return T{}; }
    bool free(T handle) const {
        Free(*wire, handle);
        return true;
    }
};

// A window of our own.
using WindowTraits = WireBoundTraits<Window, destroyWindow>;
using WindowHandle = UniqueHandle<WindowTraits>;
// A graphics context for the shapes XRender does not draw.
using GcTraits = WireBoundTraits<GContext, freeGc>;
using GcHandle = UniqueHandle<GcTraits>;
// A RENDER resource, freed by the request `Free` of its kind.
template <typename T, int Free> struct RenderBoundTraits {
    using Handle = T;
    Wire* wire = nullptr;
    int opcode = 0;
    static T empty() { return T{}; }
    bool free(T handle) const {
        freeRenderResource(*wire, opcode, Free, handle);
        return true;
    }
};

// RENDER's pictures and glyph sets, and a pixmap.
using PictureHandle = UniqueHandle<RenderBoundTraits<Picture, X_RenderFreePicture>>;
using GlyphSetHandle = UniqueHandle<RenderBoundTraits<GlyphSet, X_RenderFreeGlyphSet>>;
using PixmapHandle = UniqueHandle<DisplayBoundTraits<Pixmap, freePixmap>>;
// An open Xft font.
using XftFontTraits = DisplayBoundTraits<XftFont*, closeXftFont>;
using XftFontHandle = UniqueHandle<XftFontTraits>;

// A colour of the menu: its pixel for core drawing and its value for
// XRender, allocated as XftColorAllocValue allocates one (so Xft draws with
// it) but through libX11 alone. The colour lives on the heap so that the
// handle is a pointer like the others.
struct ColorTraits {
    using Handle = XftColor*;
    Wire* wire = nullptr;
    static XftColor* empty() { return nullptr; }
    bool free(XftColor* color) const {
        if (wire->screen().visualClass != TrueColor)
            freeColor(*wire, wire->screen().colormap, color->pixel);
        delete color;
        return true;
    }
};
using ColorHandle = UniqueHandle<ColorTraits>;

// Allocates the colour 0xRRGGBB on the screen's colormap; empty when the
// server refuses.
ColorHandle allocateColor(Wire& wire, unsigned long rgb);

// The pointer and the keyboard grab of an open menu, each released with its
// handle. The handle is the wire the grab was taken over.
template <void (*Release)(Wire&)> struct GrabTraits {
    using Handle = Wire*;
    static Wire* empty() { return nullptr; }
    bool free(Wire* wire) const {
        Release(*wire);
        return true;
    }
};

using PointerGrab = UniqueHandle<GrabTraits<ungrabPointer>>;
using KeyboardGrab = UniqueHandle<GrabTraits<ungrabKeyboard>>;

struct InputGrab {
    // Released keyboard first, as they were taken last.
    PointerGrab pointer;
    KeyboardGrab keyboard;
    bool complete() const { return pointer && keyboard; }
};

} // namespace velmora::x11
