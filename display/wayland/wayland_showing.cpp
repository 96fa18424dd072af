#include "display/wayland/wayland_showing.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <utility>

namespace velmora::wayland {

WaylandMenuShowing::WaylandMenuShowing(WaylandConnection& connection, WaylandSeat& seat,
                                       ShellSurface& catcher, bool onePiece,
                                       const std::vector<MenuItem>& items, MenuAnchor anchor)
    : connection_(connection), seat_(seat), catcher_(catcher), onePiece_(onePiece), anchor_(anchor),
      session_(items), rows_(menuRowTexts(session_.navigator())),
      fractional_(connection.fractionalScales() != nullptr), outputWidth_(catcher.width),
      outputHeight_(catcher.height) {
    seat_.setSink(this);
}

WaylandMenuShowing::~WaylandMenuShowing() {
    seat_.setSink(nullptr);
    menu_.destroy();
    buffers_.clear();
}

unsigned int WaylandMenuShowing::run() {
    if (!open())
        return 0;
    while (!session_.closed()) {
        if (menu_.closed || catcher_.closed) {
            session_.dismiss();
            break;
        }
        answerConfigures();
        // Nothing can be shown, or the compositor went away.
        if (!redrawIfMoved() || (!session_.closed() && !waitForInput()))
            session_.dismiss();
    }
    return session_.command();
}

bool WaylandMenuShowing::open() {
    if (!layout(preferredScale(FractionalScale::whole(connection_.scaleOf(catcher_.output)))))
        return false;
    if (onePiece_) {
        if (!giveViewport(catcher_))
            return false;
        return placeAndPaintAll();
    }
    constexpr std::uint32_t topLeft =
        ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT;
    if (!menu_.create(connection_, topLeft,
                      ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE) ||
        !giveViewport(menu_))
        return false;
    place();
    wl_surface_commit(menu_.surface());
    return connection_.pumpUntil([&] { return menu_.configured || menu_.closed; }) && !menu_.closed;
}

// Where the compositor offers fractional scales, the scale it prefers for
// the menu's surface, or until that is on an output the one for the
// catcher's, which lies on the same output (a surface on none is told a
// placeholder: KWin says 1); else the whole scale of the output the menu is
// on, or `otherwise` before it is on one.
FractionalScale WaylandMenuShowing::preferredScale(FractionalScale otherwise) const {
    if (fractional_) {
        for (const ShellSurface* surface :
             {&shown(), static_cast<const ShellSurface*>(&catcher_)}) {
            if (surface->output != nullptr && surface->preferredScale > 0)
                return FractionalScale{surface->preferredScale};
        }
    }
    const wl_output* output = shown().output;
    return output != nullptr ? FractionalScale::whole(connection_.scaleOf(shown().output))
                             : otherwise;
}

// The viewport through which a buffer at a fractional scale is shown at
// the surface's logical size.
bool WaylandMenuShowing::giveViewport(ShellSurface& surface) const {
    if (fractional_ && !surface.viewport)
        own(surface.viewport,
            wp_viewporter_get_viewport(connection_.viewporter(), surface.surface()));
    return !fractional_ || surface.viewport;
}

// The menu at the output's scale, or at the largest (whole, without
// fractional scales) that keeps its buffer within what a buffer may be; at
// scale 1 (or below) a menu still larger is cut to it.
bool WaylandMenuShowing::layout(FractionalScale outputScale) {
    outputScale_ = outputScale;
    FractionalScale scale = outputScale_;
    for (;;) {
        if (!layoutAt(scale, 0))
            return false;
        const long long side = scale.devicePixels(std::max(width_, height_));
        if (side <= LARGEST_BUFFER_SIDE)
            return true;
        if (scale.units <= FractionalScale::ONE)
            return layoutAt(scale, LARGEST_BUFFER_SIDE);
        scale = lowerScaleToFit(scale, side, fractional_);
    }
}

bool WaylandMenuShowing::layoutAt(FractionalScale scale, long long limit) {
    scale_ = scale;
    std::u32string titles;
    for (const MenuRowText& row : rows_)
        titles.append(row.left).append(row.right);
    if (!painter_.setScale(scale.factor(), menuCharacters(titles)))
        return false;
    const auto measure = [this](std::u32string_view text) { return painter_.measure(text); };
    const long long widest = widestMenuRow(rows_, painter_.metrics().gap, measure);
    long long screenWidth = outputWidth_;
    long long screenHeight = outputHeight_;
    if (limit > 0) {
        screenWidth = std::min(screenWidth, scale.logicalPixelsWithin(limit));
        screenHeight = std::min(screenHeight, scale.logicalPixelsWithin(limit));
    }
    // Whole buffer pixels within the screen, so that the menu's whole
    // surface pixels below stay within it.
    MenuGeometry geometry = layoutPixelMenu(painter_.metrics(), widest, painter_.fontHeight(),
                                            rows_.size(), scale.devicePixelsWithin(screenWidth),
                                            scale.devicePixelsWithin(screenHeight));
    width_ = static_cast<int>(scale.logicalPixelsHolding(geometry.frame.width));
    height_ = static_cast<int>(scale.logicalPixelsHolding(geometry.frame.height));
    geometry.frame = MenuRect{0, 0, static_cast<int>(scale.devicePixels(width_)),
                              static_cast<int>(scale.devicePixels(height_))};
    session_.setGeometry(geometry);
    return true;
}

void WaylandMenuShowing::place() {
    const MenuRect rect =
        placeMenuRect(anchor_.flags, anchor_.x, anchor_.y, width_, height_,
                      static_cast<int>(outputWidth_), static_cast<int>(outputHeight_));
    placed_ = rect;
    if (onePiece_)
        return;
    zwlr_layer_surface_v1_set_size(menu_.layer(), static_cast<std::uint32_t>(rect.width),
                                   static_cast<std::uint32_t>(rect.height));
    zwlr_layer_surface_v1_set_margin(menu_.layer(), rect.top, 0, 0, rect.left);
    // Clicks on the invisible surface outside the menu close it; over the
    // menu they go to the menu whichever of the two lies on top.
    const RegionPtr region(wl_compositor_create_region(connection_.compositor()));
    wl_region_add(region.get(), 0, 0, static_cast<std::int32_t>(outputWidth_),
                  static_cast<std::int32_t>(outputHeight_));
    wl_region_subtract(region.get(), rect.left, rect.top, rect.width, rect.height);
    wl_surface_set_input_region(catcher_.surface(), region.get());
    wl_surface_commit(catcher_.surface());
}

// The compositor confirms the menu's size as it rearranges its layers:
// drawn the first time, acknowledged after that. A new size of the output
// places the menu anew.
void WaylandMenuShowing::answerConfigures() {
    if (!onePiece_ && menu_.acknowledge()) {
        if (!painted_) {
            MenuUpdate everything;
            everything.repaint = MenuUpdate::Repaint::Everything;
            if (!paint(everything))
                session_.dismiss();
        } else {
            wl_surface_commit(menu_.surface());
        }
    }
    if (!catcher_.acknowledge())
        return;
    const bool resized = catcher_.width != outputWidth_ || catcher_.height != outputHeight_;
    if (resized && catcher_.width > 0 && catcher_.height > 0) {
        outputWidth_ = catcher_.width;
        outputHeight_ = catcher_.height;
        if (catcher_.viewport)
            wp_viewport_set_destination(catcher_.viewport.get(),
                                        static_cast<std::int32_t>(outputWidth_),
                                        static_cast<std::int32_t>(outputHeight_));
        stale_ = true;
    } else {
        wl_surface_commit(catcher_.surface());
    }
}

// Drawn again at the scale it is to have where it lies (another output's,
// or the one the compositor came to prefer), or for the output's new size.
// False when it cannot be drawn.
bool WaylandMenuShowing::redrawIfMoved() {
    const FractionalScale scale = preferredScale(outputScale_);
    if (painted_ && scale != outputScale_)
        stale_ = true;
    if (!stale_ || session_.closed() || !shown().configured || shown().configurePending())
        return true;
    stale_ = false;
    return layout(scale) && placeAndPaintAll();
}

bool WaylandMenuShowing::placeAndPaintAll() {
    place();
    MenuUpdate everything;
    everything.repaint = MenuUpdate::Repaint::Everything;
    return paint(everything);
}

bool WaylandMenuShowing::waitForInput() {
    WaylandKeyboard& keyboard = seat_.keyboard();
    bool repeatDue = false;
    if (!connection_.pump(session_.tickTimeout(MenuSession::clockMilliseconds()),
                          keyboard.repeatTimer(), &repeatDue))
        return false;
    if (repeatDue)
        keyboard.repeatDue();
    apply(session_.tick(MenuSession::clockMilliseconds()));
    return true;
}

void WaylandMenuShowing::apply(const MenuUpdate& update) {
    // Before the first painting, and while a new one is due, the next
    // painting shows the change.
    if (update.closed || update.repaint == MenuUpdate::Repaint::Nothing || !painted_ || stale_)
        return;
    if (!paint(update))
        session_.dismiss();
}

bool WaylandMenuShowing::paint(const MenuUpdate& update) {
    const int width = onePiece_ ? static_cast<int>(outputWidth_) : width_;
    const int height = onePiece_ ? static_cast<int>(outputHeight_) : height_;
    ShmBuffer* target =
        buffers_.take(connection_.shm(), static_cast<int>(scale_.devicePixels(width)),
                      static_cast<int>(scale_.devicePixels(height)));
    if (target == nullptr)
        return false;
    if (onePiece_) {
        if (!paintOnePiece(*target))
            return false;
    } else {
        painter_.paint(target->image.get(), session_, rows_);
    }
    wl_surface* surface = shown().surface();
    if (fractional_) {
        wl_surface_set_buffer_scale(surface, 1);
        wp_viewport_set_destination(shown().viewport.get(), width, height);
    } else {
        wl_surface_set_buffer_scale(surface, scale_.units / FractionalScale::ONE);
    }
    wl_surface_attach(surface, target->buffer.get(), 0, 0);
    damage(update);
    wl_surface_commit(surface);
    target->busy = true;
    // What the next start needs to draw this font without fontconfig is
    // worked out once the first frame is on its way, not before it.
    if (!std::exchange(painted_, true) && connection_.flush())
        painter_.remember();
    return true;
}

// The buffer transparent everywhere but where the menu lies, drawn there.
bool WaylandMenuShowing::paintOnePiece(ShmBuffer& target) const {
    auto* pixels = static_cast<std::uint32_t*>(target.pixels.get());
    std::fill(pixels, pixels + static_cast<std::size_t>(target.width) * target.height, 0u);
    const MenuRect& frame = session_.geometry().frame;
    const int left = static_cast<int>(
        std::clamp<long long>(scale_.devicePixels(placed_.left), 0, target.width - 1));
    const int top = static_cast<int>(
        std::clamp<long long>(scale_.devicePixels(placed_.top), 0, target.height - 1));
    const ImagePtr menu(pixman_image_create_bits(
        PIXMAN_a8r8g8b8, std::min(frame.width, target.width - left),
        std::min(frame.height, target.height - top),
        pixels + static_cast<std::size_t>(top) * target.width + left, target.width * 4));
    if (!menu)
        return false;
    painter_.paint(menu.get(), session_, rows_);
    return true;
}

// Every buffer is painted whole; only what changed since the last one is
// damaged.
void WaylandMenuShowing::damage(const MenuUpdate& update) {
    wl_surface* surface = shown().surface();
    constexpr std::int32_t everywhere = INT32_MAX;
    if (connection_.compositorVersion() < WL_SURFACE_DAMAGE_BUFFER_SINCE_VERSION) {
        wl_surface_damage(surface, 0, 0, everywhere, everywhere);
        return;
    }
    const MenuGeometry& g = session_.geometry();
    if (update.repaint != MenuUpdate::Repaint::Rows || !painted_) {
        wl_surface_damage_buffer(surface, 0, 0, everywhere, everywhere);
        return;
    }
    const auto left = static_cast<std::int32_t>(onePiece_ ? scale_.devicePixels(placed_.left) : 0);
    const auto top = static_cast<std::int32_t>(onePiece_ ? scale_.devicePixels(placed_.top) : 0);
    const std::size_t first = session_.navigator().firstVisible();
    for (const std::size_t item : update.rows) {
        if (item >= first && item - first < g.rows)
            wl_surface_damage_buffer(surface, left,
                                     top + static_cast<std::int32_t>(g.rowTop(item - first)),
                                     g.frame.width, g.rowHeight);
    }
}

MenuPointer WaylandMenuShowing::pointerAt(wl_surface* surface, double x, double y) const {
    if (surface == nullptr || surface != shown().surface())
        return MenuPointer::elsewhere();
    if (onePiece_) {
        x -= placed_.left;
        y -= placed_.top;
        if (x < 0 || y < 0 || x >= width_ || y >= height_)
            return MenuPointer::elsewhere();
    }
    return MenuPointer::at(static_cast<int>(std::floor(x * scale_.factor())),
                           static_cast<int>(std::floor(y * scale_.factor())));
}

void WaylandMenuShowing::key(Keysym keysym, char32_t character) {
    if (const auto navigation = menuKeyOf(keysym))
        apply(session_.key(*navigation));
    else if (character != 0)
        apply(session_.type(character));
}

void WaylandMenuShowing::pointerMotion(wl_surface* surface, double x, double y, bool buttonHeld) {
    apply(session_.motion(pointerAt(surface, x, y), buttonHeld));
}

void WaylandMenuShowing::pointerButton(wl_surface* surface, double x, double y, MenuButton button,
                                       bool pressed) {
    if (surface == nullptr)
        return; // on no surface of the menu's: not the menu's button
    const MenuPointer pointer = pointerAt(surface, x, y);
    apply(pressed ? session_.press(button, pointer) : session_.release(button, pointer));
}

void WaylandMenuShowing::wheel(wl_surface* surface, long notches) {
    if (surface != nullptr && surface == shown().surface())
        apply(session_.wheel(notches));
}

// A toplevel holds the keyboard only while it is the focused window: the
// user went elsewhere (Super, Alt-Tab), so the menu goes.
void WaylandMenuShowing::keyboardLeft(wl_surface* surface) {
    if (onePiece_ && (surface == nullptr || surface == catcher_.surface()))
        session_.dismiss();
}

} // namespace velmora::wayland
