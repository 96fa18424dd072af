// The seat's input: the keyboard, read through its xkb keymap and state and
// repeated at the compositor's pace, and the pointer with its buttons and
// wheel. What they mean goes to the menu being shown through
// WaylandInputSink.
#pragma once

#include "display/wayland/wayland_handles.h"
#include "menu/menu_keys.h"
#include "menu/menu_session.h"
#include "platform/file_descriptor.h"

#include <cstdint>
#include <vector>

namespace velmora::wayland {

// The menu's side of the input, in the surface coordinates the compositor
// reports; `surface` is null where the pointer is on none of the menu's.
class WaylandInputSink {
public:
    // A key went down, or a held key repeated: its keysym and the character
    // it types (0 for none).
    virtual void key(Keysym keysym, char32_t character) = 0;
    virtual void pointerMotion(wl_surface* surface, double x, double y, bool buttonHeld) = 0;
    virtual void pointerButton(wl_surface* surface, double x, double y, MenuButton button,
                               bool pressed) = 0;
    // Wheel notches, positive downwards.
    virtual void wheel(wl_surface* surface, long notches) = 0;

protected:
    ~WaylandInputSink() = default;
};

class WaylandKeyboard {
public:
    WaylandKeyboard();
    // Takes the seat's keyboard. `newToTheSeat` when the seat gained it
    // while the menu was open: the keys it reports held on entering were
    // then pressed for the menu (a virtual keyboard created to type into it
    // starts typing before any client can ask for its events).
    void attach(wl_seat* seat, bool newToTheSeat);
    void detach();
    bool attached() const { return static_cast<bool>(keyboard_); }
    void setSink(WaylandInputSink* sink) { sink_ = sink; }
    // Readable when a held key is due to repeat; then call repeatDue().
    int repeatTimer() const { return repeatTimer_.get(); }
    void repeatDue();

private:
    static void keymap(void* data, wl_keyboard* keyboard, std::uint32_t format, std::int32_t fd,
                       std::uint32_t size);
    static void enter(void* data, wl_keyboard* keyboard, std::uint32_t serial, wl_surface* surface,
                      wl_array* keys);
    static void leave(void* data, wl_keyboard* keyboard, std::uint32_t serial, wl_surface* surface);
    static void key(void* data, wl_keyboard* keyboard, std::uint32_t serial, std::uint32_t time,
                    std::uint32_t key, std::uint32_t state);
    static void modifiers(void* data, wl_keyboard* keyboard, std::uint32_t serial,
                          std::uint32_t depressed, std::uint32_t latched, std::uint32_t locked,
                          std::uint32_t group);
    static void repeatInfo(void* data, wl_keyboard* keyboard, std::int32_t rate,
                           std::int32_t delay);

    void loadKeymap(int fd, std::uint32_t size);
    void pressHeldKeys();
    void press(std::uint32_t key);
    void startRepeat(std::uint32_t key);
    void stopRepeat();

    WaylandInputSink* sink_ = nullptr;
    KeyboardPtr keyboard_;
    XkbContextPtr context_;
    XkbKeymapPtr keymap_;
    XkbStatePtr state_;
    bool newToTheSeat_ = false;
    std::vector<std::uint32_t> heldAtEnter_;
    std::int32_t repeatRate_ = 25;
    std::int32_t repeatDelay_ = 600;
    FileDescriptor repeatTimer_;
    std::uint32_t repeatKey_ = 0;
};

class WaylandPointer {
public:
    void attach(wl_seat* seat);
    void detach();
    void setSink(WaylandInputSink* sink) { sink_ = sink; }

private:
    static void enter(void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface* surface,
                      wl_fixed_t x, wl_fixed_t y);
    static void leave(void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface* surface);
    static void motion(void* data, wl_pointer* pointer, std::uint32_t time, wl_fixed_t x,
                       wl_fixed_t y);
    static void button(void* data, wl_pointer* pointer, std::uint32_t serial, std::uint32_t time,
                       std::uint32_t button, std::uint32_t state);
    static void axis(void* data, wl_pointer* pointer, std::uint32_t time, std::uint32_t axis,
                     wl_fixed_t value);
    static void frame(void* data, wl_pointer* pointer);
    static void axisSource(void* data, wl_pointer* pointer, std::uint32_t source);
    static void axisStop(void* data, wl_pointer* pointer, std::uint32_t time, std::uint32_t axis);
    static void axisDiscrete(void* data, wl_pointer* pointer, std::uint32_t axis,
                             std::int32_t discrete);

    void moved(double x, double y);
    void scrolled();

    WaylandInputSink* sink_ = nullptr;
    PointerPtr pointer_;
    bool frames_ = false; // axis events come in frames (seat version 5 on)
    wl_surface* surface_ = nullptr;
    double x_ = 0;
    double y_ = 0;
    int buttonsHeld_ = 0;
    long pendingDiscrete_ = 0;
    double pendingAxis_ = 0;
    double axisRemainder_ = 0;
};

// The seat: its keyboard and pointer as its capabilities come and go.
class WaylandSeat {
public:
    explicit WaylandSeat(wl_seat* seat);
    // The seat as the launcher found it is known: a keyboard that comes to
    // it from now on is new.
    void settle() { settled_ = true; }
    void setSink(WaylandInputSink* sink);
    WaylandKeyboard& keyboard() { return keyboard_; }

private:
    static void capabilities(void* data, wl_seat* seat, std::uint32_t capabilities);
    static void name(void* data, wl_seat* seat, const char* name);

    WaylandKeyboard keyboard_;
    WaylandPointer pointer_;
    bool settled_ = false;
};

} // namespace velmora::wayland
