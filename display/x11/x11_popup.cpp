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
MenuPointer pointerOf(const xEvent& event) {
    const auto& pointer = event.u.keyButtonPointer;
    return pointer.sameScreen ? MenuPointer::at(pointer.rootX, pointer.rootY)
                              : MenuPointer::elsewhere();
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
    MenuPopup(Wire& wire, const ServerFacts& facts, double scale,
              const std::vector<MenuItem>& items)
        : wire_(wire), root_(wire.screen().root), area_(facts.screen),
          windowType_(facts.windowType), popupMenuType_(facts.popupMenuType),
          metrics_(scaledMenuMetrics(scale)), render_(facts.render),
          fonts_(wire, facts.resources, metrics_.fontPixels, render_ ? &*render_ : nullptr),
          session_(items), rows_(menuRowTexts(session_.navigator())), inks_(wire) {}
    // The painter holds on to the fonts, colours and rows.
    MenuPopup(const MenuPopup&) = delete;
    MenuPopup& operator=(const MenuPopup&) = delete;

    // Shows the menu and returns the picked item's command, or 0. `grab`
    // holds what an earlier try (`tried`) at the grabs won.
    unsigned int run(unsigned int flags, int x, int y, InputGrab grab, bool tried);
    // Whether the menu was not shown for want of faces that only Xlib opens.
    bool wantsXlib() const { return !fonts_.ok() && wire_.xlib() == nullptr; }

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
    MenuUpdate handle(const xEvent& event);
    MenuUpdate onMotion(const xEvent& motion);
    MenuUpdate onButtonPress(const xEvent& press);
    MenuUpdate onButtonRelease(const xEvent& release);
    MenuUpdate onKeyPress(const xEvent& key);
    // Draws what `update` says changed.
    void show(const MenuUpdate& update);

    Wire& wire_;
    Window root_;
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
    bool drawn_ = false;
};

unsigned int MenuPopup::run(unsigned int flags, int x, int y, InputGrab grab, bool tried) {
    if (!createWindow(flags, x, y))
        return 0;
    // The grabs are taken on the root window before the menu appears, so no
    // key or click is lost once it is on screen, then moved to the menu's own
    // window, which is told when another program ends them.
    if (!grabInput(grab, tried))
        return 0;
    mapRaised(wire_, window_.get());
    // Held already, the grabs move to the window, both in one round trip.
    PendingGrab moved;
    queueGrabs(wire_, window_.get(), InputGrab{}, moved);
    static_cast<void>(moved.pointer->bytes());
    static_cast<void>(moved.keyboard->bytes());
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

    WindowAttributes attributes;
    attributes.backgroundPixel = inks_.background.get()->pixel;
    attributes.eventMask = ExposureMask | StructureNotifyMask | FocusChangeMask;
    window_ =
        WindowHandle(x11::createWindow(wire_, geometry.frame, attributes), WindowTraits{&wire_});
    nameWindow();
    painter_.emplace(wire_, window_.get(), render_ ? &*render_ : nullptr, inks_, fonts_, metrics_,
                     rows_);
    return painter_->ok();
}

// The names and the type that window managers and tools know the menu by.
void MenuPopup::nameWindow() {
    // WM_CLASS holds the instance and the class name, each ended by a null.
    constexpr std::string_view name = "velmora";
    constexpr std::string_view windowClass("velmora\0Velmora", 16);
    changeProperty(wire_, window_.get(), XA_WM_CLASS, XA_STRING, 8, windowClass.data(),
                   windowClass.size());
    changeProperty(wire_, window_.get(), XA_WM_NAME, XA_STRING, 8, name.data(), name.size());
    if (windowType_ != None && popupMenuType_ != None) {
        const auto type = static_cast<CARD32>(popupMenuType_);
        changeProperty(wire_, window_.get(), windowType_, XA_ATOM, 32, &type, 1);
    }
}

