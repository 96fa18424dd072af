// "Another application": a plain Wayland window (xdg_toplevel) filled with
// one known colour that writes what its seat gives it to a file, one line
// an event, as it comes:
//   focus                the keyboard focus came
//   unfocus              it went
//   key NAME             a key was pressed (NAME: the keysym under the
//                        compositor's keymap and the current modifiers)
//   button CODE X Y      a pointer button was pressed at surface (X, Y)
// It draws itself once and lives until it is ended or the compositor goes.
//
//   velmora_desktop_recorder FILE [TITLE]
#include "xdg-shell-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr std::uint32_t FILL = 0xFF12AB34; // the colour a screenshot finds it by
constexpr int DEFAULT_WIDTH = 160;
constexpr int DEFAULT_HEIGHT = 120;

struct Recorder {
    std::FILE* log = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    wl_seat* seat = nullptr;
    xdg_wm_base* wmBase = nullptr;
    wl_surface* surface = nullptr;
    wl_keyboard* keyboard = nullptr;
    wl_pointer* pointer = nullptr;
    xkb_context* xkb = nullptr;
    xkb_keymap* keymap = nullptr;
    xkb_state* state = nullptr;
    int width = DEFAULT_WIDTH;
    int height = DEFAULT_HEIGHT;
    double x = 0;
    double y = 0;
    bool configured = false;
    bool closed = false;

    void write(const std::string& line) {
        std::fprintf(log, "%s\n", line.c_str());
        std::fflush(log);
    }
};

void releaseBuffer(void*, wl_buffer* buffer) {
    wl_buffer_destroy(buffer);
}

const wl_buffer_listener bufferListener{releaseBuffer};

void draw(Recorder& r) {
    const int stride = r.width * 4;
    const std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(r.height);
    const int fd = ::memfd_create("velmora-recorder", MFD_CLOEXEC);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0)
        return;
    void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        ::close(fd);
        return;
    }
    auto* pixels = static_cast<std::uint32_t*>(data);
    for (std::size_t i = 0; i < size / 4; ++i)
        pixels[i] = FILL;
    ::munmap(data, size);
    wl_shm_pool* pool = wl_shm_create_pool(r.shm, fd, static_cast<std::int32_t>(size));
    wl_buffer* buffer =
        wl_shm_pool_create_buffer(pool, 0, r.width, r.height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_buffer_add_listener(buffer, &bufferListener, nullptr);
    wl_shm_pool_destroy(pool);
    ::close(fd);
    wl_surface_attach(r.surface, buffer, 0, 0);
    wl_surface_damage(r.surface, 0, 0, r.width, r.height);
    wl_surface_commit(r.surface);
}

void keymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size) {
    auto& r = *static_cast<Recorder*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
        void* text = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (text != MAP_FAILED) {
            xkb_keymap* map =
                xkb_keymap_new_from_string(r.xkb, static_cast<const char*>(text),
                                           XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
            ::munmap(text, size);
            if (map != nullptr) {
                xkb_state_unref(r.state);
                xkb_keymap_unref(r.keymap);
                r.keymap = map;
                r.state = xkb_state_new(map);
            }
        }
    }
    ::close(fd);
}

void enter(void* data, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {
    static_cast<Recorder*>(data)->write("focus");
}

void leave(void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
    static_cast<Recorder*>(data)->write("unfocus");
}

void key(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t code,
         std::uint32_t pressed) {
    auto& r = *static_cast<Recorder*>(data);
    if (pressed != WL_KEYBOARD_KEY_STATE_PRESSED)
        return;
    std::string name = "code-" + std::to_string(code);
    if (r.state != nullptr) {
        char buffer[64];
        const xkb_keysym_t sym = xkb_state_key_get_one_sym(r.state, code + 8);
        if (xkb_keysym_get_name(sym, buffer, sizeof buffer) > 0)
            name = buffer;
    }
    r.write("key " + name);
}

void modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
               std::uint32_t latched, std::uint32_t locked, std::uint32_t group) {
    auto& r = *static_cast<Recorder*>(data);
    if (r.state != nullptr)
        xkb_state_update_mask(r.state, depressed, latched, locked, 0, 0, group);
}

void repeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

const wl_keyboard_listener keyboardListener{keymap, enter, leave, key, modifiers, repeatInfo};

void pointerEnter(void* data, wl_pointer*, std::uint32_t, wl_surface*, wl_fixed_t x, wl_fixed_t y) {
    auto& r = *static_cast<Recorder*>(data);
    r.x = wl_fixed_to_double(x);
    r.y = wl_fixed_to_double(y);
}

