// The menu's surface where the compositor has no layer shell (GNOME's
// mutter, Weston): one undecorated xdg toplevel that asks to be maximised,
// so that it covers the work area, takes the keyboard as a new window does
// and is given every click; transparent but for the menu drawn on it.
#pragma once

#include "display/wayland/wayland_surfaces.h"

namespace velmora::wayland {

class ToplevelSurface final : public ShellSurface {
public:
    ~ToplevelSurface() override { destroy(); }
    // The toplevel, asked to be maximised, committed without a buffer: its
    // configure follows.
    bool create(const WaylandConnection& connection);
    // Destroys the role objects before their wl_surface, as the protocol asks.
    void destroy();

private:
    void acknowledgeSerial(std::uint32_t serial) override;
    static void surfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial);
    static void toplevelConfigure(void* data, xdg_toplevel* toplevel, std::int32_t width,
                                  std::int32_t height, wl_array* states);
    static void toplevelClose(void* data, xdg_toplevel* toplevel);

    XdgSurfacePtr xdgSurface_;
    ToplevelPtr toplevel_;
    std::uint32_t proposedWidth_ = 0;
    std::uint32_t proposedHeight_ = 0;
};

// Hands the activation token the launcher was started with (if any) to the
// compositor for `surface`, so that a compositor that wants one gives it
// the focus; the variables that carried it are then cleared, so that the
// program launched next does not reuse a spent token.
void handOnActivation(const WaylandConnection& connection, wl_surface* surface);

} // namespace velmora::wayland
