// The yardstick of bench/wayland_startup.py: the least a layer-shell client
// does to show something, one 200 x 100 rectangle on the overlay layer in a
// wl_shm buffer, with no font, no keymap and no second surface. It stays until
// it is ended or the compositor goes.
//
// Built a second time with VELMORA_MINIMAL_TEXT, it is the floor of the font
// stack as well: it draws one string with fcft into the rectangle before the
// frame, as the X11 yardstick opens one Xft font.
#include "wlr-layer-shell-unstable-v1-client.h"
#ifdef VELMORA_MINIMAL_TEXT
#include "wayland_minimal_text.h"
#endif

#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr int WIDTH = 200;
constexpr int HEIGHT = 100;

struct State {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    zwlr_layer_shell_v1* layerShell = nullptr;
    std::uint32_t serial = 0;
    bool configured = false;
};

void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t) {
    auto& state = *static_cast<State*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0)
        state.compositor = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, 4));
    else if (std::strcmp(interface, wl_shm_interface.name) == 0)
        state.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0)
        state.layerShell = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, 1));
}

void globalRemove(void*, wl_registry*, std::uint32_t) {}

void configure(void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t,
               std::uint32_t) {
    auto& state = *static_cast<State*>(data);
    state.serial = serial;
    state.configured = true;
}

void closed(void*, zwlr_layer_surface_v1*) {}

} // namespace

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "cannot connect to the compositor\n");
        return 1;
    }
    State state;
    static const wl_registry_listener registryListener{global, globalRemove};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &state);
    wl_display_roundtrip(display);
    if (state.compositor == nullptr || state.shm == nullptr || state.layerShell == nullptr) {
        std::fprintf(stderr, "the compositor lacks the layer shell\n");
        return 1;
    }
    wl_surface* surface = wl_compositor_create_surface(state.compositor);
    zwlr_layer_surface_v1* layer = zwlr_layer_shell_v1_get_layer_surface(
        state.layerShell, surface, nullptr, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "minimal");
    static const zwlr_layer_surface_v1_listener layerListener{configure, closed};
    zwlr_layer_surface_v1_add_listener(layer, &layerListener, &state);
    zwlr_layer_surface_v1_set_size(layer, WIDTH, HEIGHT);
    wl_surface_commit(surface);
    while (!state.configured && wl_display_dispatch(display) != -1) {
    }
    zwlr_layer_surface_v1_ack_configure(layer, state.serial);

    const int stride = WIDTH * 4;
    const int size = stride * HEIGHT;
    const int fd = memfd_create("minimal", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0)
        return 1;
    auto* pixels =
        static_cast<std::uint32_t*>(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    if (pixels == MAP_FAILED)
        return 1;
    for (int i = 0; i < WIDTH * HEIGHT; ++i)
        pixels[i] = 0xFF3169C6;
#ifdef VELMORA_MINIMAL_TEXT
    if (!minimal_draw_text(pixels, WIDTH, HEIGHT, stride))
        return 1;
#endif
    wl_shm_pool* pool = wl_shm_create_pool(state.shm, fd, size);
    wl_buffer* buffer =
        wl_shm_pool_create_buffer(pool, 0, WIDTH, HEIGHT, stride, WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(surface, buffer, 0, 0);
    wl_surface_damage_buffer(surface, 0, 0, WIDTH, HEIGHT);
    wl_surface_commit(surface);
    while (wl_display_dispatch(display) != -1) {
    }
    return 0;
}
