// The Wayland pop-up menu: a surface on the overlay layer of the layer shell
// that holds the keyboard exclusively while it is open, drawn with pixman into
// shared-memory buffers and driven by the shared menu-view logic, so that it
// behaves as the X11 and terminal menus do. A second, invisible surface
// covers the rest of the output and catches the click outside the menu that
// closes it. A compositor without the layer shell is declined quietly.
#include "display/menu_display.h"
#include "display/wayland/wayland_font.h"
#include "menu/menu_keys.h"
#include "menu/menu_session.h"
#include "platform/file_descriptor.h"
#include "platform/unique_handle.h"
// Before the protocol headers: their request wrappers call the loaded
// library through it.
#include "display/wayland/wayland_library.h"

#include "viewporter-client.h"
#include "wlr-layer-shell-unstable-v1-client.h"

#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <sys/mman.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace velmora {

using namespace wayland;

namespace {

// The colours of the menu (0xRRGGBB), as on X11.
constexpr std::uint32_t COLOR_BACKGROUND = 0xF5F5F5;
constexpr std::uint32_t COLOR_BORDER = 0x8C8C8C;
constexpr std::uint32_t COLOR_TEXT = 0x000000;
constexpr std::uint32_t COLOR_HIGHLIGHT = 0x3169C6;
constexpr std::uint32_t COLOR_HIGHLIGHT_TEXT = 0xFFFFFF;
constexpr std::uint32_t COLOR_ARROW_OFF = 0xB4B4B4;

// The menu text: 9 points at 96 dots per inch, times the output's scale.
constexpr double MENU_FONT_PIXELS = 12.0;

// How long the compositor may take to answer before the menu is given up:
// the launcher holds its instance lock meanwhile.
constexpr int ANSWER_MILLISECONDS = 5000;

// The pace of scrolling while the pointer rests on a scroll arrow.
constexpr int SCROLL_REPEAT_MILLISECONDS = 60;

// Smooth-scroll distance (touchpads) that counts as one wheel step.
constexpr double AXIS_STEP = 10.0;

template <typename T, auto Free> using Owned = UniqueHandle<PointerTraits<T, Free>>;

// A free function of a loaded library is a pointer, not a constant that
// the handle's traits can name: this function calls it.
template <auto& Free, typename T> void freeLoaded(T* handle) {
    Free(handle);
}
template <typename T, auto& Free> using OwnedLoaded = Owned<T, freeLoaded<Free, T>>;

// Gives `holder` the new handle `handle` (freeing what it held).
template <typename Holder> void own(Holder& holder, typename Holder::Handle handle) {
    holder = Holder(handle);
}

using DisplayPtr = OwnedLoaded<wl_display, wl_display_disconnect>;
using RegistryPtr = Owned<wl_registry, wl_registry_destroy>;
using CompositorPtr = Owned<wl_compositor, wl_compositor_destroy>;
using ShmPtr = Owned<wl_shm, wl_shm_destroy>;
using SeatPtr = Owned<wl_seat, wl_seat_destroy>;
using KeyboardPtr = Owned<wl_keyboard, wl_keyboard_destroy>;
using PointerPtr = Owned<wl_pointer, wl_pointer_destroy>;
using OutputPtr = Owned<wl_output, wl_output_destroy>;
using LayerShellPtr = Owned<zwlr_layer_shell_v1, zwlr_layer_shell_v1_destroy>;
using ViewporterPtr = Owned<wp_viewporter, wp_viewporter_destroy>;
using SurfacePtr = Owned<wl_surface, wl_surface_destroy>;
using LayerSurfacePtr = Owned<zwlr_layer_surface_v1, zwlr_layer_surface_v1_destroy>;
using ViewportPtr = Owned<wp_viewport, wp_viewport_destroy>;
using BufferPtr = Owned<wl_buffer, wl_buffer_destroy>;
using PoolPtr = Owned<wl_shm_pool, wl_shm_pool_destroy>;
using RegionPtr = Owned<wl_region, wl_region_destroy>;
using CallbackPtr = Owned<wl_callback, wl_callback_destroy>;
using ImagePtr = OwnedLoaded<pixman_image_t, pixman_image_unref>;
using XkbContextPtr = OwnedLoaded<xkb_context, xkb_context_unref>;
using XkbKeymapPtr = OwnedLoaded<xkb_keymap, xkb_keymap_unref>;
using XkbStatePtr = OwnedLoaded<xkb_state, xkb_state_unref>;
using FontPtr = Owned<fcft_font, velmora_font_close>;

// A memory mapping, unmapped when its owner goes.
struct MappingTraits {
    using Handle = void*;
    static void* empty() { return nullptr; }
    static bool valid(void* data) { return data != MAP_FAILED; }
    std::size_t size = 0;
    bool free(void* data) const { return ::munmap(data, size) == 0; }
};
using MappingPtr = UniqueHandle<MappingTraits>;

pixman_color_t pixmanColor(std::uint32_t rgb) {
    const auto channel = [](std::uint32_t value) {
        return static_cast<std::uint16_t>((value & 0xFF) * 0x101);
    };
    return pixman_color_t{channel(rgb >> 16), channel(rgb >> 8), channel(rgb), 0xFFFF};
}

// One wl_shm buffer with a pixman image over its pixels.
struct ShmBuffer {
    MappingPtr pixels;
    BufferPtr buffer;
    ImagePtr image;
    int width = 0;
    int height = 0;
    bool busy = false;
};

std::unique_ptr<ShmBuffer> createBuffer(wl_shm* shm, int width, int height) {
    if (width <= 0 || height <= 0 || width > (1 << 14) || height > (1 << 14))
        return nullptr;
    const int stride = width * 4;
    const std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    FileDescriptor fd(::memfd_create("velmora-menu", MFD_CLOEXEC));
    if (!fd || ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0)
        return nullptr;
    void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (data == MAP_FAILED)
        return nullptr;
    auto buffer = std::make_unique<ShmBuffer>();
    buffer->pixels = MappingPtr(data, MappingTraits{size});
    const PoolPtr pool(wl_shm_create_pool(shm, fd.get(), static_cast<std::int32_t>(size)));
    buffer->buffer = BufferPtr(
        wl_shm_pool_create_buffer(pool.get(), 0, width, height, stride, WL_SHM_FORMAT_ARGB8888));
    buffer->image = ImagePtr(pixman_image_create_bits(PIXMAN_a8r8g8b8, width, height,
                                                      static_cast<std::uint32_t*>(data), stride));
    if (!buffer->buffer || !buffer->image)
        return nullptr;
    buffer->width = width;
    buffer->height = height;
    static const wl_buffer_listener listener{
        [](void* self, wl_buffer*) { static_cast<ShmBuffer*>(self)->busy = false; }};
    wl_buffer_add_listener(buffer->buffer.get(), &listener, buffer.get());
    return buffer;
}

// A layer surface with what the compositor last told it.
struct LayerSurface {
    SurfacePtr surface;
    LayerSurfacePtr layer;
    ViewportPtr viewport;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t serial = 0;
    bool configured = false;
    bool pendingConfigure = false;
    bool closed = false;
    wl_output* output = nullptr; // the output it was last shown on

