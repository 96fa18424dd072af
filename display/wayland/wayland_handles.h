// Owners of the Wayland menu's handles: protocol objects, pixman images, the
// xkbcommon keymap and state, the font. Include after
// wayland_library.h and the protocol headers.
#pragma once

#include "display/wayland/wayland_font.h"
#include "display/wayland/wayland_library.h"
#include "platform/unique_handle.h"

#include "fractional-scale-v1-client.h"
#include "viewporter-client.h"
#include "wlr-layer-shell-unstable-v1-client.h"
#include "xdg-activation-v1-client.h"
#include "xdg-shell-client.h"

#include <wayland-client.h>

namespace velmora::wayland {

// A free function of a loaded library is a pointer, not a constant that the
// handle's traits can name: this function calls it.
template <auto& Free, typename T> void freeLoaded(T* handle) {
    Free(handle);
}
template <typename T, auto& Free>
using OwnedLoaded = UniqueHandle<PointerTraits<T, freeLoaded<Free, T>>>;

// Gives `holder` the new handle `handle` (freeing what it held).
template <typename Holder> void own(Holder& holder, typename Holder::Handle handle) {
    holder = Holder(handle);
}

// The generated request wrappers that destroy a protocol object are static
// functions, which a handle's traits cannot name: one overload per type
// calls them.
#define VELMORA_WAYLAND_PROXIES(F)                                                                 \
    F(wl_registry)                                                                                 \
    F(wl_compositor)                                                                               \
    F(wl_shm)                                                                                      \
    F(wl_seat)                                                                                     \
    F(wl_output)                                                                                   \
    F(zwlr_layer_shell_v1)                                                                         \
    F(wp_viewporter)                                                                               \
    F(wp_fractional_scale_manager_v1)                                                              \
    F(wp_fractional_scale_v1)                                                                      \
    F(wl_surface)                                                                                  \
    F(zwlr_layer_surface_v1)                                                                       \
    F(wp_viewport)                                                                                 \
    F(wl_buffer)                                                                                   \
    F(wl_shm_pool)                                                                                 \
    F(wl_region)                                                                                   \
    F(wl_callback)                                                                                 \
    F(xdg_wm_base)                                                                                 \
    F(xdg_surface)                                                                                 \
    F(xdg_toplevel)                                                                                \
    F(xdg_activation_v1)
#define VELMORA_WAYLAND_DESTROY(type)                                                              \
    inline void destroyProxy(type* proxy) {                                                        \
        type##_destroy(proxy);                                                                     \
    }
VELMORA_WAYLAND_PROXIES(VELMORA_WAYLAND_DESTROY)
#undef VELMORA_WAYLAND_DESTROY
#undef VELMORA_WAYLAND_PROXIES

// A wl_keyboard or wl_pointer goes with release from version 3 on.
template <typename T, typename Release> void releaseDevice(T* device, Release release) {
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(device)) >= 3)
        release(device);
    else
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(device));
}
inline void destroyProxy(wl_keyboard* keyboard) {
    releaseDevice(keyboard, wl_keyboard_release);
}
inline void destroyProxy(wl_pointer* pointer) {
    releaseDevice(pointer, wl_pointer_release);
}

template <typename T> struct ProxyTraits {
    using Handle = T*;
    static Handle empty() { return nullptr; }
    bool free(T* proxy) const {
        destroyProxy(proxy);
        return true;
    }
};
template <typename T> using Owned = UniqueHandle<ProxyTraits<T>>;

using DisplayPtr = OwnedLoaded<wl_display, wl_display_disconnect>;
using RegistryPtr = Owned<wl_registry>;
using CompositorPtr = Owned<wl_compositor>;
using ShmPtr = Owned<wl_shm>;
using SeatPtr = Owned<wl_seat>;
using OutputPtr = Owned<wl_output>;
using LayerShellPtr = Owned<zwlr_layer_shell_v1>;
using ViewporterPtr = Owned<wp_viewporter>;
using FractionalScalesPtr = Owned<wp_fractional_scale_manager_v1>;
using FractionalScalePtr = Owned<wp_fractional_scale_v1>;
using SurfacePtr = Owned<wl_surface>;
using LayerSurfacePtr = Owned<zwlr_layer_surface_v1>;
using ViewportPtr = Owned<wp_viewport>;
using BufferPtr = Owned<wl_buffer>;
using PoolPtr = Owned<wl_shm_pool>;
using RegionPtr = Owned<wl_region>;
using CallbackPtr = Owned<wl_callback>;
using WmBasePtr = Owned<xdg_wm_base>;
using XdgSurfacePtr = Owned<xdg_surface>;
using ToplevelPtr = Owned<xdg_toplevel>;
using ActivationPtr = Owned<xdg_activation_v1>;
using KeyboardPtr = Owned<wl_keyboard>;
using PointerPtr = Owned<wl_pointer>;
using ImagePtr = OwnedLoaded<pixman_image_t, pixman_image_unref>;
using XkbContextPtr = OwnedLoaded<xkb_context, xkb_context_unref>;
using XkbKeymapPtr = OwnedLoaded<xkb_keymap, xkb_keymap_unref>;
using XkbStatePtr = OwnedLoaded<xkb_state, xkb_state_unref>;
using FontPtr = UniqueHandle<PointerTraits<fcft_font, velmora_font_close>>;

} // namespace velmora::wayland
