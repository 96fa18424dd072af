#include "display/wayland/wayland_input.h"

#include <cmath>
#include <linux/input-event-codes.h>
#include <optional>
#include <utility>

namespace velmora::wayland {

namespace {

// Smooth-scroll distance (touchpads) that counts as one wheel notch.
constexpr double AXIS_STEP = 10.0;

WaylandPointer& self(void* data) {
    return *static_cast<WaylandPointer*>(data);
}

std::optional<MenuButton> menuButton(std::uint32_t button) {
    switch (button) {
    case BTN_LEFT:
        return MenuButton::Left;
    case BTN_MIDDLE:
        return MenuButton::Middle;
    case BTN_RIGHT:
        return MenuButton::Right;
    default:
        return std::nullopt;
    }
}

} // namespace

void WaylandPointer::attach(wl_seat* seat) {
    static const wl_pointer_listener listener{
        enter, leave,      motion,   button,       axis,
        frame, axisSource, axisStop, axisDiscrete, nullptr, // no axis_value120: seat below 8
    };
    if (pointer_)
        return;
    own(pointer_, wl_seat_get_pointer(seat));
    if (pointer_)
        wl_pointer_add_listener(pointer_.get(), &listener, this);
    frames_ = wl_seat_get_version(seat) >= WL_POINTER_FRAME_SINCE_VERSION;
}

void WaylandPointer::detach() {
    pointer_.reset();
    surface_ = nullptr;
    buttonsHeld_ = 0;
}

void WaylandPointer::moved(double x, double y) {
    x_ = x;
    y_ = y;
    if (sink_ != nullptr)
        sink_->pointerMotion(surface_, x, y, buttonsHeld_ > 0);
}

void WaylandPointer::enter(void* data, wl_pointer*, std::uint32_t, wl_surface* surface,
                           wl_fixed_t x, wl_fixed_t y) {
    self(data).surface_ = surface;
    self(data).moved(wl_fixed_to_double(x), wl_fixed_to_double(y));
}

void WaylandPointer::leave(void* data, wl_pointer*, std::uint32_t, wl_surface*) {
    auto& pointer = self(data);
    pointer.surface_ = nullptr;
    pointer.buttonsHeld_ = 0;
    pointer.moved(pointer.x_, pointer.y_);
}

void WaylandPointer::motion(void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
    self(data).moved(wl_fixed_to_double(x), wl_fixed_to_double(y));
}

void WaylandPointer::button(void* data, wl_pointer*, std::uint32_t, std::uint32_t,
                            std::uint32_t button, std::uint32_t state) {
    auto& pointer = self(data);
    const bool pressed = state == WL_POINTER_BUTTON_STATE_PRESSED;
    pointer.buttonsHeld_ = std::max(0, pointer.buttonsHeld_ + (pressed ? 1 : -1));
    const auto menu = menuButton(button);
    if (menu && pointer.sink_ != nullptr)
        pointer.sink_->pointerButton(pointer.surface_, pointer.x_, pointer.y_, *menu, pressed);
}

void WaylandPointer::axis(void* data, wl_pointer*, std::uint32_t, std::uint32_t axis,
                          wl_fixed_t value) {
    auto& pointer = self(data);
    if (axis != WL_POINTER_AXIS_VERTICAL_SCROLL)
        return;
    pointer.pendingAxis_ += wl_fixed_to_double(value);
    if (!pointer.frames_)
        pointer.scrolled(); // no frames: each event stands alone
}

void WaylandPointer::frame(void* data, wl_pointer*) {
    self(data).scrolled();
}

void WaylandPointer::axisSource(void*, wl_pointer*, std::uint32_t) {}

void WaylandPointer::axisStop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}

void WaylandPointer::axisDiscrete(void* data, wl_pointer*, std::uint32_t axis,
                                  std::int32_t discrete) {
    if (axis == WL_POINTER_AXIS_VERTICAL_SCROLL)
        self(data).pendingDiscrete_ += discrete;
}

// A wheel's notches when they were told, else the distance in steps.
void WaylandPointer::scrolled() {
    const double distance = std::exchange(pendingAxis_, 0.0);
    long notches = std::exchange(pendingDiscrete_, 0);
    if (notches != 0) {
        axisRemainder_ = 0;
    } else {
        axisRemainder_ += distance;
        const double steps = std::trunc(axisRemainder_ / AXIS_STEP);
        axisRemainder_ -= steps * AXIS_STEP;
        notches = static_cast<long>(steps);
    }
    if (notches != 0 && sink_ != nullptr)
        sink_->wheel(surface_, notches);
}

WaylandSeat::WaylandSeat(wl_seat* seat) {
    static const wl_seat_listener listener{capabilities, name};
    if (seat != nullptr)
        wl_seat_add_listener(seat, &listener, this);
}

void WaylandSeat::setSink(WaylandInputSink* sink) {
    keyboard_.setSink(sink);
    pointer_.setSink(sink);
}

void WaylandSeat::capabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
    auto& self = *static_cast<WaylandSeat*>(data);
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0)
        self.keyboard_.attach(seat, self.settled_);
    else
        self.keyboard_.detach();
    if ((capabilities & WL_SEAT_CAPABILITY_POINTER) != 0)
        self.pointer_.attach(seat);
    else
        self.pointer_.detach();
}

void WaylandSeat::name(void*, wl_seat*, const char*) {}

} // namespace velmora::wayland