bool MenuPopup::grabInput(InputGrab& grab, bool tried) {
    for (int attempt = 0; attempt < GRAB_ATTEMPTS && !grab.complete(); ++attempt) {
        if (tried) {
            const timespec pause{0, GRAB_RETRY_NANOSECONDS};
            nanosleep(&pause, nullptr);
        }
        PendingGrab pending;
        queueGrabs(wire_, root_, grab, pending);
        takeGrabs(wire_, pending, grab);
        tried = true;
    }
    return grab.complete();
}

unsigned int MenuPopup::handleEvents() {
    bool keysReady = false;
    while (!session_.closed()) {
        if (const std::optional<xEvent> event = wire_.nextEvent()) {
            show(handle(*event));
        } else if (!keysReady && drawn_) {
            // Readied once the menu is drawn and no event waits, so that
            // it holds back neither the first paint nor a key.
            wire_.prepareKeys();
            keysReady = true;
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
    // The wire found no event after reading what the server sent, so none
    // waits unread beside the socket.
    pollfd wait{wire_.fileDescriptor(), POLLIN, 0};
    // An interrupted or failed wait comes back here; a lost connection shows
    // in the next event read.
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

MenuUpdate MenuPopup::handle(const xEvent& event) {
    switch (event.u.u.type & 0x7F) { // the top bit marks a sent event
    case Expose:
        if (event.u.expose.count == 0) {
            painter_->paintAll(session_);
            drawn_ = true;
        }
        return {};
    case MotionNotify:
        return onMotion(event);
    case ButtonPress:
        return onButtonPress(event);
    case ButtonRelease:
        return onButtonRelease(event);
    case KeyPress:
        return onKeyPress(event);
    case FocusOut:
        // The keyboard grab ended without us: another program took the input.
        return event.u.focus.mode == NotifyUngrab ? session_.dismiss() : MenuUpdate{};
    case UnmapNotify:
    case DestroyNotify:
        return session_.dismiss();
    default:
        return {};
    }
}

MenuUpdate MenuPopup::onMotion(const xEvent& motion) {
    const bool buttonHeld =
        (motion.u.keyButtonPointer.state & (Button1Mask | Button2Mask | Button3Mask)) != 0;
    return session_.motion(pointerOf(motion), buttonHeld);
}

MenuUpdate MenuPopup::onButtonPress(const xEvent& press) {
    const unsigned int button = press.u.u.detail;
    if (button == WHEEL_UP || button == WHEEL_DOWN)
        return session_.wheel(button == WHEEL_UP ? -1 : 1);
    if (isWheel(button))
        return {};
    return session_.press(buttonOf(button), pointerOf(press));
}

MenuUpdate MenuPopup::onButtonRelease(const xEvent& release) {
    if (isWheel(release.u.u.detail))
        return {};
    return session_.release(buttonOf(release.u.u.detail), pointerOf(release));
}

MenuUpdate MenuPopup::onKeyPress(const xEvent& key) {
    // The keysym alone decides the moving, picking and closing keys; only the
    // others are looked up as text, whose first lookup loads Xlib's locale
    // tables (a millisecond or more between Enter and the launch).
    KeySym keysym = wire_.keysymOf(key);
    if (const auto menuKey = menuKeyOf(static_cast<Keysym>(keysym)))
        return session_.key(*menuKey);
    const std::string typed = wire_.typedBy(key, keysym);
    if (const char32_t c = keyCharacter(static_cast<Keysym>(keysym), typed))
        return session_.type(c);
    return {};
}

} // namespace

std::optional<unsigned int> showPopupMenu(Wire& wire, const ServerFacts& facts, double scale,
                                          const std::vector<MenuItem>& items, unsigned int flags,
                                          int x, int y, FirstGrab first) {
    MenuPopup popup(wire, facts, scale, items);
    const unsigned int picked = popup.run(flags, x, y, std::move(first.grab), first.tried);
    if (popup.wantsXlib())
        return std::nullopt;
    return picked;
}

} // namespace velmora::x11