void pointerLeave(void*, wl_pointer*, std::uint32_t, wl_surface*) {}

void motion(void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
    pointerEnter(data, nullptr, 0, nullptr, x, y);
}

void button(void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t code,
            std::uint32_t pressed) {
    auto& r = *static_cast<Recorder*>(data);
    if (pressed == WL_POINTER_BUTTON_STATE_PRESSED)
        r.write("button " + std::to_string(code) + " " + std::to_string(static_cast<int>(r.x)) +
                " " + std::to_string(static_cast<int>(r.y)));
}

void axis(void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {}

void frame(void*, wl_pointer*) {}
void axisSource(void*, wl_pointer*, std::uint32_t) {}
void axisStop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}
void axisSteps(void*, wl_pointer*, std::uint32_t, std::int32_t) {}

const wl_pointer_listener pointerListener{pointerEnter, pointerLeave, motion,     button,
                                          axis,         frame,        axisSource, axisStop,
                                          axisSteps,    axisSteps};

void capabilities(void* data, wl_seat* seat, std::uint32_t caps) {
    auto& r = *static_cast<Recorder*>(data);
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0 && r.keyboard == nullptr) {
        r.keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(r.keyboard, &keyboardListener, &r);
    }
    if ((caps & WL_SEAT_CAPABILITY_POINTER) != 0 && r.pointer == nullptr) {
        r.pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(r.pointer, &pointerListener, &r);
    }
}

void seatName(void*, wl_seat*, const char*) {}

const wl_seat_listener seatListener{capabilities, seatName};

void ping(void*, xdg_wm_base* base, std::uint32_t serial) {
    xdg_wm_base_pong(base, serial);
}

const xdg_wm_base_listener wmBaseListener{ping};

void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t version) {
    auto& r = *static_cast<Recorder*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0)
        r.compositor = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, 4));
    else if (std::strcmp(interface, wl_shm_interface.name) == 0)
        r.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (std::strcmp(interface, wl_seat_interface.name) == 0 && r.seat == nullptr) {
        r.seat = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, version < 5 ? version : 5));
        wl_seat_add_listener(r.seat, &seatListener, &r);
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        r.wmBase =
            static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(r.wmBase, &wmBaseListener, &r);
    }
}

void globalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener registryListener{global, globalRemove};

void surfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial) {
    auto& r = *static_cast<Recorder*>(data);
    xdg_surface_ack_configure(surface, serial);
    r.configured = true;
    draw(r);
}

const xdg_surface_listener surfaceListener{surfaceConfigure};

void toplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height,
                       wl_array*) {
    auto& r = *static_cast<Recorder*>(data);
    if (width > 0 && height > 0) {
        r.width = width;
        r.height = height;
    }
}

void toplevelClose(void* data, xdg_toplevel*) {
    static_cast<Recorder*>(data)->closed = true;
}

void bounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
void capabilitiesOfWm(void*, xdg_toplevel*, wl_array*) {}

const xdg_toplevel_listener toplevelListener{toplevelConfigure, toplevelClose, bounds,
                                             capabilitiesOfWm};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: velmora_desktop_recorder FILE [TITLE]\n");
        return 2;
    }
    Recorder r;
    r.log = std::fopen(argv[1], "a");
    wl_display* display = wl_display_connect(nullptr);
    if (r.log == nullptr || display == nullptr) {
        std::fprintf(stderr, "recorder: cannot open %s or reach the compositor\n", argv[1]);
        return 1;
    }
    r.xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &r);
    wl_display_roundtrip(display);
    if (r.compositor == nullptr || r.shm == nullptr || r.wmBase == nullptr) {
        std::fprintf(stderr, "recorder: the compositor lacks xdg_wm_base or wl_shm\n");
        return 1;
    }
    r.surface = wl_compositor_create_surface(r.compositor);
    xdg_surface* surface = xdg_wm_base_get_xdg_surface(r.wmBase, r.surface);
    xdg_surface_add_listener(surface, &surfaceListener, &r);
    xdg_toplevel* toplevel = xdg_surface_get_toplevel(surface);
    xdg_toplevel_add_listener(toplevel, &toplevelListener, &r);
    xdg_toplevel_set_title(toplevel, argc > 2 ? argv[2] : "velmora-recorder");
    xdg_toplevel_set_app_id(toplevel, "velmora-recorder");
    wl_surface_commit(r.surface);
    while (!r.closed && wl_display_dispatch(display) != -1) {
    }
    xkb_state_unref(r.state);
    xkb_keymap_unref(r.keymap);
    xkb_context_unref(r.xkb);
    wl_display_disconnect(display);
    std::fclose(r.log);
    return 0;
}
