// The X11 pop-up menu: an override-redirect window that holds the pointer and
// keyboard grabs while it is open, drawn with Xft, placed and driven by the
// shared menu-view logic so that it behaves as the Windows pop-up menu does.
#include "display/menu_display.h"
#include "display/x11/x11_fonts.h"
#include "display/x11/x11_handles.h"
#include "menu/menu_keys.h"
#include "menu/menu_session.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/randrproto.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <poll.h>
#include <string_view>
#include <time.h>
#include <vector>

namespace velmora {

namespace {

using namespace x11;

// The colours of the menu (0xRRGGBB).
constexpr unsigned long COLOR_BACKGROUND = 0xF5F5F5;
constexpr unsigned long COLOR_BORDER = 0x8C8C8C;
constexpr unsigned long COLOR_TEXT = 0x000000;
constexpr unsigned long COLOR_HIGHLIGHT = 0x3169C6;
constexpr unsigned long COLOR_HIGHLIGHT_TEXT = 0xFFFFFF;
constexpr unsigned long COLOR_ARROW_OFF = 0xB4B4B4;

// The menu text size in points, as the Windows menu font.
constexpr double MENU_FONT_POINTS = 9.0;

// How long the grabs are tried for: a hotkey daemon that started the
// launcher may hold the keyboard until its key is released.
constexpr int GRAB_ATTEMPTS = 500;
constexpr long GRAB_RETRY_NANOSECONDS = 1000000;

// The pointer events the menu's grabs ask for.
constexpr unsigned int POINTER_EVENTS =
    ButtonPressMask | ButtonReleaseMask | PointerMotionMask | EnterWindowMask | LeaveWindowMask;

// The pace of scrolling while the pointer rests on a scroll arrow.
constexpr int SCROLL_REPEAT_MILLISECONDS = 60;

struct ScreenArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The primary RandR monitor where the server names one, else the root window.
//
// The monitors are asked for with RandR's GetMonitors request, sent through
// Xlib's request interface as the RandR library would send it: loading
// libXrandr and libXext for this one request cost more than the request
// itself, and their set-up took two more round trips. A server without RandR
// 1.5 refuses the request with an error, which is absorbed, and the root
// window stands. (Asking for the version first would cost a round trip
// before the menu can appear.)
ScreenArea findMenuScreen(Display* display) {
    const int screen = DefaultScreen(display);
    ScreenArea area{0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
    int opcode = 0;
    int eventBase = 0;
    int errorBase = 0;
    if (!XQueryExtension(display, RANDR_NAME, &opcode, &eventBase, &errorBase))
        return area;
    std::vector<CARD32> words;
    LockDisplay(display);
    auto* request = static_cast<xRRGetMonitorsReq*>(
        _XGetRequest(display, static_cast<CARD8>(opcode), sz_xRRGetMonitorsReq));
    request->randrReqType = X_RRGetMonitors;
    request->window = static_cast<CARD32>(RootWindow(display, screen));
    request->get_active = xTrue;
    xRRGetMonitorsReply reply{};
    const bool answered = _XReply(display, reinterpret_cast<xReply*>(&reply), 0, xFalse) != 0;
    // A monitor takes six words and one per output; more than a few
    // thousand is no real server's answer, and is skipped unread.
    constexpr CARD32 MOST_WORDS = 1u << 16;
    if (answered && reply.length <= MOST_WORDS) {
        words.resize(reply.length);
        _XRead(display, reinterpret_cast<char*>(words.data()),
               static_cast<long>(words.size() * sizeof(CARD32)));
    } else if (answered) {
        _XEatDataWords(display, reply.length);
    }
    UnlockDisplay(display);
    if (display->synchandler != nullptr) // what Xlib's SyncHandle does
        display->synchandler(display);

    static_assert(sizeof(xRRMonitorInfo) == sz_xRRMonitorInfo);
    constexpr std::size_t MONITOR_WORDS = sz_xRRMonitorInfo / sizeof(CARD32);
    std::size_t at = 0;
    for (CARD32 i = 0; i < reply.nmonitors && at + MONITOR_WORDS <= words.size(); ++i) {
        xRRMonitorInfo monitor{};
        std::memcpy(&monitor, &words[at], sizeof monitor);
        if (monitor.primary && monitor.width > 0 && monitor.height > 0)
            return ScreenArea{monitor.x, monitor.y, monitor.width, monitor.height};
        at += MONITOR_WORDS + monitor.noutput;
    }
    return area;
}

// The screen's resolution as the desktop sets it for Xft, else 96.
double screenDpi(Display* display) {
    if (const char* value = XGetDefault(display, "Xft", "dpi")) {
        char* end = nullptr;
        const double dpi = std::strtod(value, &end);
        if (end != value && dpi >= 24.0 && dpi <= 2400.0)
            return dpi;
    }
    return 96.0;
}

// Buttons 4 to 7 are the wheels (vertical, then horizontal).
bool isWheel(unsigned int button) {
    return button >= Button4 && button <= 7;
}

// What a text cut short ends with: U+2026 HORIZONTAL ELLIPSIS.
constexpr FcChar32 ELLIPSIS = 0x2026;

FontText fontText(std::u32string_view text) {
    return FontText(text.begin(), text.end());
}

// One item's text, ready to measure and draw.
struct RowText {
    explicit RowText(const MenuRowText& text)
        : left(fontText(text.left)), right(fontText(text.right)) {
        if (text.mnemonic != std::u32string::npos)
            mnemonic = text.mnemonic;
    }

    FontText left;
    FontText right;
    std::optional<std::size_t> mnemonic; // code point index into `left`
};

// One showing of the menu, from creating its window to its closing.
class PopupSession {
public:
    PopupSession(Display* display, const ScreenArea& area, const std::vector<MenuItem>& items)
        : display_(display), screenNumber_(DefaultScreen(display)),
          root_(RootWindow(display, screenNumber_)), visual_(DefaultVisual(display, screenNumber_)),
          colormap_(DefaultColormap(display, screenNumber_)), area_(area),
          scale_(screenDpi(display) / 96.0),
          fonts_(display, screenNumber_, MENU_FONT_POINTS * scale_ * 96.0 / 72.0),
          navigator_(parseTitles(items), 1), items_(items) {}

    // Shows the menu and returns the picked item's command, or 0.
    unsigned int run(unsigned int flags, int x, int y);

private:
    std::vector<MenuTitle> parseTitles(const std::vector<MenuItem>& items);
    int scaled(double pixels) const {
        return std::max(1, static_cast<int>(std::lround(pixels * scale_)));
    }
    void layout();
    // Lays the menu out, places it and creates its (unmapped) window.
    bool createWindow(unsigned int flags, int x, int y);
    bool grabInput(InputGrab& grab);
    // Until the menu closes: the command it closes with, 0 when dismissed.
    unsigned int handleEvents();
    // One event: the command the menu closes with, or none while it stays open.
    std::optional<unsigned int> handle(XEvent& event);
    void onMotion(const XMotionEvent& motion);
    std::optional<unsigned int> onButtonPress(const XButtonEvent& press);
    std::optional<unsigned int> onButtonRelease(const XButtonEvent& release);
    std::optional<unsigned int> onKeyPress(XKeyEvent& key);
    MenuHit hitTest(int rootX, int rootY) const {
        return hitTestMenu(geometry_, navigator_.firstVisible(), navigator_.itemCount(), rootX,
                           rootY);
    }
    int rowTop(std::size_t row) const { return static_cast<int>(geometry_.rowTop(row)); }
    void paintAll();
    void paintRow(std::size_t item);
    // `text` cut to fit `room` pixels, with an ellipsis where it was cut;
    // empty when not even the ellipsis fits.
    FontText elided(const FontText& text, int room) const;
    void paintArrow(bool up);
    void scrollBy(long rows);
    // Repaints what a change of the highlight or of the scroll position touched.
    void refresh(std::size_t oldHighlight, std::size_t oldFirst);

    Display* display_;
    int screenNumber_;
    Window root_;
    Visual* visual_;
    Colormap colormap_;
    ScreenArea area_;
    double scale_;
    FontSet fonts_;
    std::vector<MenuRowText> texts_;
    std::vector<RowText> rows_;
    MenuNavigator navigator_;
    const std::vector<MenuItem>& items_;

    // Layout, in pixels; the geometry's frame lies in root window coordinates.
    MenuGeometry geometry_;
    int border_ = 1;
    int padLeft_ = 10;
    int padRight_ = 10;
    int gap_ = 24;
    int rowPad_ = 3;
    int rowHeight_ = 0;
    int arrowHeight_ = 0;
    int width_ = 0;
    int height_ = 0;

    // The pointer while the menu is open. Until the menu sees a press of its
    // own, a release ends the press that opened it: after a drag onto an
    // item, that release picks the item.
    static constexpr std::size_t NO_ITEM = std::numeric_limits<std::size_t>::max();
    bool openingPress_ = true;
    bool dragged_ = false;
    std::size_t pressedItem_ = NO_ITEM; // the item the last press inside the menu hit
    int scrollDirection_ = 0;           // the pointer rests on a scroll arrow

    WindowHandle window_;
    XftDrawHandle draw_;
    GcHandle gc_;
    XftColorHandle background_;
    XftColorHandle borderColor_;
    XftColorHandle text_;
    XftColorHandle highlight_;
    XftColorHandle highlightText_;
    XftColorHandle arrowOff_;
};

std::vector<MenuTitle> PopupSession::parseTitles(const std::vector<MenuItem>& items) {
    std::vector<MenuTitle> titles = parseMenuTitles(items);
    texts_.reserve(titles.size());
    rows_.reserve(titles.size());
    for (const MenuTitle& title : titles) {
        texts_.push_back(menuRowText(title));
        rows_.emplace_back(texts_.back());
    }
    return titles;
}

void PopupSession::layout() {
    for (const auto& row : rows_) {
        fonts_.cover(row.left);
        fonts_.cover(row.right);
    }
    fonts_.cover(FontText{ELLIPSIS});
    border_ = scaled(1);
    const int margin = scaled(2);
    padLeft_ = scaled(10);
    padRight_ = scaled(10);
    gap_ = scaled(24);
    rowPad_ = scaled(3);
    rowHeight_ = fonts_.ascent() + fonts_.descent() + 2 * rowPad_;
    arrowHeight_ = scaled(12);

    const long long textWidth =
        widestMenuRow(texts_, gap_, [this](std::u32string_view text) -> long long {
            return fonts_.width(fontText(text));
        });
    const long long frame = 2LL * border_;
    long long width = frame + padLeft_ + textWidth + padRight_;
    width = std::max<long long>(width, scaled(48));
    long long height = frame + 2LL * margin + static_cast<long long>(rows_.size()) * rowHeight_;
    std::size_t visible = std::max<std::size_t>(rows_.size(), 1);
    bool scrolling = false;
    if (!rows_.empty() && area_.height > 0 && height > area_.height) {
        // Taller than the screen: show what fits between two scroll arrows.
        scrolling = true;
        const long long room = area_.height - frame - 2LL * margin - 2LL * arrowHeight_;
        visible = static_cast<std::size_t>(std::max<long long>(room / rowHeight_, 1));
        height = frame + 2LL * margin + 2LL * arrowHeight_ +
                 static_cast<long long>(visible) * rowHeight_;
    }
    if (area_.width > 0)
        width = std::min<long long>(width, area_.width);
    constexpr long long largest = std::numeric_limits<short>::max();
    width_ = static_cast<int>(std::min(width, largest));
    height_ = static_cast<int>(std::min(height, largest));
    navigator_.setVisibleRows(visible);
    geometry_.frame.width = width_;
    geometry_.frame.height = height_;
    geometry_.border = border_;
    geometry_.margin = margin;
    geometry_.arrowHeight = scrolling ? arrowHeight_ : 0;
    geometry_.rowHeight = rowHeight_;
    geometry_.rows = visible;
}

bool PopupSession::grabInput(InputGrab& grab) {
    bool pointer = false;
    bool keyboard = false;
    for (int attempt = 0; attempt < GRAB_ATTEMPTS; ++attempt) {
        if (!pointer && XGrabPointer(display_, root_, False, POINTER_EVENTS, GrabModeAsync,
                                     GrabModeAsync, None, None, CurrentTime) == GrabSuccess) {
            pointer = true;
            grab.pointer = PointerGrab(display_);
        }
        if (!keyboard && XGrabKeyboard(display_, root_, False, GrabModeAsync, GrabModeAsync,
                                       CurrentTime) == GrabSuccess) {
            keyboard = true;
            grab.keyboard = KeyboardGrab(display_);
        }
        if (grab.complete())
            return true;
        const timespec pause{0, GRAB_RETRY_NANOSECONDS};
        nanosleep(&pause, nullptr);
    }
    return false;
}

void PopupSession::paintRow(std::size_t item) {
    const std::size_t first = navigator_.firstVisible();
    if (item < first || item >= first + navigator_.visibleRows() || item >= rows_.size())
        return;
    const int top = rowTop(item - first);
    const bool lit = item == navigator_.highlighted();
    XftDrawRect(draw_.get(), lit ? highlight_.get() : background_.get(), border_, top,
                static_cast<unsigned int>(std::max(width_ - 2 * border_, 0)),
                static_cast<unsigned int>(rowHeight_));
    const XftColor* ink = lit ? highlightText_.get() : text_.get();
    const RowText& row = rows_[item];
    const int baseline = top + rowPad_ + fonts_.ascent();
    const int left = border_ + padLeft_;
    // A menu narrowed to the screen may not hold both parts: the part after
    // the tab keeps at most half the row, the title what is left before it,
    // a gap apart, and whatever does not fit is cut off with an ellipsis, so
    // that the two never overlap.
    const int room = width_ - border_ - padRight_ - left;
    const int rightWidth = row.right.empty() ? 0 : fonts_.width(row.right);
    const int leftWidth = fonts_.width(row.left);
    FontText shownLeft = row.left;
    FontText shownRight = row.right;
    if (leftWidth + (row.right.empty() ? 0 : gap_ + rightWidth) > room) {
        if (!row.right.empty())
            shownRight = elided(row.right, std::min(rightWidth, std::max(room / 2, 0)));
        const int rightRoom = row.right.empty() ? 0 : fonts_.width(shownRight) + gap_;
        shownLeft = elided(row.left, std::max(room - rightRoom, 0));
    }
    fonts_.draw(draw_.get(), ink, left, baseline, shownLeft);
    const std::size_t keptLeft = shownLeft.size() < row.left.size() && !shownLeft.empty()
                                     ? shownLeft.size() - 1 // the ellipsis is no letter
                                     : shownLeft.size();
    if (row.mnemonic && *row.mnemonic < keptLeft) {
        const int start = fonts_.width(row.left, *row.mnemonic);
        const int end = fonts_.width(row.left, *row.mnemonic + 1);
        const int thickness = scaled(1);
        const int underline =
            baseline + std::max(1, std::min(fonts_.descent() - thickness, scaled(2)));
        if (end > start)
            XftDrawRect(draw_.get(), ink, left + start, underline,
                        static_cast<unsigned int>(end - start),
                        static_cast<unsigned int>(thickness));
    }
    if (!shownRight.empty()) {
        const int right = width_ - border_ - padRight_ - fonts_.width(shownRight);
        fonts_.draw(draw_.get(), ink, right, baseline, shownRight);
    }
}

FontText PopupSession::elided(const FontText& text, int room) const {
    if (fonts_.width(text) <= room)
        return text;
    const FontText ellipsis{ELLIPSIS};
    const int ellipsisWidth = fonts_.width(ellipsis);
    std::size_t kept = 0;
    while (kept < text.size() && fonts_.width(text, kept + 1) + ellipsisWidth <= room)
        ++kept;
    if (kept == 0 && ellipsisWidth > room)
        return {};
    FontText out(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(kept));
    out.push_back(ELLIPSIS);
    return out;
}

void PopupSession::paintArrow(bool up) {
    const int top = up ? border_ + geometry_.margin : rowTop(geometry_.rows);
    XftDrawRect(draw_.get(), background_.get(), border_, top,
                static_cast<unsigned int>(std::max(width_ - 2 * border_, 0)),
                static_cast<unsigned int>(arrowHeight_));
    const std::size_t first = navigator_.firstVisible();
    const bool canMove = up ? first > 0 : first + navigator_.visibleRows() < navigator_.itemCount();
    XSetForeground(display_, gc_.get(), canMove ? text_.get()->pixel : arrowOff_.get()->pixel);
    const int half = std::max(2, arrowHeight_ / 3);
    const int cx = width_ / 2;
    const int cy = top + arrowHeight_ / 2;
    XPoint points[3];
    if (up) {
        points[0] = {static_cast<short>(cx - half), static_cast<short>(cy + half / 2)};
        points[1] = {static_cast<short>(cx + half), static_cast<short>(cy + half / 2)};
        points[2] = {static_cast<short>(cx), static_cast<short>(cy - half / 2 - 1)};
    } else {
        points[0] = {static_cast<short>(cx - half), static_cast<short>(cy - half / 2)};
        points[1] = {static_cast<short>(cx + half), static_cast<short>(cy - half / 2)};
        points[2] = {static_cast<short>(cx), static_cast<short>(cy + half / 2 + 1)};
    }
    XFillPolygon(display_, window_.get(), gc_.get(), points, 3, Convex, CoordModeOrigin);
}

void PopupSession::paintAll() {
    const auto w = static_cast<unsigned int>(width_);
    const auto h = static_cast<unsigned int>(height_);
    const auto b = static_cast<unsigned int>(border_);
    XftDrawRect(draw_.get(), borderColor_.get(), 0, 0, w, b);
    XftDrawRect(draw_.get(), borderColor_.get(), 0, height_ - border_, w, b);
    XftDrawRect(draw_.get(), borderColor_.get(), 0, 0, b, h);
    XftDrawRect(draw_.get(), borderColor_.get(), width_ - border_, 0, b, h);
    XftDrawRect(draw_.get(), background_.get(), border_, border_,
                static_cast<unsigned int>(std::max(width_ - 2 * border_, 0)),
                static_cast<unsigned int>(std::max(height_ - 2 * border_, 0)));
    if (geometry_.scrolls()) {
        paintArrow(true);
        paintArrow(false);
    }
    const std::size_t first = navigator_.firstVisible();
    for (std::size_t i = first; i < first + navigator_.visibleRows() && i < rows_.size(); ++i)
        paintRow(i);
}

void PopupSession::refresh(std::size_t oldHighlight, std::size_t oldFirst) {
    if (navigator_.firstVisible() != oldFirst) {
        paintAll();
    } else if (navigator_.highlighted() != oldHighlight) {
        paintRow(oldHighlight);
        paintRow(navigator_.highlighted());
    }
}

void PopupSession::scrollBy(long rows) {
    const std::size_t highlight = navigator_.highlighted();
    const std::size_t first = navigator_.firstVisible();
    navigator_.scroll(rows);
    refresh(highlight, first);
}

unsigned int PopupSession::run(unsigned int flags, int x, int y) {
    if (!createWindow(flags, x, y))
        return 0;
    // The grabs are taken on the root window before the menu appears, so no
    // key or click is lost once it is on screen, then moved to the menu's own
    // window, which is told when another program ends them.
    InputGrab grab;
    if (!grabInput(grab))
        return 0;
    XMapRaised(display_, window_.get());
    XGrabPointer(display_, window_.get(), False, POINTER_EVENTS, GrabModeAsync, GrabModeAsync, None,
                 None, CurrentTime);
    XGrabKeyboard(display_, window_.get(), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    return handleEvents();
}

bool PopupSession::createWindow(unsigned int flags, int x, int y) {
    if (!fonts_.ok())
        return false;
    layout();
    const MenuRect rect = placeMenuRect(flags, x, y, width_, height_, area_.width, area_.height);
    geometry_.frame.left = area_.x + rect.left;
    geometry_.frame.top = area_.y + rect.top;

    background_ = allocateXftColor(display_, visual_, colormap_, COLOR_BACKGROUND);
    borderColor_ = allocateXftColor(display_, visual_, colormap_, COLOR_BORDER);
    text_ = allocateXftColor(display_, visual_, colormap_, COLOR_TEXT);
    highlight_ = allocateXftColor(display_, visual_, colormap_, COLOR_HIGHLIGHT);
    highlightText_ = allocateXftColor(display_, visual_, colormap_, COLOR_HIGHLIGHT_TEXT);
    arrowOff_ = allocateXftColor(display_, visual_, colormap_, COLOR_ARROW_OFF);
    if (!background_ || !borderColor_ || !text_ || !highlight_ || !highlightText_ || !arrowOff_)
        return false;

    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = background_.get()->pixel;
    attributes.border_pixel = 0;
    attributes.save_under = True;
    attributes.event_mask = ExposureMask | StructureNotifyMask | FocusChangeMask;
    window_ = WindowHandle(
        XCreateWindow(display_, root_, geometry_.frame.left, geometry_.frame.top,
                      static_cast<unsigned int>(width_), static_cast<unsigned int>(height_), 0,
                      CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWBackPixel | CWBorderPixel | CWSaveUnder | CWEventMask,
                      &attributes),
        WindowTraits{display_});
    char name[] = "velmora";
    char windowClass[] = "Velmora";
    XClassHint classHint{name, windowClass};
    XSetClassHint(display_, window_.get(), &classHint);
    XStoreName(display_, window_.get(), name);
    char typeName[] = "_NET_WM_WINDOW_TYPE";
    char popupName[] = "_NET_WM_WINDOW_TYPE_POPUP_MENU";
    char* atomNames[] = {typeName, popupName};
    Atom atoms[2] = {None, None};
    if (XInternAtoms(display_, atomNames, 2, False, atoms) != 0) {
        XChangeProperty(display_, window_.get(), atoms[0], XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&atoms[1]), 1);
    }
    draw_ = XftDrawHandle(XftDrawCreate(display_, window_.get(), visual_, colormap_));
    gc_ = GcHandle(XCreateGC(display_, window_.get(), 0, nullptr), GcTraits{display_});
    if (draw_.get() == nullptr || gc_.get() == nullptr)
        return false;
    return true;
}

unsigned int PopupSession::handleEvents() {
    const int connection = ConnectionNumber(display_);
    for (;;) {
        if (scrollDirection_ != 0 && XPending(display_) == 0) {
            pollfd wait{connection, POLLIN, 0};
            if (poll(&wait, 1, SCROLL_REPEAT_MILLISECONDS) == 0) {
                scrollBy(scrollDirection_);
                XFlush(display_);
                continue;
            }
        }
        XEvent event;
        XNextEvent(display_, &event);
        if (const std::optional<unsigned int> closed = handle(event))
            return *closed;
    }
}

std::optional<unsigned int> PopupSession::handle(XEvent& event) {
    switch (event.type) {
    case Expose:
        if (event.xexpose.count == 0)
            paintAll();
        return std::nullopt;
    case MotionNotify:
        onMotion(event.xmotion);
        return std::nullopt;
    case ButtonPress:
        return onButtonPress(event.xbutton);
    case ButtonRelease:
        return onButtonRelease(event.xbutton);
    case KeyPress:
        return onKeyPress(event.xkey);
    case FocusOut:
        // The keyboard grab ended without us: another program took the input.
        if (event.xfocus.mode == NotifyUngrab)
            return 0u;
        return std::nullopt;
    case UnmapNotify:
    case DestroyNotify:
        return 0u;
    default:
        return std::nullopt;
    }
}

void PopupSession::onMotion(const XMotionEvent& motion) {
    const std::size_t oldHighlight = navigator_.highlighted();
    const std::size_t oldFirst = navigator_.firstVisible();
    if ((motion.state & (Button1Mask | Button2Mask | Button3Mask)) != 0)
        dragged_ = true;
    const MenuHit hit = hitTest(motion.x_root, motion.y_root);
    scrollDirection_ = hit.kind == MenuHit::Kind::ScrollUp     ? -1
                       : hit.kind == MenuHit::Kind::ScrollDown ? 1
                                                               : 0;
    if (hit.kind == MenuHit::Kind::Item) {
        navigator_.point(hit.item);
        refresh(oldHighlight, oldFirst);
    }
}

std::optional<unsigned int> PopupSession::onButtonPress(const XButtonEvent& press) {
    const std::size_t oldHighlight = navigator_.highlighted();
    const std::size_t oldFirst = navigator_.firstVisible();
    const unsigned int button = press.button;
    if (button == Button4 || button == Button5) {
        scrollBy(button == Button4 ? -1 : 1);
        return std::nullopt;
    }
    if (isWheel(button))
        return std::nullopt;
    openingPress_ = false;
    const MenuHit hit = hitTest(press.x_root, press.y_root);
    // Any button outside the menu closes it; only the left button picks, as
    // TrackPopupMenuEx does without TPM_RIGHTBUTTON.
    if (hit.kind == MenuHit::Kind::Outside)
        return 0u;
    pressedItem_ = NO_ITEM;
    if (hit.kind == MenuHit::Kind::Item) {
        if (button == Button1)
            pressedItem_ = hit.item;
        navigator_.point(hit.item);
        refresh(oldHighlight, oldFirst);
    } else if (hit.kind == MenuHit::Kind::ScrollUp || hit.kind == MenuHit::Kind::ScrollDown) {
        scrollBy(hit.kind == MenuHit::Kind::ScrollUp ? -1 : 1);
    }
    return std::nullopt;
}

std::optional<unsigned int> PopupSession::onButtonRelease(const XButtonEvent& release) {
    if (release.button != Button1)
        return std::nullopt;
    const MenuHit hit = hitTest(release.x_root, release.y_root);
    const bool fromOpening = openingPress_ && dragged_;
    const bool clicked = pressedItem_ != NO_ITEM && pressedItem_ == hit.item;
    pressedItem_ = NO_ITEM;
    openingPress_ = false;
    if (hit.kind == MenuHit::Kind::Item && (clicked || fromOpening))
        return items_[hit.item].commandId;
    return std::nullopt;
}

std::optional<unsigned int> PopupSession::onKeyPress(XKeyEvent& key) {
    const std::size_t oldHighlight = navigator_.highlighted();
    const std::size_t oldFirst = navigator_.firstVisible();
    // The keysym alone decides the moving, picking and closing keys; only the
    // others go through XLookupString, whose first call loads Xlib's locale
    // tables (a millisecond or more between Enter and the launch).
    KeySym keysym = NoSymbol;
    unsigned int unusedModifiers = 0;
    XkbLookupKeySym(display_, static_cast<KeyCode>(key.keycode), key.state, &unusedModifiers,
                    &keysym);
    // (The X headers define None as a macro, so the navigator's "no outcome"
    // is an empty optional here.)
    std::optional<MenuNavigator::Result> result;
    if (const auto menuKey = menuKeyOf(static_cast<Keysym>(keysym))) {
        result = navigator_.press(*menuKey);
    } else {
        char typed[32];
        const int length = XLookupString(&key, typed, sizeof typed, &keysym, nullptr);
        const std::string_view text(typed, static_cast<std::size_t>(std::max(length, 0)));
        if (const char32_t c = keyCharacter(static_cast<Keysym>(keysym), text))
            result = navigator_.type(c);
    }
    if (result == MenuNavigator::Result::Dismissed)
        return 0u;
    if (result == MenuNavigator::Result::Picked)
        return items_[navigator_.highlighted()].commandId;
    refresh(oldHighlight, oldFirst);
    return std::nullopt;
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
    }
    ~MenuDisplayX11() override { XSetErrorHandler(previousHandler_); }
    MenuDisplayX11(const MenuDisplayX11&) = delete;
    MenuDisplayX11& operator=(const MenuDisplayX11&) = delete;

    int screenWidth() override { return screen().width; }
    int screenHeight() override { return screen().height; }

    unsigned int track(const std::vector<MenuItem>& items, unsigned int flags, int x,
                       int y) override {
        unsigned int picked = 0;
        {
            PopupSession session(display_.get(), screen(), items);
            picked = session.run(flags, x, y);
        }
        // The menu is gone from the screen before anything is launched.
        XSync(display_.get(), False);
        return picked;
    }

private:
    const ScreenArea& screen() {
        if (!screen_)
            screen_ = findMenuScreen(display_.get());
        return *screen_;
    }

    DisplayHandle display_;
    std::optional<ScreenArea> screen_;
    XErrorHandler previousHandler_ = nullptr;
};

} // namespace

std::unique_ptr<MenuDisplay> openMenuDisplayX11() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        return nullptr;
    if (!loadX11Libraries())
        return nullptr;
    DisplayHandle display(XOpenDisplay(name));
    if (!display)
        return nullptr;
    return std::make_unique<MenuDisplayX11>(std::move(display));
}

} // namespace velmora
