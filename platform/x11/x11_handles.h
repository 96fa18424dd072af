// Owners of the X11 and fontconfig resources the pop-up menu uses: one small
// move-only class per kind, each freeing its resource when destroyed.
#pragma once

#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <fontconfig/fontconfig.h>

#include <utility>

namespace velmora::x11 {

// The connection to the X server.
class DisplayHandle {
public:
    DisplayHandle() = default;
    explicit DisplayHandle(Display* display) : display_(display) {}
    DisplayHandle(DisplayHandle&& other) noexcept
        : display_(std::exchange(other.display_, nullptr)) {}
    DisplayHandle& operator=(DisplayHandle&& other) noexcept {
        if (this != &other) {
            reset();
            display_ = std::exchange(other.display_, nullptr);
        }
        return *this;
    }
    DisplayHandle(const DisplayHandle&) = delete;
    DisplayHandle& operator=(const DisplayHandle&) = delete;
    ~DisplayHandle() { reset(); }

    Display* get() const { return display_; }
    explicit operator bool() const { return display_ != nullptr; }

private:
    void reset() {
        if (display_ != nullptr)
            XCloseDisplay(std::exchange(display_, nullptr));
    }
    Display* display_ = nullptr;
};

// A window of our own, destroyed with the handle.
class WindowHandle {
public:
    WindowHandle() = default;
    WindowHandle(Display* display, Window window) : display_(display), window_(window) {}
    WindowHandle(WindowHandle&& other) noexcept
        : display_(other.display_), window_(std::exchange(other.window_, None)) {}
    WindowHandle& operator=(WindowHandle&& other) noexcept {
        if (this != &other) {
            reset();
            display_ = other.display_;
            window_ = std::exchange(other.window_, None);
        }
        return *this;
    }
    WindowHandle(const WindowHandle&) = delete;
    WindowHandle& operator=(const WindowHandle&) = delete;
    ~WindowHandle() { reset(); }

    Window get() const { return window_; }

private:
    void reset() {
        if (window_ != None)
            XDestroyWindow(display_, std::exchange(window_, None));
    }
    Display* display_ = nullptr;
    Window window_ = None;
};

// A graphics context for the few shapes Xft does not draw.
class GcHandle {
public:
    GcHandle() = default;
    GcHandle(Display* display, GC gc) : display_(display), gc_(gc) {}
    GcHandle(GcHandle&& other) noexcept
        : display_(other.display_), gc_(std::exchange(other.gc_, nullptr)) {}
    GcHandle& operator=(GcHandle&& other) noexcept {
        if (this != &other) {
            reset();
            display_ = other.display_;
            gc_ = std::exchange(other.gc_, nullptr);
        }
        return *this;
    }
    GcHandle(const GcHandle&) = delete;
    GcHandle& operator=(const GcHandle&) = delete;
    ~GcHandle() { reset(); }

    GC get() const { return gc_; }

private:
    void reset() {
        if (gc_ != nullptr)
            XFreeGC(display_, std::exchange(gc_, nullptr));
    }
    Display* display_ = nullptr;
    GC gc_ = nullptr;
};

// An Xft drawing surface bound to one window.
class XftDrawHandle {
public:
    XftDrawHandle() = default;
    explicit XftDrawHandle(XftDraw* draw) : draw_(draw) {}
    XftDrawHandle(XftDrawHandle&& other) noexcept : draw_(std::exchange(other.draw_, nullptr)) {}
    XftDrawHandle& operator=(XftDrawHandle&& other) noexcept {
        if (this != &other) {
            reset();
            draw_ = std::exchange(other.draw_, nullptr);
        }
        return *this;
    }
    XftDrawHandle(const XftDrawHandle&) = delete;
    XftDrawHandle& operator=(const XftDrawHandle&) = delete;
    ~XftDrawHandle() { reset(); }

    XftDraw* get() const { return draw_; }

private:
    void reset() {
        if (draw_ != nullptr)
            XftDrawDestroy(std::exchange(draw_, nullptr));
    }
    XftDraw* draw_ = nullptr;
};

// A colour allocated for Xft drawing.
class XftColorHandle {
public:
    XftColorHandle() = default;
    // Allocates the colour 0xRRGGBB; check ok() for the outcome.
    XftColorHandle(Display* display, Visual* visual, Colormap colormap, unsigned long rgb)
        : display_(display), visual_(visual), colormap_(colormap) {
        XRenderColor value;
        value.red = static_cast<unsigned short>(((rgb >> 16) & 0xFF) * 0x101);
        value.green = static_cast<unsigned short>(((rgb >> 8) & 0xFF) * 0x101);
        value.blue = static_cast<unsigned short>((rgb & 0xFF) * 0x101);
        value.alpha = 0xFFFF;
        allocated_ = XftColorAllocValue(display, visual, colormap, &value, &color_) != 0;
    }
    XftColorHandle(XftColorHandle&& other) noexcept
        : display_(other.display_), visual_(other.visual_), colormap_(other.colormap_),
          color_(other.color_), allocated_(std::exchange(other.allocated_, false)) {}
    XftColorHandle& operator=(XftColorHandle&& other) noexcept {
        if (this != &other) {
            reset();
            display_ = other.display_;
            visual_ = other.visual_;
            colormap_ = other.colormap_;
            color_ = other.color_;
            allocated_ = std::exchange(other.allocated_, false);
        }
        return *this;
    }
    XftColorHandle(const XftColorHandle&) = delete;
    XftColorHandle& operator=(const XftColorHandle&) = delete;
    ~XftColorHandle() { reset(); }