    // Destroys the role object before its wl_surface, as the protocol asks.
    void destroy() {
        viewport.reset();
        layer.reset();
        surface.reset();
        *this = LayerSurface{};
    }
};

struct Output {
    OutputPtr output;
    std::uint32_t name = 0;
    int scale = 1;
};

class MenuDisplayWayland : public MenuDisplay {
public:
    explicit MenuDisplayWayland(DisplayPtr display) : display_(std::move(display)) {}
    ~MenuDisplayWayland() override;
    MenuDisplayWayland(const MenuDisplayWayland&) = delete;
    MenuDisplayWayland& operator=(const MenuDisplayWayland&) = delete;

    // Binds the globals; false when the compositor lacks one the menu needs.
    bool connect();

    int screenWidth() override { return outputArea() ? static_cast<int>(catcher_.width) : 0; }
    int screenHeight() override { return outputArea() ? static_cast<int>(catcher_.height) : 0; }
    unsigned int track(const std::vector<MenuItem>& items, unsigned int flags, int x,
                       int y) override;

private:
    unsigned int show(const std::vector<MenuItem>& items, unsigned int flags, int x, int y);
    // Handles the compositor's events for at most `timeoutMs` (-1: until one
    // arrives); false once the connection is lost. `timer` is polled beside
    // it, and `timerFired` set when it expired.
    bool pump(int timeoutMs, int timer = -1, bool* timerFired = nullptr);
    // Pumps until `done` holds; false on a lost connection or on timeout.
    template <typename Done> bool pumpUntil(Done done, int timeoutMs = ANSWER_MILLISECONDS);
    bool roundtrip();

    bool createLayerSurface(LayerSurface& target, std::uint32_t anchor, std::uint32_t keyboard);
    // The invisible surface over the whole output: its configure tells the
    // output's logical size. False when it could not be had.
    bool outputArea();
    int scaleOf(wl_output* output) const;

    // The showing of the menu.
    void parseItems(const std::vector<MenuItem>& items);
    void layout(int scale);
    bool place();
    void paint();
    void paintRow(pixman_image_t* image, std::size_t item);
    void paintArrow(pixman_image_t* image, bool up);
    int drawText(pixman_image_t* image, pixman_image_t* ink, int x, int baseline,
                 std::u32string_view text, std::size_t count, bool draw);
    int textWidth(std::u32string_view text, std::size_t count) {
        return drawText(nullptr, nullptr, 0, 0, text, count, false);
    }
    // Where a point of the menu surface (in surface coordinates) lies.
    MenuHit hitTest(double surfaceX, double surfaceY) const {
        return hitTestMenu(geometry_, navigator_->firstVisible(), navigator_->itemCount(),
                           static_cast<int>(std::floor(surfaceX * scale_)),
                           static_cast<int>(std::floor(surfaceY * scale_)));
    }
    int rowTop(std::size_t row) const { return static_cast<int>(geometry_.rowTop(row)); }
    void fill(pixman_image_t* image, std::uint32_t rgb, int x, int y, int width, int height);
    void scrollBy(long rows);
    void changed(std::size_t oldHighlight, std::size_t oldFirst);

    // Input.
    void capabilities(wl_seat* seat, std::uint32_t capabilities);
    void onKey(std::uint32_t key, bool pressed);
    void onPointerButton(std::uint32_t button, bool pressed);
    void onPointerMotion(double x, double y);
    void onAxis(long steps);
    void finish(unsigned int command) {
        done_ = true;
        picked_ = command;
    }

    DisplayPtr display_;
    RegistryPtr registry_;
    CompositorPtr compositor_;
    std::uint32_t compositorVersion_ = 0;
    ShmPtr shm_;
    SeatPtr seat_;
    std::uint32_t seatVersion_ = 0;
    KeyboardPtr keyboard_;
    PointerPtr pointer_;
    std::vector<std::unique_ptr<Output>> outputs_;
    LayerShellPtr layerShell_;
    ViewporterPtr viewporter_;

    XkbContextPtr xkbContext_;
    XkbKeymapPtr keymap_;
    XkbStatePtr xkbState_;
    std::int32_t repeatRate_ = 25;
    std::int32_t repeatDelay_ = 600;
    FileDescriptor repeatTimer_;
    std::uint32_t repeatKey_ = 0;
    bool connected_ = false;
    bool keyboardIsNew_ = false;

    LayerSurface catcher_;
    bool catcherTried_ = false;
    std::unique_ptr<ShmBuffer> catcherBuffer_;
    LayerSurface menu_;
    std::vector<std::unique_ptr<ShmBuffer>> buffers_;

