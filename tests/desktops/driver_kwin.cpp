// KWin: keys and pointer through org_kde_kwin_fake_input (offered when KWin
// runs with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1), screenshots through
// org.kde.KWin.ScreenShot2 (with KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1),
// which writes the raw image into a pipe the caller hands over.
#include "driver.h"
#include "driver_bus.h"
#include "fake-input-client-protocol.h"

#include <wayland-client.h>

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace velmora::desktops {

namespace {

// Where a keysym sits in a keymap: the key and whether Shift reaches it.
struct KeyPlace {
    std::uint32_t evdevCode = 0;
    bool shift = false;
};

// The keymap KWin uses when the user configured none (evdev rules, pc105,
// "us"), asked for keysyms that are not on a key.
class KeyTable {
public:
    KeyTable() {
        context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        keymap_ = xkb_keymap_new_from_names(context_, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (keymap_ == nullptr)
            throw std::runtime_error("no default xkb keymap");
        shift_ = 1u << xkb_keymap_mod_get_index(keymap_, XKB_MOD_NAME_SHIFT);
    }
    ~KeyTable() {
        xkb_keymap_unref(keymap_);
        xkb_context_unref(context_);
    }
    KeyTable(const KeyTable&) = delete;
    KeyTable& operator=(const KeyTable&) = delete;

    KeyPlace find(xkb_keysym_t sym) const {
        for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap_);
             code <= xkb_keymap_max_keycode(keymap_); ++code) {
            const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap_, code, 0);
            for (xkb_level_index_t level = 0; level < levels; ++level) {
                const xkb_keysym_t* syms = nullptr;
                if (xkb_keymap_key_get_syms_by_level(keymap_, code, 0, level, &syms) != 1 ||
                    syms[0] != sym)
                    continue;
                xkb_mod_mask_t masks[4];
                const std::size_t n =
                    xkb_keymap_key_get_mods_for_level(keymap_, code, 0, level, masks, 4);
                for (std::size_t i = 0; i < n; ++i) {
                    if (masks[i] == 0 || masks[i] == shift_)
                        return {code - 8, masks[i] == shift_};
                }
            }
        }
        char name[64];
        xkb_keysym_get_name(sym, name, sizeof name);
        throw std::runtime_error(std::string("no key types ") + name);
    }

private:
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_mod_mask_t shift_ = 0;
};

class KWin final : public Desktop {
public:
    KWin() : display_(wl_display_connect(nullptr)) {
        if (!display_)
            throw std::runtime_error("cannot reach KWin's Wayland socket");
        wl_registry* registry = wl_display_get_registry(display_.get());
        static const wl_registry_listener listener{global, [](void*, wl_registry*, uint32_t) {}};
        wl_registry_add_listener(registry, &listener, this);
        wl_display_roundtrip(display_.get());
        wl_registry_destroy(registry);
        if (input_ == nullptr)
            throw std::runtime_error("KWin offers no org_kde_kwin_fake_input");
        org_kde_kwin_fake_input_authenticate(input_, "velmora tests", "drives the desktop");
        sync();
        if (!bus_.hasOwner("org.kde.KWin"))
            throw std::runtime_error("org.kde.KWin is not on the session bus");
    }
    ~KWin() override { org_kde_kwin_fake_input_destroy(input_); }

    void key(xkb_keysym_t keysym, bool pressed) override {
        const KeyPlace place = keys_.find(keysym);
        if (place.shift && pressed)
            org_kde_kwin_fake_input_keyboard_key(input_, KEY_LEFTSHIFT, 1);
        org_kde_kwin_fake_input_keyboard_key(input_, place.evdevCode, pressed ? 1 : 0);
        if (place.shift && !pressed)
            org_kde_kwin_fake_input_keyboard_key(input_, KEY_LEFTSHIFT, 0);
        sync();
    }
    void move(double x, double y) override {
        org_kde_kwin_fake_input_pointer_motion_absolute(input_, wl_fixed_from_double(x),
                                                        wl_fixed_from_double(y));
        sync();
    }
    void button(std::uint32_t code, bool pressed) override {
        org_kde_kwin_fake_input_button(input_, code, pressed ? 1 : 0);
        sync();
    }
    Pixels screenshot() override;

private:
    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version) {
        auto& self = *static_cast<KWin*>(data);
        if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
            self.input_ = static_cast<org_kde_kwin_fake_input*>(
                wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
    }
    void sync() const {
        if (wl_display_roundtrip(display_.get()) < 0)
            throw std::runtime_error("KWin closed the Wayland connection");
    }

    struct Disconnect {
        void operator()(wl_display* display) const { wl_display_disconnect(display); }
    };
    std::unique_ptr<wl_display, Disconnect> display_;
    org_kde_kwin_fake_input* input_ = nullptr;
    KeyTable keys_;
    SessionBus bus_;
};

std::uint32_t lookupU32(GVariant* dict, const char* key) {
    guint32 value = 0;
    if (!g_variant_lookup(dict, key, "u", &value))
        throw std::runtime_error(std::string("KWin's screenshot has no ") + key);
    return value;
}

Pixels KWin::screenshot() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    // KWin writes the image after it answers, from a thread of its own; it
    // is read meanwhile so that a full pipe never stalls either side.
    std::string data;
    std::thread reader([&data, fd = ends[0]] {
        char buffer[65536];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            data.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
    });
    VariantPtr reply;
    try {
        const ObjectPtr<GUnixFDList> fds(g_unix_fd_list_new_from_array(&ends[1], 1));
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&options, "{sv}", "native-resolution", g_variant_new_boolean(TRUE));
        g_variant_builder_add(&options, "{sv}", "include-cursor", g_variant_new_boolean(FALSE));
        reply = bus_.call("org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
                          "CaptureActiveScreen", g_variant_new("(a{sv}h)", &options, 0), "(a{sv})",
                          fds.get());
    } catch (...) {
        reader.join();
        throw;
    }
    reader.join();
    GVariant* results = nullptr;
    g_variant_get(reply.get(), "(@a{sv})", &results);
    const VariantPtr owned(results);
    Pixels image;
    image.width = static_cast<int>(lookupU32(results, "width"));
    image.height = static_cast<int>(lookupU32(results, "height"));
    const std::size_t stride = lookupU32(results, "stride");
    // QImage::Format_RGB32, _ARGB32, _ARGB32_Premultiplied: 0xAARRGGBB words.
    const std::uint32_t format = lookupU32(results, "format");
    if (format < 4 || format > 6)
        throw std::runtime_error("KWin's screenshot has image format " + std::to_string(format));
    if (data.size() < stride * static_cast<std::size_t>(image.height))
        throw std::runtime_error("KWin's screenshot is cut short");
    image.rgb.reserve(static_cast<std::size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y) {
        const auto* row = reinterpret_cast<const unsigned char*>(data.data()) + stride * y;
        for (int x = 0; x < image.width; ++x) {
            const unsigned char* p = row + 4 * x; // little-endian: B G R A
            image.rgb.push_back((std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0]);
        }
    }
    return image;
}

} // namespace

std::unique_ptr<Desktop> connectKWin() {
    return std::make_unique<KWin>();
}

} // namespace velmora::desktops
