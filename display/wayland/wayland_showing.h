// One showing of the Wayland menu: the core's session fed with the seat's
// input, the menu's layer surface sized and placed on the output, and its
// buffers painted as the session's answers say, until the menu closes.
#pragma once

#include "display/wayland/wayland_input.h"
#include "display/wayland/wayland_paint.h"
#include "display/wayland/wayland_surfaces.h"
#include "menu/menu_layout.h"
#include "menu/menu_session.h"

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
    // `catcher` covers the output, configured: its size is the output's
    // logical size, and the pointer on it is outside the menu.
    WaylandMenuShowing(WaylandConnection& connection, WaylandSeat& seat, LayerSurface& catcher,
                       const std::vector<MenuItem>& items, MenuAnchor anchor);
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

private:
    bool open();
    bool layout(int outputScale);
    bool layoutAt(int scale, long long limit);
    void place();
    void answerConfigures();
    bool redrawIfMoved();
    void apply(const MenuUpdate& update);
    bool paint(const MenuUpdate& update);
    void damage(const MenuUpdate& update);
    MenuPointer pointerAt(wl_surface* surface, double x, double y) const;
    bool waitForInput();

    WaylandConnection& connection_;
    WaylandSeat& seat_;
    LayerSurface& catcher_;
    MenuAnchor anchor_;
    MenuSession session_;
    std::vector<MenuRowText> rows_;
    MenuPainter painter_;
    LayerSurface menu_;
    BufferPool buffers_;
    int outputScale_ = 1; // of the output laid out for
    int scale_ = 1;       // of the buffers: the output's, or less when they would be too large
    bool painted_ = false;
    bool stale_ = false; // to be laid out again: the output changed
    int width_ = 0;      // the menu in surface (logical) pixels
    int height_ = 0;
    std::uint32_t outputWidth_ = 0;
    std::uint32_t outputHeight_ = 0;
};

} // namespace velmora::wayland
