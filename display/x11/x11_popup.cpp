#include "display/x11/x11_popup.h"

#include "display/x11/x11_connect.h"
#include "display/x11/x11_fonts.h"
#include "display/x11/x11_grab.h"
#include "display/x11/x11_handles.h"
#include "display/x11/x11_paint.h"
#include "menu/menu_keys.h"

#include <X11/Xatom.h>

#include <cstdint>
#include <optional>
#include <poll.h>
#include <string_view>
#include <time.h>

namespace velmora::x11 {

namespace {

// How long the grabs are tried for: a hotkey daemon that started the
// launcher may hold the keyboard until its key is released.
constexpr int GRAB_ATTEMPTS = 500;
constexpr long GRAB_RETRY_NANOSECONDS = 1000000;

// Events carry root coordinates, which is where the menu's frame lies; a
// pointer on another screen of the server is nowhere near it.
MenuPointer pointerOf(Bool sameScreen, int rootX, int rootY) {
    return sameScreen ? MenuPointer::at(rootX, rootY) : MenuPointer::elsewhere();
}

// Buttons 1 to 3 by their names. The buttons past the wheels (back, forward)
// have none in the session: they act as the right one, which never picks.
MenuButton buttonOf(unsigned int button) {
    switch (button) {
    case Button1:
        return MenuButton::Left;
    case Button2:
        return MenuButton::Middle;
    default:
        return MenuButton::Right;
    }
}

// Buttons 4 and 5 are the vertical wheel, 6 and 7 the horizontal one.
constexpr unsigned int WHEEL_UP = Button4;
constexpr unsigned int WHEEL_DOWN = Button5;
constexpr unsigned int WHEEL_RIGHT = 7;

bool isWheel(unsigned int button) {
    return button >= WHEEL_UP && button <= WHEEL_RIGHT;
}

// One showing of the menu, from creating its window to its closing.
class MenuPopup {
public:
    MenuPopup(Display* display, const ServerFacts& facts, double scale,
              const std::vector<MenuItem>& items)
        : display_(display), screenNumber_(DefaultScreen(display)),
          root_(RootWindow(display, screenNumber_)), visual_(DefaultVisual(display, screenNumber_)),
          colormap_(DefaultColormap(display, screenNumber_)), area_(facts.screen),
          windowType_(facts.windowType), popupMenuType_(facts.popupMenuType),
          metrics_(scaledMenuMetrics(scale)), render_(facts.render),
          fonts_(display, screenNumber_, metrics_.fontPixels, render_ ? &*render_ : nullptr),
          session_(items), rows_(menuRowTexts(session_.navigator())),
          inks_(display, visual_, colormap_) {}
    // The painter holds on to the fonts, colours and rows.
    MenuPopup(const MenuPopup&) = delete;
    MenuPopup& operator=(const MenuPopup&) = delete;

    // Shows the menu and returns the picked item's command, or 0. `grab`
    // holds what an earlier try (`tried`) at the grabs won.
    unsigned int run(unsigned int flags, int x, int y, InputGrab grab, bool tried);

private:
    // Lays the menu out, places it and creates its (unmapped) window.
    bool createWindow(unsigned int flags, int x, int y);
    void nameWindow();
    // Tries for the grabs `grab` lacks until it holds both, pausing before
    // each try once one was made.
    bool grabInput(InputGrab& grab, bool tried);
    // Until the menu closes: the command it closes with, 0 when dismissed.
    unsigned int handleEvents();
    // Waits for the server's next events, or until the scroll arrow's tick.
    void waitForEvents();
    MenuUpdate handle(XEvent& event);
    MenuUpdate onMotion(const XMotionEvent& motion);
    MenuUpdate onButtonPress(const XButtonEvent& press);
    MenuUpdate onButtonRelease(const XButtonEvent& release);
    MenuUpdate onKeyPress(XKeyEvent& key);
    MenuUpdate onFocusOut(const XFocusChangeEvent& focus);
    // Draws what `update` says changed.
    void show(const MenuUpdate& update);