    // The menu being shown.
    bool tracking_ = false;
    bool done_ = false;
    unsigned int picked_ = 0;
    unsigned int flags_ = 0;
    int anchorX_ = 0;
    int anchorY_ = 0;
    const std::vector<MenuItem>* items_ = nullptr;
    std::vector<MenuRowText> rows_;
    std::optional<MenuNavigator> navigator_;
    bool fontsReady_ = false;
    FontPtr font_;
    ImagePtr inkText_;
    ImagePtr inkHighlightText_;
    int scale_ = 1;
    int border_ = 1;
    int padLeft_ = 10;
    int padRight_ = 10;
    int gap_ = 24;
    int rowPad_ = 3;
    int rowHeight_ = 0;
    int arrowHeight_ = 12;
    int bufferWidth_ = 0; // the menu in buffer pixels
    int bufferHeight_ = 0;
    int width_ = 0; // the menu in surface (logical) pixels
    int height_ = 0;
    MenuGeometry geometry_; // in buffer pixels, the frame at the surface's origin
    MenuRect rect_;
    wl_surface* pointerSurface_ = nullptr;
    double pointerX_ = 0;
    double pointerY_ = 0;
    static constexpr std::size_t NO_ITEM = std::numeric_limits<std::size_t>::max();
    std::size_t pressedItem_ = NO_ITEM;
    int scrollDirection_ = 0;
    long pendingDiscrete_ = 0;
    double pendingAxis_ = 0;
    double axisRemainder_ = 0;
};

MenuDisplayWayland::~MenuDisplayWayland() {
    // Proxies go before the connection that holds them.
    buffers_.clear();
    catcherBuffer_.reset();
    menu_.destroy();
    catcher_.destroy();
    keyboard_.reset();
    pointer_.reset();
    seat_.reset();
    outputs_.clear();
    layerShell_.reset();
    viewporter_.reset();
    shm_.reset();
    compositor_.reset();
    registry_.reset();
    font_.reset();
    if (fontsReady_)
        velmora_font_library_fini();
}

bool MenuDisplayWayland::pump(int timeoutMs, int timer, bool* timerFired) {
    wl_display* display = display_.get();
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0)
            return false;
    }
    while (wl_display_flush(display) < 0) {
        if (errno != EAGAIN) {
            wl_display_cancel_read(display);
            return false;
        }
        pollfd out{wl_display_get_fd(display), POLLOUT, 0};
        if (::poll(&out, 1, ANSWER_MILLISECONDS) <= 0) {
            wl_display_cancel_read(display);
            return false;
        }
    }
    pollfd waits[2] = {{wl_display_get_fd(display), POLLIN, 0}, {timer, POLLIN, 0}};
    const int ready = ::poll(waits, timer >= 0 ? 2 : 1, timeoutMs);
    if (ready < 0) {
        wl_display_cancel_read(display);
        return errno == EINTR;
    }
    if ((waits[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        if (wl_display_read_events(display) < 0)
            return false;
    } else {
        wl_display_cancel_read(display);
    }
    if (timerFired != nullptr)
        *timerFired = timer >= 0 && (waits[1].revents & POLLIN) != 0;
    return wl_display_dispatch_pending(display) >= 0 && wl_display_get_error(display) == 0;
}

template <typename Done> bool MenuDisplayWayland::pumpUntil(Done done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || !pump(static_cast<int>(left)))
            return false;
    }
    return true;
}

bool MenuDisplayWayland::roundtrip() {
    bool answered = false;
    const CallbackPtr callback(wl_display_sync(display_.get()));
    static const wl_callback_listener listener{
        [](void* flag, wl_callback*, std::uint32_t) { *static_cast<bool*>(flag) = true; }};
    wl_callback_add_listener(callback.get(), &listener, &answered);
    return pumpUntil([&] { return answered; });
}

bool MenuDisplayWayland::connect() {
    static const wl_output_listener outputListener{
        [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
           const char*, const char*, std::int32_t) {},
        [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {},
        [](void*, wl_output*) {},
        [](void* data, wl_output*, std::int32_t factor) {
            static_cast<Output*>(data)->scale = std::max(1, factor);
        },
        [](void*, wl_output*, const char*) {},
        [](void*, wl_output*, const char*) {},
    };
    static const wl_registry_listener registryListener{
        [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
           std::uint32_t version) {
            auto& self = *static_cast<MenuDisplayWayland*>(data);
            const auto bind = [&](const wl_interface* type, std::uint32_t most) {
                return wl_registry_bind(registry, name, type, std::min(version, most));
            };
            if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
                self.compositorVersion_ = std::min(version, 4u);
                own(self.compositor_,
                    static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4)));
            } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
                own(self.shm_, static_cast<wl_shm*>(bind(&wl_shm_interface, 1)));
            } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self.seat_) {
                self.seatVersion_ = std::min(version, 7u);
                own(self.seat_, static_cast<wl_seat*>(bind(&wl_seat_interface, 7)));
            } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
                auto output = std::make_unique<Output>();
                output->name = name;
                own(output->output, static_cast<wl_output*>(bind(&wl_output_interface, 2)));
                wl_output_add_listener(output->output.get(), &outputListener, output.get());
                self.outputs_.push_back(std::move(output));
            } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
                own(self.layerShell_,
                    static_cast<zwlr_layer_shell_v1*>(bind(&zwlr_layer_shell_v1_interface, 3)));
            } else if (std::strcmp(interface, wp_viewporter_interface.name) == 0) {
                own(self.viewporter_,
                    static_cast<wp_viewporter*>(bind(&wp_viewporter_interface, 1)));
            }
        },
        [](void* data, wl_registry*, std::uint32_t name) {
            auto& outputs = static_cast<MenuDisplayWayland*>(data)->outputs_;
            outputs.erase(std::remove_if(outputs.begin(), outputs.end(),
                                         [&](const auto& o) { return o->name == name; }),
                          outputs.end());
        },
    };
    own(registry_, wl_display_get_registry(display_.get()));
    if (!registry_)
        return false;
    wl_registry_add_listener(registry_.get(), &registryListener, this);
    // The first round trip lists the globals, the second brings the outputs'
    // scales and the seat's capabilities.
    if (!roundtrip() || !layerShell_ || !compositor_ || !shm_)
        return false;
    own(xkbContext_, xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (seat_) {
        static const wl_seat_listener seatListener{
            [](void* data, wl_seat* seat, std::uint32_t capabilities) {
                auto& self = *static_cast<MenuDisplayWayland*>(data);
                self.capabilities(seat, capabilities);
            },
            [](void*, wl_seat*, const char*) {},
        };
        wl_seat_add_listener(seat_.get(), &seatListener, this);
    }
    connected_ = roundtrip();
    return connected_;
}

