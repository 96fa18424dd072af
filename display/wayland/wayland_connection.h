// The connection to the compositor and the globals the menu uses: the
// compositor, shared memory, the layer shell (or else xdg-shell, with
// xdg-activation where offered), the viewporter and fractional scales, the
// seat and the outputs with their scales; and the waiting for events, which
// every part of the menu goes through.
#pragma once

#include "display/wayland/wayland_handles.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace velmora::wayland {

// How long the compositor may take to answer before the menu is given up:
// the launcher holds its instance lock meanwhile.
constexpr int ANSWER_MILLISECONDS = 5000;

class WaylandConnection {
public:
    explicit WaylandConnection(DisplayPtr display);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    // Lists and binds the globals; false when the compositor lacks one the
    // menu needs (a shell: the layer shell or else xdg-shell) or does not answer. Their
    // first events (the outputs' scales) come with the next round trip.
    bool bindGlobals();

    wl_display* display() const { return display_.get(); }
    wl_compositor* compositor() const { return compositor_.get(); }
    std::uint32_t compositorVersion() const { return compositorVersion_; }
    wl_shm* shm() const { return shm_.get(); }
    wl_seat* seat() const { return seat_.get(); }
    zwlr_layer_shell_v1* layerShell() const { return layerShell_.get(); }
    wp_viewporter* viewporter() const { return viewporter_.get(); }
    // Only with the viewporter, without which a fractional scale cannot be
    // drawn at.
    wp_fractional_scale_manager_v1* fractionalScales() const {
        return viewporter_ ? fractionalScales_.get() : nullptr;
    }
    // Bound only where the layer shell is missing.
    xdg_wm_base* wmBase() const { return wmBase_.get(); }
    xdg_activation_v1* activation() const { return activation_.get(); }
    // The scale of `output`; of one not known (yet), the largest of all,
    // which stays crisp everywhere.
    int scaleOf(wl_output* output) const;

    // Handles the compositor's events for at most `timeoutMs` (-1: until one
    // arrives); false once the connection is lost. `fd` is polled beside it
    // and `fdReady` set when it became readable.
    bool pump(int timeoutMs, int fd = -1, bool* fdReady = nullptr);
    // Pumps until `done` holds; false on a lost connection or on timeout.
    template <typename Done> bool pumpUntil(Done done, int timeoutMs = ANSWER_MILLISECONDS) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || !pump(static_cast<int>(left)))
                return false;
        }
        return true;
    }
    // Waits until the compositor has handled every request sent so far.
    bool roundtrip();
    // Sends the requests made so far; false when the compositor is gone.
    bool flush();

private:
    struct Output {
        OutputPtr output;
        std::uint32_t name = 0;
        int scale = 1;
    };

    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
    static void globalRemove(void* data, wl_registry* registry, std::uint32_t name);
    static void ping(void* data, xdg_wm_base* base, std::uint32_t serial);
    static void outputScale(void* data, wl_output* output, std::int32_t factor);
    void addOutput(wl_registry* registry, std::uint32_t name, std::uint32_t version);

    DisplayPtr display_;
    RegistryPtr registry_;
    CompositorPtr compositor_;
    std::uint32_t compositorVersion_ = 0;
    ShmPtr shm_;
    SeatPtr seat_;
    LayerShellPtr layerShell_;
    ViewporterPtr viewporter_;
    FractionalScalesPtr fractionalScales_;
    WmBasePtr wmBase_;
    ActivationPtr activation_;
    std::vector<std::unique_ptr<Output>> outputs_;
};

} // namespace velmora::wayland
