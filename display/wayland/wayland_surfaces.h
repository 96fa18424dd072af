// The menu's surfaces and their buffers: layer surfaces on the overlay layer
// with what the compositor last told them, and wl_shm buffers with a pixman
// image over their pixels.
#pragma once

#include "display/wayland/wayland_connection.h"
#include "display/wayland/wayland_memory.h"
#include "display/wayland/wayland_scale.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace velmora::wayland {

struct ShmBuffer {
    MappingPtr pixels;
    BufferPtr buffer;
    ImagePtr image;
    int width = 0;
    int height = 0;
    bool busy = false; // the compositor holds it

    // A buffer of `width` x `height` (each 1 to LARGEST_BUFFER_SIDE), or null.
    static std::unique_ptr<ShmBuffer> create(wl_shm* shm, int width, int height);

private:
    static void release(void* data, wl_buffer* buffer);
};

// Buffers of one size for a surface, reused once the compositor lets go.
class BufferPool {
public:
    // A buffer of the size that the compositor does not hold, or null.
    ShmBuffer* take(wl_shm* shm, int width, int height);
    void clear() { buffers_.clear(); }

private:
    std::vector<std::unique_ptr<ShmBuffer>> buffers_;
};

// A surface of the menu's and what the compositor last told it, whatever
// its role: the size it is to have, whether that wants an answer, and the
// scale it prefers the surface drawn at.
class ShellSurface {
public:
    virtual ~ShellSurface() = default;
    ShellSurface() = default;
    ShellSurface(const ShellSurface&) = delete;
    ShellSurface& operator=(const ShellSurface&) = delete;

    wl_surface* surface() const { return surface_.get(); }
    // Acknowledges the last configure; false when none is pending.
    bool acknowledge();
    bool configurePending() const { return pendingConfigure_; }

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool configured = false;
    bool closed = false;
    wl_output* output = nullptr; // the output it was last shown on
    ViewportPtr viewport;
    // In 120ths, where the compositor offers fractional scales; 0 until it
    // tells.
    int preferredScale = 0;

protected:
    bool createSurface(const WaylandConnection& connection);
    void configureArrived(std::uint32_t serial, std::uint32_t newWidth, std::uint32_t newHeight);
    // Forgets what the compositor told; the role object must be gone.
    void forget();
    virtual void acknowledgeSerial(std::uint32_t serial) = 0;

private:
    static void enter(void* data, wl_surface* surface, wl_output* output);
    static void leave(void* data, wl_surface* surface, wl_output* output);
    static void scalePreferred(void* data, wp_fractional_scale_v1* scale, std::uint32_t units);

    SurfacePtr surface_;
    FractionalScalePtr fractionalScale_;
    std::uint32_t serial_ = 0;
    bool pendingConfigure_ = false;
};

// A layer surface on the overlay layer, placed against the whole output.
class LayerSurface final : public ShellSurface {
public:
    ~LayerSurface() override { destroy(); }
    bool create(const WaylandConnection& connection, std::uint32_t anchor,
                std::uint32_t keyboardInteractivity);
    // Destroys the role object before its wl_surface, as the protocol asks.
    void destroy();

    zwlr_layer_surface_v1* layer() const { return layer_.get(); }

private:
    void acknowledgeSerial(std::uint32_t serial) override;
    static void configure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial,
                          std::uint32_t width, std::uint32_t height);
    static void closedByCompositor(void* data, zwlr_layer_surface_v1* layer);

    LayerSurfacePtr layer_;
};

} // namespace velmora::wayland
