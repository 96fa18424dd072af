#include "display/wayland/wayland_toplevel.h"

#include <algorithm>
#include <cstdlib>

namespace velmora::wayland {

namespace {

std::uint32_t sizeOf(std::int32_t side) {
    return static_cast<std::uint32_t>(std::max(side, 0));
}

} // namespace

bool ToplevelSurface::create(const WaylandConnection& connection) {
    static const xdg_surface_listener surfaceListener{surfaceConfigure};
    // Bound at version 1: the later events (bounds, capabilities) never come.
    static const xdg_toplevel_listener toplevelListener{toplevelConfigure, toplevelClose, nullptr,
                                                        nullptr};
    if (connection.wmBase() == nullptr || !createSurface(connection))
        return false;
    own(xdgSurface_, xdg_wm_base_get_xdg_surface(connection.wmBase(), surface()));
    if (!xdgSurface_)
        return false;
    xdg_surface_add_listener(xdgSurface_.get(), &surfaceListener, this);
    own(toplevel_, xdg_surface_get_toplevel(xdgSurface_.get()));
    if (!toplevel_)
        return false;
    xdg_toplevel_add_listener(toplevel_.get(), &toplevelListener, this);
    xdg_toplevel_set_app_id(toplevel_.get(), "velmora");
    xdg_toplevel_set_title(toplevel_.get(), "velmora");
    // Maximised, not fullscreen: a fullscreen window gets a black backdrop
    // on mutter, which a transparent buffer then shows.
    xdg_toplevel_set_maximized(toplevel_.get());
    wl_surface_commit(surface());
    return true;
}

void ToplevelSurface::destroy() {
    viewport.reset();
    toplevel_.reset();
    xdgSurface_.reset();
    forget();
}

void ToplevelSurface::acknowledgeSerial(std::uint32_t serial) {
    xdg_surface_ack_configure(xdgSurface_.get(), serial);
}

// The toplevel's size comes first, then the xdg_surface's configure that
// makes it the one to answer.
void ToplevelSurface::surfaceConfigure(void* data, xdg_surface*, std::uint32_t serial) {
    auto& self = *static_cast<ToplevelSurface*>(data);
    self.configureArrived(serial, self.proposedWidth_, self.proposedHeight_);
}

void ToplevelSurface::toplevelConfigure(void* data, xdg_toplevel*, std::int32_t width,
                                        std::int32_t height, wl_array*) {
    auto& self = *static_cast<ToplevelSurface*>(data);
    self.proposedWidth_ = sizeOf(width);
    self.proposedHeight_ = sizeOf(height);
}

void ToplevelSurface::toplevelClose(void* data, xdg_toplevel*) {
    static_cast<ToplevelSurface*>(data)->closed = true;
}

void handOnActivation(const WaylandConnection& connection, wl_surface* surface) {
    bool handed = false;
    for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
        const char* token = std::getenv(name);
        if (!handed && token != nullptr && *token != '\0' && connection.activation() != nullptr) {
            xdg_activation_v1_activate(connection.activation(), token, surface);
            handed = true;
        }
        ::unsetenv(name);
    }
}

} // namespace velmora::wayland
