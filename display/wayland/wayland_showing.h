// One showing of the Wayland menu: the core's session fed with the seat's
// input, the menu's layer surface sized and placed on the output (or the
// menu drawn in its place on a toplevel over the work area), and its
// buffers painted as the session's answers say, until the menu closes.
#pragma once

#include "display/wayland/wayland_input.h"
#include "display/wayland/wayland_paint.h"
#include "display/wayland/wayland_surfaces.h"
#include "menu/menu_layout.h"
#include "menu/menu_session.h"
#include "platform/logical_pixels.h"

#include <vector>

namespace velmora::wayland {

// Where the menu is anchored: the TrackPopupMenuEx flags and the point.
struct MenuAnchor {
    unsigned int flags = 0;
    int x = 0;
    int y = 0;
};

class WaylandMenuShowing final : public WaylandInputSink {
public:
    // `catcher` covers the output (or the work area), configured: its size
    // is the area's logical size, and the pointer on it is outside the
    // menu. `onePiece`: the menu is drawn on `catcher` itself (a toplevel,
    // transparent elsewhere), which then has the keyboard only while it is
    // the focused window.
    WaylandMenuShowing(WaylandConnection& connection, WaylandSeat& seat, ShellSurface& catcher,
                       bool onePiece, const std::vector<MenuItem>& items, MenuAnchor anchor);
    ~WaylandMenuShowing();
    WaylandMenuShowing(const WaylandMenuShowing&) = delete;
    WaylandMenuShowing& operator=(const WaylandMenuShowing&) = delete;

    // Shows the menu until it closes: the picked item's command, or 0.
    unsigned int run();

    void key(Keysym keysym, char32_t character) override;
    void pointerMotion(wl_surface* surface, double x, double y, bool buttonHeld) override;
    void pointerButton(wl_surface* surface, double x, double y, MenuButton button,
                       bool pressed) override;
    void wheel(wl_surface* surface, long notches) override;
    void keyboardLeft(wl_surface* surface) override;

private:
    bool open();
    FractionalScale preferredScale(FractionalScale otherwise) const;
    bool giveViewport(ShellSurface& surface) const;
    bool layout(FractionalScale outputScale);
    bool layoutAt(FractionalScale scale, long long limit);
    void place();
    // Placed where it is to lie and drawn whole.
    bool placeAndPaintAll();
    void answerConfigures();
    bool redrawIfMoved();
    void apply(const MenuUpdate& update);
    // The surface the menu is drawn on.
    ShellSurface& shown() { return onePiece_ ? catcher_ : static_cast<ShellSurface&>(menu_); }
    const ShellSurface& shown() const {
        return onePiece_ ? catcher_ : static_cast<const ShellSurface&>(menu_);
    }
    bool paint(const MenuUpdate& update);
    bool paintOnePiece(ShmBuffer& target) const;
    void damage(const MenuUpdate& update);
    MenuPointer pointerAt(wl_surface* surface, double x, double y) const;
    bool waitForInput();

    WaylandConnection& connection_;
    WaylandSeat& seat_;
    ShellSurface& catcher_;
    bool onePiece_;
    MenuAnchor anchor_;
    MenuSession session_;
    std::vector<MenuRowText> rows_;
    MenuPainter painter_;
    LayerSurface menu_;
    BufferPool buffers_;
    // Drawn at a fractional scale through a viewport, where the compositor
    // offers that; else at a whole buffer scale.
    bool fractional_ = false;
    FractionalScale outputScale_; // the one laid out for
    FractionalScale scale_; // of the buffers: the output's, or less when they would be too large
    bool painted_ = false;
    MenuRect placed_;    // the menu on the catcher, in surface pixels, when one piece
    bool stale_ = false; // to be laid out again: the output changed
    int width_ = 0;      // the menu in surface (logical) pixels
    int height_ = 0;
    std::uint32_t outputWidth_ = 0;
    std::uint32_t outputHeight_ = 0;
};

} // namespace velmora::wayland
