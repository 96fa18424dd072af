#include "display/wayland/wayland_surfaces.h"

#include <algorithm>

namespace velmora::wayland {

std::unique_ptr<ShmBuffer> ShmBuffer::create(wl_shm* shm, int width, int height) {
    static const wl_buffer_listener listener{release};
    if (width <= 0 || height <= 0 || width > LARGEST_BUFFER_SIDE || height > LARGEST_BUFFER_SIDE)
        return nullptr;
    const int stride = width * 4;
    const std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    SharedMemory memory(size);
    if (!memory.pixels)
        return nullptr;
    auto buffer = std::make_unique<ShmBuffer>();
    const PoolPtr pool(wl_shm_create_pool(shm, memory.fd.get(), static_cast<std::int32_t>(size)));
    own(buffer->buffer,
        wl_shm_pool_create_buffer(pool.get(), 0, width, height, stride, WL_SHM_FORMAT_ARGB8888));
    own(buffer->image,
        pixman_image_create_bits(PIXMAN_a8r8g8b8, width, height,
                                 static_cast<std::uint32_t*>(memory.pixels.get()), stride));
    if (!buffer->buffer || !buffer->image)
        return nullptr;
    buffer->pixels = std::move(memory.pixels);
    buffer->width = width;
    buffer->height = height;
    wl_buffer_add_listener(buffer->buffer.get(), &listener, buffer.get());
    return buffer;
}

void ShmBuffer::release(void* data, wl_buffer*) {
    static_cast<ShmBuffer*>(data)->busy = false;
}

ShmBuffer* BufferPool::take(wl_shm* shm, int width, int height) {
    for (auto& buffer : buffers_) {
        if (!buffer->busy && buffer->width == width && buffer->height == height)
            return buffer.get();
    }
    // Those of another size go as soon as the compositor lets them go.
    buffers_.erase(
        std::remove_if(buffers_.begin(), buffers_.end(), [](const auto& b) { return !b->busy; }),
        buffers_.end());
    auto buffer = ShmBuffer::create(shm, width, height);
    if (!buffer)
        return nullptr;
    buffers_.push_back(std::move(buffer));
    return buffers_.back().get();
}

bool ShellSurface::createSurface(const WaylandConnection& connection) {
    static const wl_surface_listener surfaceListener{enter, leave};
    own(surface_, wl_compositor_create_surface(connection.compositor()));
    if (!surface_)
        return false;
    wl_surface_add_listener(surface_.get(), &surfaceListener, this);
    // Asked for before the first commit, so that the scale comes with the
    // surface's first showing.
    if (connection.fractionalScales() != nullptr) {
        static const wp_fractional_scale_v1_listener scaleListener{scalePreferred};
        own(fractionalScale_, wp_fractional_scale_manager_v1_get_fractional_scale(
                                  connection.fractionalScales(), surface_.get()));
        if (!fractionalScale_)
            return false;
        wp_fractional_scale_v1_add_listener(fractionalScale_.get(), &scaleListener, this);
    }
    return true;
}

void ShellSurface::forget() {
    viewport.reset();
    fractionalScale_.reset();
    preferredScale = 0;
    surface_.reset();
    width = height = 0;
    configured = closed = pendingConfigure_ = false;
    output = nullptr;
}

void ShellSurface::configureArrived(std::uint32_t serial, std::uint32_t newWidth,
                                    std::uint32_t newHeight) {
    serial_ = serial;
    width = newWidth;
    height = newHeight;
    configured = true;
    pendingConfigure_ = true;
}

bool ShellSurface::acknowledge() {
    if (!pendingConfigure_)
        return false;
    acknowledgeSerial(serial_);
    pendingConfigure_ = false;
    return true;
}

void ShellSurface::enter(void* data, wl_surface*, wl_output* output) {
    static_cast<ShellSurface*>(data)->output = output;
}

void ShellSurface::leave(void*, wl_surface*, wl_output*) {}

void ShellSurface::scalePreferred(void* data, wp_fractional_scale_v1*, std::uint32_t units) {
    if (units > 0)
        static_cast<ShellSurface*>(data)->preferredScale =
            static_cast<int>(std::min<std::uint32_t>(units, FractionalScale::MOST));
}

bool LayerSurface::create(const WaylandConnection& connection, std::uint32_t anchor,
                          std::uint32_t keyboardInteractivity) {
    static const zwlr_layer_surface_v1_listener layerListener{configure, closedByCompositor};
    if (!createSurface(connection))
        return false;
    own(layer_,
        zwlr_layer_shell_v1_get_layer_surface(connection.layerShell(), surface(), nullptr,
                                              ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "velmora"));
    if (!layer_)
        return false;
    zwlr_layer_surface_v1_add_listener(layer_.get(), &layerListener, this);
    zwlr_layer_surface_v1_set_anchor(layer_.get(), anchor);
    // Placed against the whole output, whatever panels reserve.
    zwlr_layer_surface_v1_set_exclusive_zone(layer_.get(), -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(layer_.get(), keyboardInteractivity);
    return true;
}

void LayerSurface::destroy() {
    viewport.reset();
    layer_.reset();
    forget();
}

void LayerSurface::acknowledgeSerial(std::uint32_t serial) {
    zwlr_layer_surface_v1_ack_configure(layer_.get(), serial);
}

void LayerSurface::configure(void* data, zwlr_layer_surface_v1*, std::uint32_t serial,
                             std::uint32_t width, std::uint32_t height) {
    static_cast<LayerSurface*>(data)->configureArrived(serial, width, height);
}

void LayerSurface::closedByCompositor(void* data, zwlr_layer_surface_v1*) {
    static_cast<LayerSurface*>(data)->closed = true;
}

} // namespace velmora::wayland
