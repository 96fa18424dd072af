// The Wayland pop-up menu: a surface on the overlay layer of the layer shell
// that holds the keyboard exclusively while it is open, drawn with pixman into
// shared-memory buffers and driven by the core's menu session, so that it
// behaves as the X11 and terminal menus do. A second, invisible surface
// covers the rest of the output and catches the click outside the menu that
// closes it. Where the compositor has no layer shell but xdg-shell (GNOME's
// mutter, Weston), the menu is drawn instead on one transparent, maximised
// toplevel that takes the keyboard as a new window does and catches the
// clicks around the menu; it closes when it loses the keyboard. A compositor
// with neither is declined quietly.
//
// The parts: wayland_connection (the globals and the waiting for events),
// wayland_input (the seat's keyboard and pointer), wayland_surfaces (layer
// surfaces and buffers), wayland_scale (how large a buffer may be),
// wayland_toplevel (the toplevel), wayland_paint (the drawing) and
// wayland_showing (one showing of the menu, at whole scales or, where the
// compositor offers them, fractional ones).
#include "display/menu_display.h"
#include "display/wayland/wayland_showing.h"
#include "display/wayland/wayland_toplevel.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace velmora {

using namespace wayland;

namespace {

class MenuDisplayWayland : public MenuDisplay {
public:
    explicit MenuDisplayWayland(DisplayPtr display) : connection_(std::move(display)) {}
    ~MenuDisplayWayland() override;
    MenuDisplayWayland(const MenuDisplayWayland&) = delete;
    MenuDisplayWayland& operator=(const MenuDisplayWayland&) = delete;

    // Binds the globals and learns the seat; false when the compositor
    // lacks one the menu needs.
    bool connect();

    int screenWidth() override { return outputArea() ? static_cast<int>(catcher_->width) : 0; }
    int screenHeight() override { return outputArea() ? static_cast<int>(catcher_->height) : 0; }
    unsigned int track(const std::vector<MenuItem>& items, unsigned int flags, int x,
                       int y) override;

private:
    // The invisible surface over the whole output (or the toplevel over the
    // work area): its configure tells the area's logical size. False when
    // it could not be had.
    bool outputArea();
    bool openLayerCatcher();
    bool openToplevel();
    bool showCatcher();
    bool onePiece() const { return connection_.layerShell() == nullptr; }

    WaylandConnection connection_;
    std::unique_ptr<WaylandSeat> seat_;
    std::unique_ptr<ShellSurface> catcher_;
    bool catcherTried_ = false;
    std::unique_ptr<ShmBuffer> catcherBuffer_;
};

MenuDisplayWayland::~MenuDisplayWayland() {
    // Proxies go before the connection that holds them.
    catcherBuffer_.reset();
    catcher_.reset();
    seat_.reset();
    velmora_font_library_fini();
}

bool MenuDisplayWayland::connect() {
    if (!connection_.bindGlobals())
        return false;
    seat_ = std::make_unique<WaylandSeat>(connection_.seat());
    // The outputs' scales, and the seat's capabilities: the keyboard and
    // pointer it has now.
    if (!connection_.roundtrip())
        return false;
    seat_->settle();
    return true;
}

bool MenuDisplayWayland::outputArea() {
    if (catcherTried_)
        return catcher_ && catcher_->configured && !catcher_->closed;
    catcherTried_ = true;
    return onePiece() ? openToplevel() : openLayerCatcher();
}

bool MenuDisplayWayland::openLayerCatcher() {
    auto layer = std::make_unique<LayerSurface>();
    LayerSurface& catcher = *layer;
    catcher_ = std::move(layer);
    constexpr std::uint32_t all =
        ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
        ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;
    if (!catcher.create(connection_, all, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE))
        return false;
    wl_surface_commit(catcher.surface());
    if (!connection_.pumpUntil([&] { return catcher.configured || catcher.closed; }) ||
        catcher.closed || catcher.width == 0 || catcher.height == 0)
        return false;
    catcher.acknowledge();
    // Shown, the surface learns its output (and so the scale) at once.
    return showCatcher() && connection_.roundtrip() && !catcher.closed;
}

// The maximised toplevel's configure gives the work area; a first one of
// 0 x 0 leaves the size to the client, and the maximised one follows. It is
// acknowledged here and shown with the menu's first painting.
bool MenuDisplayWayland::openToplevel() {
    auto toplevel = std::make_unique<ToplevelSurface>();
    ToplevelSurface& area = *toplevel;
    catcher_ = std::move(toplevel);
    if (!area.create(connection_))
        return false;
    handOnActivation(connection_, area.surface());
    const auto sized = [&] {
        if (area.configurePending() && (area.width == 0 || area.height == 0))
            area.acknowledge();
        return area.closed || (area.configurePending() && area.width > 0 && area.height > 0);
    };
    if (!connection_.pumpUntil(sized) || area.closed)
        return false;
    area.acknowledge();
    return true;
}

// A transparent pixel stretched over the output where the compositor can
// stretch it, else a transparent buffer of the output's size.
bool MenuDisplayWayland::showCatcher() {
    ShellSurface& catcher = *catcher_;
    const auto width = static_cast<std::int32_t>(catcher.width);
    const auto height = static_cast<std::int32_t>(catcher.height);
    if (connection_.viewporter() != nullptr) {
        catcherBuffer_ = ShmBuffer::create(connection_.shm(), 1, 1);
        own(catcher.viewport,
            wp_viewporter_get_viewport(connection_.viewporter(), catcher.surface()));
        wp_viewport_set_destination(catcher.viewport.get(), width, height);
    } else {
        catcherBuffer_ = ShmBuffer::create(connection_.shm(), width, height);
    }
    if (!catcherBuffer_)
        return false;
    std::memset(catcherBuffer_->pixels.get(), 0,
                static_cast<std::size_t>(catcherBuffer_->width) * catcherBuffer_->height * 4);
    wl_surface_attach(catcher.surface(), catcherBuffer_->buffer.get(), 0, 0);
    wl_surface_commit(catcher.surface());
    return true;
}

unsigned int MenuDisplayWayland::track(const std::vector<MenuItem>& items, unsigned int flags,
                                       int x, int y) {
    if (!outputArea())
        return 0;
    unsigned int command = 0;
    {
        WaylandMenuShowing showing(connection_, *seat_, *catcher_, onePiece(), items,
                                   MenuAnchor{flags, x, y});
        command = showing.run();
    }
    // The menu is gone from the screen before anything is launched.
    catcher_.reset();
    connection_.roundtrip();
    catcherBuffer_.reset();
    return command;
}

} // namespace

std::unique_ptr<MenuDisplay> openMenuDisplayWayland() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    const char* socket = std::getenv("WAYLAND_SOCKET");
    if ((name == nullptr || *name == '\0') && (socket == nullptr || *socket == '\0'))
        return nullptr;
    // Without remembered glyphs the font libraries are needed: a system
    // that lacks them has no Wayland menu.
    if (!loadWaylandLibraries() || (!fontGlyphsRemembered() && !loadWaylandFontLibraries()))
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