    bool ok() const { return allocated_; }
    const XftColor* get() const { return &color_; }
    unsigned long pixel() const { return color_.pixel; }

private:
    void reset() {
        if (allocated_)
            XftColorFree(display_, visual_, colormap_, &color_);
        allocated_ = false;
    }
    Display* display_ = nullptr;
    Visual* visual_ = nullptr;
    Colormap colormap_ = 0;
    XftColor color_{};
    bool allocated_ = false;
};

// An open Xft font.
class XftFontHandle {
public:
    XftFontHandle() = default;
    XftFontHandle(Display* display, XftFont* font) : display_(display), font_(font) {}
    XftFontHandle(XftFontHandle&& other) noexcept
        : display_(other.display_), font_(std::exchange(other.font_, nullptr)) {}
    XftFontHandle& operator=(XftFontHandle&& other) noexcept {
        if (this != &other) {
            reset();
            display_ = other.display_;
            font_ = std::exchange(other.font_, nullptr);
        }
        return *this;
    }
    XftFontHandle(const XftFontHandle&) = delete;
    XftFontHandle& operator=(const XftFontHandle&) = delete;
    ~XftFontHandle() { reset(); }

    XftFont* get() const { return font_; }

private:
    void reset() {
        if (font_ != nullptr)
            XftFontClose(display_, std::exchange(font_, nullptr));
    }
    Display* display_ = nullptr;
    XftFont* font_ = nullptr;
};

// A fontconfig pattern.
class FcPatternHandle {
public:
    FcPatternHandle() = default;
    explicit FcPatternHandle(FcPattern* pattern) : pattern_(pattern) {}
    FcPatternHandle(FcPatternHandle&& other) noexcept
        : pattern_(std::exchange(other.pattern_, nullptr)) {}
    FcPatternHandle& operator=(FcPatternHandle&& other) noexcept {
        if (this != &other) {
            reset();
            pattern_ = std::exchange(other.pattern_, nullptr);
        }
        return *this;
    }
    FcPatternHandle(const FcPatternHandle&) = delete;
    FcPatternHandle& operator=(const FcPatternHandle&) = delete;
    ~FcPatternHandle() { reset(); }

    FcPattern* get() const { return pattern_; }
    // Gives the pattern up to a new owner (XftFontOpenPattern takes it).
    FcPattern* release() { return std::exchange(pattern_, nullptr); }

private:
    void reset() {
        if (pattern_ != nullptr)
            FcPatternDestroy(std::exchange(pattern_, nullptr));
    }
    FcPattern* pattern_ = nullptr;
};

// A fontconfig character set.
class FcCharSetHandle {
public:
    FcCharSetHandle() = default;
    explicit FcCharSetHandle(FcCharSet* set) : set_(set) {}
    FcCharSetHandle(FcCharSetHandle&& other) noexcept : set_(std::exchange(other.set_, nullptr)) {}
    FcCharSetHandle& operator=(FcCharSetHandle&& other) noexcept {
        if (this != &other) {
            reset();
            set_ = std::exchange(other.set_, nullptr);
        }
        return *this;
    }
    FcCharSetHandle(const FcCharSetHandle&) = delete;
    FcCharSetHandle& operator=(const FcCharSetHandle&) = delete;
    ~FcCharSetHandle() { reset(); }

    FcCharSet* get() const { return set_; }

private:
    void reset() {
        if (set_ != nullptr)
            FcCharSetDestroy(std::exchange(set_, nullptr));
    }
    FcCharSet* set_ = nullptr;
};

// The pointer and keyboard grabs of an open menu, released with the handle.
class InputGrab {
public:
    InputGrab() = default;
    explicit InputGrab(Display* display) : display_(display) {}
    InputGrab(InputGrab&& other) noexcept
        : display_(std::exchange(other.display_, nullptr)), pointer_(other.pointer_),
          keyboard_(other.keyboard_) {}
    InputGrab& operator=(InputGrab&& other) noexcept {
        if (this != &other) {
            reset();
            display_ = std::exchange(other.display_, nullptr);
            pointer_ = other.pointer_;
            keyboard_ = other.keyboard_;
        }
        return *this;
    }
    InputGrab(const InputGrab&) = delete;
    InputGrab& operator=(const InputGrab&) = delete;
    ~InputGrab() { reset(); }

    void setPointer() { pointer_ = true; }
    void setKeyboard() { keyboard_ = true; }
    bool complete() const { return pointer_ && keyboard_; }

private:
    void reset() {
        if (display_ == nullptr)
            return;
        if (keyboard_)
            XUngrabKeyboard(display_, CurrentTime);
        if (pointer_)
            XUngrabPointer(display_, CurrentTime);
        pointer_ = keyboard_ = false;
        display_ = nullptr;
    }
    Display* display_ = nullptr;
    bool pointer_ = false;
    bool keyboard_ = false;
};

} // namespace velmora::x11