    Display* display_;
    int screenNumber_;
    Window root_;
    Visual* visual_;
    Colormap colormap_;
    ScreenArea area_;
    Atom windowType_;
    Atom popupMenuType_;
    MenuMetrics metrics_;
    std::optional<RenderFormats> render_;
    FontSet fonts_;
    MenuSession session_;
    std::vector<MenuRowText> rows_;
    MenuInks inks_;
    WindowHandle window_;
    std::optional<MenuPainter> painter_;
};

unsigned int MenuPopup::run(unsigned int flags, int x, int y, InputGrab grab, bool tried) {
    if (!createWindow(flags, x, y))
        return 0;
    // The grabs are taken on the root window before the menu appears, so no
    // key or click is lost once it is on screen, then moved to the menu's own
    // window, which is told when another program ends them.
    if (!grabInput(grab, tried))
        return 0;
    XMapRaised(display_, window_.get());
    XGrabPointer(display_, window_.get(), False, POINTER_EVENTS, GrabModeAsync, GrabModeAsync, None,
                 None, CurrentTime);
    XGrabKeyboard(display_, window_.get(), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    XFlush(display_);
    enableKeyboardExtension(display_);
    fonts_.remember();
    return handleEvents();
}

bool MenuPopup::createWindow(unsigned int flags, int x, int y) {
    if (!inks_.ok())
        return false;
    MenuGeometry geometry = measureMenu(fonts_, metrics_, rows_, area_);
    if (!fonts_.ok())
        return false;
    const MenuRect rect = placeMenuRect(flags, x, y, geometry.frame.width, geometry.frame.height,
                                        area_.width, area_.height);
    geometry.frame.left = area_.left + rect.left;
    geometry.frame.top = area_.top + rect.top;
    session_.setGeometry(geometry);

    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = inks_.background.get()->pixel;
    attributes.border_pixel = 0;
    attributes.save_under = True;
    attributes.event_mask = ExposureMask | StructureNotifyMask | FocusChangeMask;
    window_ = WindowHandle(
        XCreateWindow(display_, root_, geometry.frame.left, geometry.frame.top,
                      static_cast<unsigned int>(geometry.frame.width),
                      static_cast<unsigned int>(geometry.frame.height), 0, CopyFromParent,
                      InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWBackPixel | CWBorderPixel | CWSaveUnder | CWEventMask,
                      &attributes),
        WindowTraits{display_});
    nameWindow();
    painter_.emplace(display_, window_.get(), visual_, colormap_, render_ ? &*render_ : nullptr,
                     inks_, fonts_, metrics_, rows_);
    return painter_->ok();
}

// The names and the type that window managers and tools know the menu by.
void MenuPopup::nameWindow() {
    char name[] = "velmora";
    char windowClass[] = "Velmora";
    XClassHint classHint{name, windowClass};
    XSetClassHint(display_, window_.get(), &classHint);
    XStoreName(display_, window_.get(), name);
    if (windowType_ != None && popupMenuType_ != None) {
        XChangeProperty(display_, window_.get(), windowType_, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&popupMenuType_), 1);
    }
}

bool MenuPopup::grabInput(InputGrab& grab, bool tried) {
    for (int attempt = 0; attempt < GRAB_ATTEMPTS && !grab.complete(); ++attempt) {
        if (tried) {
            const timespec pause{0, GRAB_RETRY_NANOSECONDS};
            nanosleep(&pause, nullptr);
        }
        PendingGrab pending;
        queueGrabs(display_, root_, grab, pending);
        takeGrabs(display_, pending, grab);
        tried = true;
    }
    return grab.complete();
}

unsigned int MenuPopup::handleEvents() {
    while (!session_.closed()) {
        if (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            show(handle(event));
        } else {
            waitForEvents();
        }
        // The arrow's pace is the clock's alone: events between two ticks
        // neither hold one back nor bring one forward.
        show(session_.tick(MenuSession::clockMilliseconds()));
    }
    return session_.command();
}

void MenuPopup::waitForEvents() {
    // Flushing also reads what the server sent meanwhile into Xlib's queue;
    // waiting on the socket then would leave such an event (a click's
    // release) unhandled until another came.
    if (XEventsQueued(display_, QueuedAfterFlush) > 0)
        return;
    pollfd wait{ConnectionNumber(display_), POLLIN, 0};
    // An interrupted or failed wait comes back here; a lost connection shows
    // in the next XPending.
    static_cast<void>(poll(&wait, 1, session_.tickTimeout(MenuSession::clockMilliseconds())));
}

void MenuPopup::show(const MenuUpdate& update) {
    if (session_.closed())
        return;
    if (update.repaint == MenuUpdate::Repaint::Everything) {
        painter_->paintAll(session_);
    } else if (update.repaint == MenuUpdate::Repaint::Rows) {
        painter_->paintRow(session_, update.rows[0]);
        painter_->paintRow(session_, update.rows[1]);
    }
}

MenuUpdate MenuPopup::handle(XEvent& event) {
    switch (event.type) {
    case Expose:
        if (event.xexpose.count == 0)
            painter_->paintAll(session_);
        return {};
    case MotionNotify:
        return onMotion(event.xmotion);
    case ButtonPress:
        return onButtonPress(event.xbutton);
    case ButtonRelease:
        return onButtonRelease(event.xbutton);
    case KeyPress:
        return onKeyPress(event.xkey);
    case FocusOut:
        return onFocusOut(event.xfocus);
    case UnmapNotify:
    case DestroyNotify:
        return session_.dismiss();
    default:
        return {};
    }
}

MenuUpdate MenuPopup::onMotion(const XMotionEvent& motion) {
    const bool buttonHeld = (motion.state & (Button1Mask | Button2Mask | Button3Mask)) != 0;
    return session_.motion(pointerOf(motion.same_screen, motion.x_root, motion.y_root), buttonHeld);
}

MenuUpdate MenuPopup::onButtonPress(const XButtonEvent& press) {
    if (press.button == WHEEL_UP || press.button == WHEEL_DOWN)
        return session_.wheel(press.button == WHEEL_UP ? -1 : 1);
    if (isWheel(press.button))
        return {};
    return session_.press(buttonOf(press.button),
                          pointerOf(press.same_screen, press.x_root, press.y_root));
}

MenuUpdate MenuPopup::onButtonRelease(const XButtonEvent& release) {
    if (isWheel(release.button))
        return {};
    return session_.release(buttonOf(release.button),
                            pointerOf(release.same_screen, release.x_root, release.y_root));
}

MenuUpdate MenuPopup::onKeyPress(XKeyEvent& key) {
    // The keysym alone decides the moving, picking and closing keys; only the
    // others go through XLookupString, whose first call loads Xlib's locale
    // tables (a millisecond or more between Enter and the launch).
    KeySym keysym = NoSymbol;
    unsigned int unusedModifiers = 0;
    XkbLookupKeySym(display_, static_cast<KeyCode>(key.keycode), key.state, &unusedModifiers,
                    &keysym);
    if (const auto menuKey = menuKeyOf(static_cast<Keysym>(keysym)))
        return session_.key(*menuKey);
    char typed[32];
    const int length = XLookupString(&key, typed, sizeof typed, &keysym, nullptr);
    const std::string_view text(typed, static_cast<std::size_t>(std::max(length, 0)));
    if (const char32_t c = keyCharacter(static_cast<Keysym>(keysym), text))
        return session_.type(c);
    return {};
}

MenuUpdate MenuPopup::onFocusOut(const XFocusChangeEvent& focus) {
    // The keyboard grab ended without us: another program took the input.
    if (focus.mode == NotifyUngrab)
        return session_.dismiss();
    return {};
}

} // namespace

unsigned int showPopupMenu(Display* display, const ServerFacts& facts, double scale,
                           const std::vector<MenuItem>& items, unsigned int flags, int x, int y,
                           FirstGrab first) {
    MenuPopup popup(display, facts, scale, items);
    return popup.run(flags, x, y, std::move(first.grab), first.tried);
}

} // namespace velmora::x11