void MenuDisplayWayland::capabilities(wl_seat* seat, std::uint32_t capabilities) {
    static const wl_keyboard_listener keyboardListener{
        // keymap
        [](void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size) {
            auto& self = *static_cast<MenuDisplayWayland*>(data);
            const FileDescriptor owned(fd);
            if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || !self.xkbContext_ || size == 0)
                return;
            void* text = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, owned.get(), 0);
            if (text == MAP_FAILED)
                return;
            const MappingPtr mapping(text, MappingTraits{size});
            XkbKeymapPtr keymap(
                xkb_keymap_new_from_buffer(self.xkbContext_.get(), static_cast<const char*>(text),
                                           ::strnlen(static_cast<const char*>(text), size),
                                           XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
            if (!keymap)
                return;
            XkbStatePtr state(xkb_state_new(keymap.get()));
            if (!state)
                return;
            self.keymap_ = std::move(keymap);
            self.xkbState_ = std::move(state);
        },
        // enter
        [](void* data, wl_keyboard*, std::uint32_t, wl_surface*, wl_array* keys) {
            auto& self = *static_cast<MenuDisplayWayland*>(data);
            if (!std::exchange(self.keyboardIsNew_, false))
                return;
            const auto* key = static_cast<const std::uint32_t*>(keys->data);
            for (std::size_t i = 0; i < keys->size / sizeof *key; ++i)
                self.onKey(key[i], true);
        },
        // leave: keys held are no longer ours
        [](void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
            auto& self = *static_cast<MenuDisplayWayland*>(data);
            self.repeatKey_ = 0;
            if (self.repeatTimer_) {
                const itimerspec off{};
                ::timerfd_settime(self.repeatTimer_.get(), 0, &off, nullptr);
            }
        },
        // key
        [](void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
           std::uint32_t state) {
            static_cast<MenuDisplayWayland*>(data)->onKey(key,
                                                          state == WL_KEYBOARD_KEY_STATE_PRESSED);
        },
        // modifiers
        [](void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed, std::uint32_t latched,
           std::uint32_t locked, std::uint32_t group) {
            auto& self = *static_cast<MenuDisplayWayland*>(data);
            if (self.xkbState_)
                xkb_state_update_mask(self.xkbState_.get(), depressed, latched, locked, 0, 0,
                                      group);
        },
        // repeat_info
        [](void* data, wl_keyboard*, std::int32_t rate, std::int32_t delay) {
            auto& self = *static_cast<MenuDisplayWayland*>(data);
            self.repeatRate_ = std::max(rate, 0);
            self.repeatDelay_ = std::max(delay, 0);
        },
    };
    static const wl_pointer_listener pointerListener{
        // enter
        [](void* data, wl_pointer*, std::uint32_t, wl_surface* surface, wl_fixed_t x,
           wl_fixed_t y) {
            auto& self = *static_cast<MenuDisplayWayland*>(data);
            self.pointerSurface_ = surface;
            self.onPointerMotion(wl_fixed_to_double(x), wl_fixed_to_double(y));
        },
        // leave
        [](void* data, wl_pointer*, std::uint32_t, wl_surface*) {
            auto& self = *static_cast<MenuDisplayWayland*>(data);
            self.pointerSurface_ = nullptr;
            self.scrollDirection_ = 0;
        },
        // motion
        [](void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
            static_cast<MenuDisplayWayland*>(data)->onPointerMotion(wl_fixed_to_double(x),
                                                                    wl_fixed_to_double(y));
        },
        // button
        [](void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t button,
           std::uint32_t state) {
            static_cast<MenuDisplayWayland*>(data)->onPointerButton(
                button, state == WL_POINTER_BUTTON_STATE_PRESSED);
        },
        // axis
        [](void* data, wl_pointer*, std::uint32_t, std::uint32_t axis, wl_fixed_t value) {
            auto& self = *static_cast<MenuDisplayWayland*>(data);
            if (axis != WL_POINTER_AXIS_VERTICAL_SCROLL)
                return;
            self.pendingAxis_ += wl_fixed_to_double(value);
            if (self.seatVersion_ < WL_POINTER_FRAME_SINCE_VERSION) {
                // No frames: each event stands alone.
                self.axisRemainder_ += std::exchange(self.pendingAxis_, 0.0);
                const double steps = std::trunc(self.axisRemainder_ / AXIS_STEP);
                self.axisRemainder_ -= steps * AXIS_STEP;
                self.onAxis(static_cast<long>(steps));
            }
        },
        // frame: a wheel's clicks when they were told, else the distance
        [](void* data, wl_pointer*) {
            auto& self = *static_cast<MenuDisplayWayland*>(data);
            const double distance = std::exchange(self.pendingAxis_, 0.0);
            const long discrete = std::exchange(self.pendingDiscrete_, 0);
            if (discrete != 0) {
                self.axisRemainder_ = 0;
                self.onAxis(discrete);
                return;
            }
            self.axisRemainder_ += distance;
            const double steps = std::trunc(self.axisRemainder_ / AXIS_STEP);
            self.axisRemainder_ -= steps * AXIS_STEP;
            self.onAxis(static_cast<long>(steps));
        },
        // axis_source, axis_stop
        [](void*, wl_pointer*, std::uint32_t) {},
        [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
        // axis_discrete
        [](void* data, wl_pointer*, std::uint32_t axis, std::int32_t discrete) {
            if (axis == WL_POINTER_AXIS_VERTICAL_SCROLL)
                static_cast<MenuDisplayWayland*>(data)->pendingDiscrete_ += discrete;
        },
        // axis_value120 (not asked for: the seat is bound below version 8)
        nullptr,
    };
    const bool wantKeyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    const bool wantPointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (wantKeyboard && !keyboard_) {
        own(keyboard_, wl_seat_get_keyboard(seat));
        keyboardIsNew_ = connected_;
        wl_keyboard_add_listener(keyboard_.get(), &keyboardListener, this);
    } else if (!wantKeyboard) {
        keyboard_.reset();
    }
    if (wantPointer && !pointer_) {
        own(pointer_, wl_seat_get_pointer(seat));
        wl_pointer_add_listener(pointer_.get(), &pointerListener, this);
    } else if (!wantPointer) {
        pointer_.reset();
        pointerSurface_ = nullptr;
    }
}

bool MenuDisplayWayland::createLayerSurface(LayerSurface& target, std::uint32_t anchor,
                                            std::uint32_t keyboard) {
    static const wl_surface_listener surfaceListener{
        [](void* data, wl_surface*, wl_output* output) {
            static_cast<LayerSurface*>(data)->output = output;
        },
        [](void*, wl_surface*, wl_output*) {},
    };
    static const zwlr_layer_surface_v1_listener layerListener{
        [](void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t width,
           std::uint32_t height) {
            auto& surface = *static_cast<LayerSurface*>(data);
            surface.serial = serial;
            surface.width = width;
            surface.height = height;
            surface.configured = true;
            surface.pendingConfigure = true;
        },
        [](void* data, zwlr_layer_surface_v1*) { static_cast<LayerSurface*>(data)->closed = true; },
    };
    own(target.surface, wl_compositor_create_surface(compositor_.get()));
    if (!target.surface)
        return false;
    wl_surface_add_listener(target.surface.get(), &surfaceListener, &target);
    own(target.layer,
        zwlr_layer_shell_v1_get_layer_surface(layerShell_.get(), target.surface.get(), nullptr,
                                              ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "velmora"));
    if (!target.layer)
        return false;
    zwlr_layer_surface_v1_add_listener(target.layer.get(), &layerListener, &target);
    zwlr_layer_surface_v1_set_anchor(target.layer.get(), anchor);
    // Placed against the whole output, whatever panels reserve.
    zwlr_layer_surface_v1_set_exclusive_zone(target.layer.get(), -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(target.layer.get(), keyboard);
    return true;
}

bool MenuDisplayWayland::outputArea() {
    if (catcherTried_)
        return catcher_.configured && !catcher_.closed;
    catcherTried_ = true;
    constexpr std::uint32_t all =
        ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
        ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;
    if (!createLayerSurface(catcher_, all, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE))
        return false;
    wl_surface_commit(catcher_.surface.get());
    if (!pumpUntil([&] { return catcher_.configured || catcher_.closed; }) || catcher_.closed ||
        catcher_.width == 0 || catcher_.height == 0)
        return false;
    // A transparent pixel stretched over the output where the compositor
    // can stretch it, else a transparent buffer of the output's size.
    zwlr_layer_surface_v1_ack_configure(catcher_.layer.get(), catcher_.serial);
    catcher_.pendingConfigure = false;
    if (viewporter_) {
        catcherBuffer_ = createBuffer(shm_.get(), 1, 1);
        own(catcher_.viewport,
            wp_viewporter_get_viewport(viewporter_.get(), catcher_.surface.get()));
        wp_viewport_set_destination(catcher_.viewport.get(),
                                    static_cast<std::int32_t>(catcher_.width),
                                    static_cast<std::int32_t>(catcher_.height));
    } else {
        catcherBuffer_ = createBuffer(shm_.get(), static_cast<int>(catcher_.width),
                                      static_cast<int>(catcher_.height));
    }
    if (!catcherBuffer_)
        return false;
    std::memset(catcherBuffer_->pixels.get(), 0,
                static_cast<std::size_t>(catcherBuffer_->width) * catcherBuffer_->height * 4);
    wl_surface_attach(catcher_.surface.get(), catcherBuffer_->buffer.get(), 0, 0);
    wl_surface_commit(catcher_.surface.get());
    // Shown, the surface learns its output (and so the scale) at once.
    return roundtrip() && !catcher_.closed;
}

int MenuDisplayWayland::scaleOf(wl_output* output) const {
    int scale = 1;
    for (const auto& o : outputs_) {
        if (o->output.get() == output)
            return o->scale;
        scale = std::max(scale, o->scale);
    }
    return scale; // not known yet: the largest, which stays crisp everywhere
}

void MenuDisplayWayland::parseItems(const std::vector<MenuItem>& items) {
    std::vector<MenuTitle> titles = parseMenuTitles(items);
    rows_.clear();
    rows_.reserve(titles.size());
    for (const MenuTitle& title : titles)
        rows_.push_back(menuRowText(title));
    navigator_.emplace(std::move(titles), 1);
}

int MenuDisplayWayland::drawText(pixman_image_t* image, pixman_image_t* ink, int x, int baseline,
                                 std::u32string_view text, std::size_t count, bool draw) {
    int pen = x;
    for (std::size_t i = 0; i < count && i < text.size(); ++i) {
        velmora_glyph glyph{};
        if (!velmora_font_glyph(font_.get(), static_cast<std::uint32_t>(text[i]), &glyph))
            continue;
        if (draw) {
            if (glyph.color)
                pixman_image_composite32(PIXMAN_OP_OVER, glyph.image, nullptr, image, 0, 0, 0, 0,
                                         pen + glyph.x, baseline - glyph.y, glyph.width,
                                         glyph.height);
            else
                pixman_image_composite32(PIXMAN_OP_OVER, ink, glyph.image, image, 0, 0, 0, 0,
                                         pen + glyph.x, baseline - glyph.y, glyph.width,
                                         glyph.height);
        }
        pen += glyph.advance;
    }
    return pen - x;
}

void MenuDisplayWayland::layout(int scale) {
    scale_ = std::max(1, scale);
    own(font_, velmora_font_open(MENU_FONT_PIXELS * scale_));
    const auto scaled = [&](int pixels) { return pixels * scale_; };
    border_ = scaled(1);
    const int margin = scaled(2);
    padLeft_ = scaled(10);
    padRight_ = scaled(10);
    gap_ = scaled(24);
    rowPad_ = scaled(3);
    arrowHeight_ = scaled(12);
    const int ascent = font_ ? velmora_font_ascent(font_.get()) : 0;
    const int descent = font_ ? velmora_font_descent(font_.get()) : 0;
    rowHeight_ = ascent + descent + 2 * rowPad_;

    const long long widest =
        !font_ ? 0 : widestMenuRow(rows_, gap_, [this](std::u32string_view text) -> long long {
            return textWidth(text, text.size());
        });
    const long long frame = 2LL * border_;
    long long width = std::max<long long>(frame + padLeft_ + widest + padRight_, scaled(48));
    long long height = frame + 2LL * margin + static_cast<long long>(rows_.size()) * rowHeight_;
    const long long screenWidth = static_cast<long long>(catcher_.width) * scale_;
    const long long screenHeight = static_cast<long long>(catcher_.height) * scale_;
    std::size_t visible = std::max<std::size_t>(rows_.size(), 1);
    bool scrolling = false;
    if (!rows_.empty() && screenHeight > 0 && height > screenHeight && rowHeight_ > 0) {
        // Taller than the output: show what fits between two scroll arrows.
        scrolling = true;
        const long long room = screenHeight - frame - 2LL * margin - 2LL * arrowHeight_;
        visible = static_cast<std::size_t>(std::max<long long>(room / rowHeight_, 1));
        height = frame + 2LL * margin + 2LL * arrowHeight_ +
                 static_cast<long long>(visible) * rowHeight_;
    }
    if (screenWidth > 0)
        width = std::min(width, screenWidth);
    // Whole surface pixels: the buffer is a multiple of the scale.
    width_ = static_cast<int>(std::min<long long>((width + scale_ - 1) / scale_, 1 << 13));
    height_ = static_cast<int>(std::min<long long>((height + scale_ - 1) / scale_, 1 << 13));
    bufferWidth_ = width_ * scale_;
    bufferHeight_ = height_ * scale_;
    geometry_ = MenuGeometry{};
    geometry_.frame = MenuRect{0, 0, bufferWidth_, bufferHeight_};
    geometry_.border = border_;
    geometry_.margin = margin;
    geometry_.arrowHeight = scrolling ? arrowHeight_ : 0;
    geometry_.rowHeight = rowHeight_;
    geometry_.rows = visible;
    navigator_->setVisibleRows(visible);
}

bool MenuDisplayWayland::place() {
    rect_ = placeMenuRect(flags_, anchorX_, anchorY_, width_, height_,
                          static_cast<int>(catcher_.width), static_cast<int>(catcher_.height));
    zwlr_layer_surface_v1_set_size(menu_.layer.get(), static_cast<std::uint32_t>(rect_.width),
                                   static_cast<std::uint32_t>(rect_.height));
    zwlr_layer_surface_v1_set_margin(menu_.layer.get(), rect_.top, 0, 0, rect_.left);
    // Clicks on the invisible surface outside the menu close it; over the
    // menu they go to the menu whichever of the two lies on top.
    const RegionPtr region(wl_compositor_create_region(compositor_.get()));
    wl_region_add(region.get(), 0, 0, static_cast<std::int32_t>(catcher_.width),
                  static_cast<std::int32_t>(catcher_.height));
    wl_region_subtract(region.get(), rect_.left, rect_.top, rect_.width, rect_.height);
    wl_surface_set_input_region(catcher_.surface.get(), region.get());
    wl_surface_commit(catcher_.surface.get());
    return true;
}

void MenuDisplayWayland::fill(pixman_image_t* image, std::uint32_t rgb, int x, int y, int width,
                              int height) {
    if (width <= 0 || height <= 0)
        return;
    const pixman_color_t color = pixmanColor(rgb);
    const pixman_rectangle16_t box{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                                   static_cast<std::uint16_t>(width),
                                   static_cast<std::uint16_t>(height)};
    pixman_image_fill_rectangles(PIXMAN_OP_SRC, image, &color, 1, &box);
}

void MenuDisplayWayland::paintRow(pixman_image_t* image, std::size_t item) {
    const std::size_t first = navigator_->firstVisible();
    if (item < first || item >= first + navigator_->visibleRows() || item >= rows_.size())
        return;
    const int top = rowTop(item - first);
    const bool lit = item == navigator_->highlighted();
    fill(image, lit ? COLOR_HIGHLIGHT : COLOR_BACKGROUND, border_, top, bufferWidth_ - 2 * border_,
         rowHeight_);
    if (!font_)
        return;
    pixman_image_t* ink = lit ? inkHighlightText_.get() : inkText_.get();
    const MenuRowText& row = rows_[item];
    const int baseline = top + rowPad_ + velmora_font_ascent(font_.get());
    const int left = border_ + padLeft_;
    drawText(image, ink, left, baseline, row.left, row.left.size(), true);
    if (row.mnemonic < row.left.size()) {
        const int start = textWidth(row.left, row.mnemonic);
        const int end = textWidth(row.left, row.mnemonic + 1);
        const int thickness = scale_;
        const int underline =
            baseline +
            std::max(1, std::min(velmora_font_descent(font_.get()) - thickness, 2 * scale_));
        fill(image, lit ? COLOR_HIGHLIGHT_TEXT : COLOR_TEXT, left + start, underline, end - start,
             thickness);
    }
    if (!row.right.empty()) {
        const int right =
            bufferWidth_ - border_ - padRight_ - textWidth(row.right, row.right.size());
        drawText(image, ink, right, baseline, row.right, row.right.size(), true);
    }
}

void MenuDisplayWayland::paintArrow(pixman_image_t* image, bool up) {
    const int top = up ? border_ + geometry_.margin : rowTop(geometry_.rows);
    fill(image, COLOR_BACKGROUND, border_, top, bufferWidth_ - 2 * border_, arrowHeight_);
    const std::size_t first = navigator_->firstVisible();
    const bool canMove =
        up ? first > 0 : first + navigator_->visibleRows() < navigator_->itemCount();
    // A triangle of horizontal lines, widest at its base.
    const int half = std::max(2, arrowHeight_ / 3);
    const int cx = bufferWidth_ / 2;
    const int cy = top + arrowHeight_ / 2;
    const int lines = half;
    for (int i = 0; i < lines; ++i) {
        const int span = (i + 1) * half / lines;
        const int y = up ? cy - lines / 2 + i : cy + lines / 2 - i;
        fill(image, canMove ? COLOR_TEXT : COLOR_ARROW_OFF, cx - span, y, 2 * span + 1, 1);
    }
}

void MenuDisplayWayland::paint() {
    ShmBuffer* target = nullptr;
    for (auto& buffer : buffers_) {
        if (!buffer->busy && buffer->width == bufferWidth_ && buffer->height == bufferHeight_) {
            target = buffer.get();
            break;
        }
    }
    if (target == nullptr) {
        buffers_.erase(std::remove_if(buffers_.begin(), buffers_.end(),
                                      [](const auto& b) { return !b->busy; }),
                       buffers_.end());
        auto buffer = createBuffer(shm_.get(), bufferWidth_, bufferHeight_);
        if (!buffer) {
            finish(0); // nothing can be shown
            return;
        }
        target = buffer.get();
        buffers_.push_back(std::move(buffer));
    }
    pixman_image_t* image = target->image.get();
    fill(image, COLOR_BORDER, 0, 0, bufferWidth_, bufferHeight_);
    fill(image, COLOR_BACKGROUND, border_, border_, bufferWidth_ - 2 * border_,
         bufferHeight_ - 2 * border_);
    if (geometry_.scrolls()) {
        paintArrow(image, true);
        paintArrow(image, false);
    }
    const std::size_t first = navigator_->firstVisible();
    for (std::size_t i = first; i < first + navigator_->visibleRows() && i < rows_.size(); ++i)
        paintRow(image, i);
    wl_surface* surface = menu_.surface.get();
    wl_surface_set_buffer_scale(surface, scale_);
    wl_surface_attach(surface, target->buffer.get(), 0, 0);
    if (compositorVersion_ >= WL_SURFACE_DAMAGE_BUFFER_SINCE_VERSION)
        wl_surface_damage_buffer(surface, 0, 0, bufferWidth_, bufferHeight_);
    else
        wl_surface_damage(surface, 0, 0, width_, height_);
    wl_surface_commit(surface);
    target->busy = true;
}

void MenuDisplayWayland::changed(std::size_t oldHighlight, std::size_t oldFirst) {
    if (tracking_ && !done_ &&
        (navigator_->highlighted() != oldHighlight || navigator_->firstVisible() != oldFirst))
        paint();
}

void MenuDisplayWayland::scrollBy(long rows) {
    const std::size_t highlight = navigator_->highlighted();
    const std::size_t first = navigator_->firstVisible();
    navigator_->scroll(rows);
    changed(highlight, first);
}

void MenuDisplayWayland::onKey(std::uint32_t key, bool pressed) {
    if (!tracking_ || done_ || !xkbState_)
        return;
    const xkb_keycode_t code = key + 8; // evdev codes to XKB's
    if (!pressed) {
        if (key == repeatKey_) {
            repeatKey_ = 0;
            const itimerspec off{};
            ::timerfd_settime(repeatTimer_.get(), 0, &off, nullptr);
        }
        return;
    }
    const std::size_t oldHighlight = navigator_->highlighted();
    const std::size_t oldFirst = navigator_->firstVisible();
    std::optional<MenuNavigator::Result> result;
    const xkb_keysym_t keysym = xkb_state_key_get_one_sym(xkbState_.get(), code);
    if (const auto navigation = menuKeyOf(keysym)) {
        result = navigator_->press(*navigation);
    } else {
        const std::uint32_t c = xkb_state_key_get_utf32(xkbState_.get(), code);
        if (c >= 0x20 && c != 0x7F)
            result = navigator_->type(static_cast<char32_t>(c));
    }
    if (result == MenuNavigator::Result::Dismissed) {
        finish(0);
        return;
    }
    if (result == MenuNavigator::Result::Picked) {
        finish((*items_)[navigator_->highlighted()].commandId);
        return;
    }
    changed(oldHighlight, oldFirst);
    // Held navigation keys repeat at the pace the compositor announced.
    if (repeatTimer_ && repeatRate_ > 0 && key != repeatKey_ && keymap_ &&
        xkb_keymap_key_repeats(keymap_.get(), code) != 0) {
        repeatKey_ = key;
        const long interval = 1000000000L / repeatRate_;
        itimerspec timing{};
        timing.it_value.tv_sec = repeatDelay_ / 1000;
        timing.it_value.tv_nsec = (repeatDelay_ % 1000) * 1000000L + 1;
        timing.it_interval.tv_sec = interval / 1000000000L;
        timing.it_interval.tv_nsec = interval % 1000000000L;
        ::timerfd_settime(repeatTimer_.get(), 0, &timing, nullptr);
    }
}

void MenuDisplayWayland::onPointerMotion(double x, double y) {
    pointerX_ = x;
    pointerY_ = y;
    if (!tracking_ || done_ || pointerSurface_ != menu_.surface.get() || !menu_.surface) {
        scrollDirection_ = 0;
        return;
    }
    const MenuHit hit = hitTest(x, y);
    scrollDirection_ = hit.kind == MenuHit::Kind::ScrollUp     ? -1
                       : hit.kind == MenuHit::Kind::ScrollDown ? 1
                                                               : 0;
    if (hit.kind == MenuHit::Kind::Item) {
        const std::size_t oldHighlight = navigator_->highlighted();
        const std::size_t oldFirst = navigator_->firstVisible();
        navigator_->point(hit.item);
        changed(oldHighlight, oldFirst);
    }
}

void MenuDisplayWayland::onPointerButton(std::uint32_t button, bool pressed) {
    if (!tracking_ || done_)
        return;
    const bool onMenu = pointerSurface_ != nullptr && pointerSurface_ == menu_.surface.get();
    if (!onMenu) {
        // Any button outside the menu closes it.
        if (pressed && pointerSurface_ != nullptr)
            finish(0);
        return;
    }
    const MenuHit hit = hitTest(pointerX_, pointerY_);
    if (pressed) {
        pressedItem_ = NO_ITEM;
        if (hit.kind == MenuHit::Kind::Item) {
            // Only the left button picks, as without TPM_RIGHTBUTTON.
            if (button == BTN_LEFT)
                pressedItem_ = hit.item;
            const std::size_t oldHighlight = navigator_->highlighted();
            const std::size_t oldFirst = navigator_->firstVisible();
            navigator_->point(hit.item);
            changed(oldHighlight, oldFirst);
        } else if (hit.kind == MenuHit::Kind::ScrollUp || hit.kind == MenuHit::Kind::ScrollDown) {
            scrollBy(hit.kind == MenuHit::Kind::ScrollUp ? -1 : 1);
        }
        return;
    }
    if (button != BTN_LEFT)
        return;
    const bool clicked =
        pressedItem_ != NO_ITEM && hit.kind == MenuHit::Kind::Item && pressedItem_ == hit.item;
    pressedItem_ = NO_ITEM;
    if (clicked)
        finish((*items_)[hit.item].commandId);
}

void MenuDisplayWayland::onAxis(long steps) {
    if (tracking_ && !done_ && steps != 0 && pointerSurface_ == menu_.surface.get())
        scrollBy(steps);
}

unsigned int MenuDisplayWayland::track(const std::vector<MenuItem>& items, unsigned int flags,
                                       int x, int y) {
    const unsigned int command = show(items, flags, x, y);
    tracking_ = false;
    // The menu is gone from the screen before anything is launched.
    menu_.destroy();
    catcher_.destroy();
    roundtrip();
    buffers_.clear();
    catcherBuffer_.reset();
    return command;
}

unsigned int MenuDisplayWayland::show(const std::vector<MenuItem>& items, unsigned int flags, int x,
                                      int y) {
    if (!outputArea())
        return 0;
    if (!fontsReady_) {
        fontsReady_ = velmora_font_library_init();
        if (!fontsReady_)
            return 0;
    }
    const pixman_color_t text = pixmanColor(COLOR_TEXT);
    const pixman_color_t highlightText = pixmanColor(COLOR_HIGHLIGHT_TEXT);
    own(inkText_, pixman_image_create_solid_fill(&text));
    own(inkHighlightText_, pixman_image_create_solid_fill(&highlightText));
    repeatTimer_ = FileDescriptor(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
    items_ = &items;
    flags_ = flags;
    anchorX_ = x;
    anchorY_ = y;
    parseItems(items);
    layout(scaleOf(catcher_.output));
    if (!font_)
        return 0;

    constexpr std::uint32_t topLeft =
        ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT;
    if (!createLayerSurface(menu_, topLeft, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE))
        return 0;
    place();
    wl_surface_commit(menu_.surface.get());
    if (!pumpUntil([&] { return menu_.configured || menu_.closed; }) || menu_.closed)
        return 0;

    tracking_ = true;
    done_ = false;
    picked_ = 0;
    int shownScale = 0;
    std::uint32_t outputWidth = catcher_.width;
    std::uint32_t outputHeight = catcher_.height;
    bool timerFired = false;
    auto nextScroll = std::chrono::steady_clock::now();
    for (;;) {
        if (menu_.closed || catcher_.closed)
            return 0;
        if (done_)
            return picked_;
        if (menu_.pendingConfigure) {
            // The compositor confirms the menu's size as it rearranges its
            // layers: drawn the first time, acknowledged after that.
            zwlr_layer_surface_v1_ack_configure(menu_.layer.get(), menu_.serial);
            menu_.pendingConfigure = false;
            if (shownScale == 0) {
                paint();
                shownScale = scale_;
            } else {
                wl_surface_commit(menu_.surface.get());
            }
        }
        if (catcher_.pendingConfigure) {
            const bool resized = catcher_.width != outputWidth || catcher_.height != outputHeight;
            zwlr_layer_surface_v1_ack_configure(catcher_.layer.get(), catcher_.serial);
            catcher_.pendingConfigure = false;
            if (resized && catcher_.width > 0 && catcher_.height > 0) {
                // The output changed size: the menu is placed anew.
                outputWidth = catcher_.width;
                outputHeight = catcher_.height;
                if (catcher_.viewport)
                    wp_viewport_set_destination(catcher_.viewport.get(),
                                                static_cast<std::int32_t>(catcher_.width),
                                                static_cast<std::int32_t>(catcher_.height));
                shownScale = 0;
            } else {
                wl_surface_commit(catcher_.surface.get());
            }
        }
        if (shownScale != 0 && menu_.output != nullptr && scaleOf(menu_.output) != scale_)
            shownScale = 0;
        if (shownScale == 0 && menu_.configured && !menu_.pendingConfigure) {
            // Drawn again for the output it is on, at that output's scale.
            layout(menu_.output != nullptr ? scaleOf(menu_.output) : scale_);
            if (!font_)
                return 0;
            place();
            paint();
            shownScale = scale_;
        }
        if (done_)
            return picked_;
        const int timeout = scrollDirection_ != 0 ? SCROLL_REPEAT_MILLISECONDS : -1;
        timerFired = false;
        if (!pump(timeout, repeatTimer_.get(), &timerFired))
            return 0; // the compositor went away
        if (timerFired) {
            std::uint64_t expirations = 0;
            if (::read(repeatTimer_.get(), &expirations, sizeof expirations) > 0 &&
                repeatKey_ != 0) {
                const std::uint32_t key = repeatKey_;
                repeatKey_ = key; // keeps the timer running: onKey sees the same key
                onKey(key, true);
            }
        } else if (scrollDirection_ != 0 && std::chrono::steady_clock::now() >= nextScroll) {
            scrollBy(scrollDirection_);
            nextScroll = std::chrono::steady_clock::now() +
                         std::chrono::milliseconds(SCROLL_REPEAT_MILLISECONDS);
        }
    }
}

} // namespace

std::unique_ptr<MenuDisplay> openMenuDisplayWayland() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    const char* socket = std::getenv("WAYLAND_SOCKET");
    if ((name == nullptr || *name == '\0') && (socket == nullptr || *socket == '\0'))
        return nullptr;
    if (!loadWaylandLibraries())
        return nullptr;
    DisplayPtr display(wl_display_connect(nullptr));
    if (!display)
        return nullptr;
    auto menu = std::make_unique<MenuDisplayWayland>(std::move(display));
    if (!menu->connect())
        return nullptr;
    return menu;
}

} // namespace velmora
