#include "display/wayland/wayland_connection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>

namespace velmora::wayland {

namespace {

// The events of wl_output the menu does without.
void outputGeometry(void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                    std::int32_t, const char*, const char*, std::int32_t) {}
void outputMode(void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {}
void outputDone(void*, wl_output*) {}
void outputText(void*, wl_output*, const char*) {}

template <typename T>
T* bindGlobal(wl_registry* registry, std::uint32_t name, const wl_interface& type,
              std::uint32_t offered, std::uint32_t most) {
    return static_cast<T*>(wl_registry_bind(registry, name, &type, std::min(offered, most)));
}

void syncDone(void* flag, wl_callback*, std::uint32_t) {
    *static_cast<bool*>(flag) = true;
}

bool named(const char* interface, const wl_interface& type) {
    return std::strcmp(interface, type.name) == 0;
}

} // namespace

WaylandConnection::WaylandConnection(DisplayPtr display) : display_(std::move(display)) {}

WaylandConnection::~WaylandConnection() {
    // Proxies go before the connection that holds them.
    outputs_.clear();
    seat_.reset();
    layerShell_.reset();
    viewporter_.reset();
    fractionalScales_.reset();
    activation_.reset();
    wmBase_.reset();
    shm_.reset();
    compositor_.reset();
    registry_.reset();
}

// A client that does not answer is shown as hung.
void WaylandConnection::ping(void*, xdg_wm_base* base, std::uint32_t serial) {
    xdg_wm_base_pong(base, serial);
}

void WaylandConnection::outputScale(void* data, wl_output*, std::int32_t factor) {
    static_cast<Output*>(data)->scale = std::max(1, factor);
}

void WaylandConnection::addOutput(wl_registry* registry, std::uint32_t name,
                                  std::uint32_t version) {
    static const wl_output_listener listener{outputGeometry, outputMode, outputDone,
                                             outputScale,    outputText, outputText};
    auto output = std::make_unique<Output>();
    output->name = name;
    own(output->output, bindGlobal<wl_output>(registry, name, wl_output_interface, version, 2));
    wl_output_add_listener(output->output.get(), &listener, output.get());
    outputs_.push_back(std::move(output));
}

void WaylandConnection::global(void* data, wl_registry* registry, std::uint32_t name,
                               const char* interface, std::uint32_t version) {
    auto& self = *static_cast<WaylandConnection*>(data);
    if (named(interface, wl_compositor_interface)) {
        self.compositorVersion_ = std::min(version, 4u);
        own(self.compositor_,
            bindGlobal<wl_compositor>(registry, name, wl_compositor_interface, version, 4));
    } else if (named(interface, wl_shm_interface)) {
        own(self.shm_, bindGlobal<wl_shm>(registry, name, wl_shm_interface, version, 1));
    } else if (named(interface, wl_seat_interface) && !self.seat_) {
        own(self.seat_, bindGlobal<wl_seat>(registry, name, wl_seat_interface, version, 7));
    } else if (named(interface, wl_output_interface)) {
        self.addOutput(registry, name, version);
    } else if (named(interface, zwlr_layer_shell_v1_interface)) {
        own(self.layerShell_, bindGlobal<zwlr_layer_shell_v1>(
                                  registry, name, zwlr_layer_shell_v1_interface, version, 3));
    } else if (named(interface, xdg_wm_base_interface)) {
        static const xdg_wm_base_listener baseListener{ping};
        own(self.wmBase_,
            bindGlobal<xdg_wm_base>(registry, name, xdg_wm_base_interface, version, 1));
        xdg_wm_base_add_listener(self.wmBase_.get(), &baseListener, &self);
    } else if (named(interface, xdg_activation_v1_interface)) {
        own(self.activation_,
            bindGlobal<xdg_activation_v1>(registry, name, xdg_activation_v1_interface, version, 1));
    } else if (named(interface, wp_viewporter_interface)) {
        own(self.viewporter_,
            bindGlobal<wp_viewporter>(registry, name, wp_viewporter_interface, version, 1));
    } else if (named(interface, wp_fractional_scale_manager_v1_interface)) {
        own(self.fractionalScales_,
            bindGlobal<wp_fractional_scale_manager_v1>(
                registry, name, wp_fractional_scale_manager_v1_interface, version, 1));
    }
}

void WaylandConnection::globalRemove(void* data, wl_registry*, std::uint32_t name) {
    auto& outputs = static_cast<WaylandConnection*>(data)->outputs_;
    outputs.erase(std::remove_if(outputs.begin(), outputs.end(),
                                 [&](const auto& o) { return o->name == name; }),
                  outputs.end());
}

bool WaylandConnection::bindGlobals() {
    static const wl_registry_listener listener{global, globalRemove};
    own(registry_, wl_display_get_registry(display_.get()));
    if (!registry_)
        return false;
    wl_registry_add_listener(registry_.get(), &listener, this);
    // The globals bound here announce their state (the outputs' scales,
    // the seat's capabilities) by the next round trip.
    if (!roundtrip() || !compositor_ || !shm_)
        return false;
    if (layerShell_) {
        // The layer shell's menu needs neither.
        wmBase_.reset();
        activation_.reset();
        return true;
    }
    return static_cast<bool>(wmBase_);
}

int WaylandConnection::scaleOf(wl_output* output) const {
    int scale = 1;
    for (const auto& o : outputs_) {
        if (o->output.get() == output)
            return o->scale;
        scale = std::max(scale, o->scale);
    }
    return scale;
}

bool WaylandConnection::flush() {
    wl_display* display = display_.get();
    while (wl_display_flush(display) < 0) {
        if (errno != EAGAIN)
            return false;
        pollfd out{wl_display_get_fd(display), POLLOUT, 0};
        if (::poll(&out, 1, ANSWER_MILLISECONDS) <= 0)
            return false;
    }
    return true;
}

bool WaylandConnection::pump(int timeoutMs, int fd, bool* fdReady) {
    wl_display* display = display_.get();
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0)
            return false;
    }
    if (!flush()) {
        wl_display_cancel_read(display);
        return false;
    }
    pollfd waits[2] = {{wl_display_get_fd(display), POLLIN, 0}, {fd, POLLIN, 0}};
    const int ready = ::poll(waits, fd >= 0 ? 2 : 1, timeoutMs);
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
    if (fdReady != nullptr)
        *fdReady = fd >= 0 && (waits[1].revents & POLLIN) != 0;
    return wl_display_dispatch_pending(display) >= 0 && wl_display_get_error(display) == 0;
}

bool WaylandConnection::roundtrip() {
    static const wl_callback_listener listener{syncDone};
    bool answered = false;
    const CallbackPtr callback(wl_display_sync(display_.get()));
    wl_callback_add_listener(callback.get(), &listener, &answered);
    return pumpUntil([&] { return answered; });
}

} // namespace velmora::wayland
