#include "display/wayland/wayland_input.h"
#include "display/wayland/wayland_memory.h"

#include <algorithm>
#include <sys/timerfd.h>
#include <unistd.h>

namespace velmora::wayland {

namespace {

WaylandKeyboard& self(void* data) {
    return *static_cast<WaylandKeyboard*>(data);
}

// evdev key codes to XKB's.
xkb_keycode_t xkbCode(std::uint32_t key) {
    return key + 8;
}

} // namespace

WaylandKeyboard::WaylandKeyboard()
    : repeatTimer_(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)) {}

void WaylandKeyboard::attach(wl_seat* seat, bool newToTheSeat) {
    static const wl_keyboard_listener listener{keymap, enter, leave, key, modifiers, repeatInfo};
    if (keyboard_)
        return;
    if (!context_)
        own(context_, xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    own(keyboard_, wl_seat_get_keyboard(seat));
    if (keyboard_)
        wl_keyboard_add_listener(keyboard_.get(), &listener, this);
    newToTheSeat_ = newToTheSeat;
}

void WaylandKeyboard::detach() {
    stopRepeat();
    heldAtEnter_.clear();
    state_.reset();
    keymap_.reset();
    keyboard_.reset();
}

void WaylandKeyboard::keymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                             std::uint32_t size) {
    const FileDescriptor owned(fd);
    auto& keyboard = self(data);
    // The keys mean something else now: nothing held repeats, and until a
    // keymap can be read no key is read with an old one.
    keyboard.stopRepeat();
    keyboard.state_.reset();
    keyboard.keymap_.reset();
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1)
        keyboard.loadKeymap(owned.get(), size);
}

void WaylandKeyboard::loadKeymap(int fd, std::uint32_t size) {
    const KeymapText file(fd, size);
    if (!file || !context_)
        return;
    XkbKeymapPtr keymap(xkb_keymap_new_from_buffer(context_.get(), file.text().data(),
                                                   file.text().size(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                   XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return;
    own(state_, xkb_state_new(keymap.get()));
    if (state_)
        keymap_ = std::move(keymap);
}

void WaylandKeyboard::enter(void* data, wl_keyboard*, std::uint32_t, wl_surface*, wl_array* keys) {
    auto& keyboard = self(data);
    keyboard.heldAtEnter_.clear();
    if (!std::exchange(keyboard.newToTheSeat_, false))
        return; // held before the menu had the keyboard: the hotkey, an Enter
    const auto* held = static_cast<const std::uint32_t*>(keys->data);
    keyboard.heldAtEnter_.assign(held, held + keys->size / sizeof *held);
}

void WaylandKeyboard::leave(void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
    // Keys held are no longer the menu's.
    self(data).heldAtEnter_.clear();
    self(data).stopRepeat();
}

void WaylandKeyboard::modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
                                std::uint32_t latched, std::uint32_t locked, std::uint32_t group) {
    auto& keyboard = self(data);
    if (keyboard.state_)
        xkb_state_update_mask(keyboard.state_.get(), depressed, latched, locked, 0, 0, group);
    // The modifiers follow the enter event: the keys held then are read
    // with them (Shift held with a letter).
    keyboard.pressHeldKeys();
}

void WaylandKeyboard::repeatInfo(void* data, wl_keyboard*, std::int32_t rate, std::int32_t delay) {
    self(data).repeatRate_ = std::max(rate, 0);
    self(data).repeatDelay_ = std::max(delay, 0);
}

void WaylandKeyboard::key(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
                          std::uint32_t state) {
    auto& keyboard = self(data);
    keyboard.pressHeldKeys();
    if (state == WL_KEYBOARD_KEY_STATE_PRESSED) {
        keyboard.press(key);
        keyboard.startRepeat(key);
    } else if (key == keyboard.repeatKey_) {
        keyboard.stopRepeat();
    }
}

void WaylandKeyboard::pressHeldKeys() {
    const std::vector<std::uint32_t> held = std::move(heldAtEnter_);
    heldAtEnter_.clear();
    for (const std::uint32_t key : held) {
        press(key);
        startRepeat(key);
    }
}

void WaylandKeyboard::press(std::uint32_t key) {
    if (!state_ || sink_ == nullptr)
        return;
    const xkb_keysym_t keysym = xkb_state_key_get_one_sym(state_.get(), xkbCode(key));
    const std::uint32_t c = xkb_state_key_get_utf32(state_.get(), xkbCode(key));
    sink_->key(keysym, c >= 0x20 && c != 0x7F ? static_cast<char32_t>(c) : 0);
}

void WaylandKeyboard::startRepeat(std::uint32_t key) {
    if (!repeatTimer_ || repeatRate_ <= 0 || !keymap_ || key == repeatKey_ ||
        xkb_keymap_key_repeats(keymap_.get(), xkbCode(key)) == 0)
        return;
    repeatKey_ = key;
    const long interval = 1000000000L / repeatRate_;
    itimerspec timing{};
    timing.it_value.tv_sec = repeatDelay_ / 1000;
    timing.it_value.tv_nsec = (repeatDelay_ % 1000) * 1000000L + 1;
    timing.it_interval.tv_sec = interval / 1000000000L;
    timing.it_interval.tv_nsec = interval % 1000000000L;
    ::timerfd_settime(repeatTimer_.get(), 0, &timing, nullptr);
}

void WaylandKeyboard::stopRepeat() {
    repeatKey_ = 0;
    const itimerspec off{};
    if (repeatTimer_)
        ::timerfd_settime(repeatTimer_.get(), 0, &off, nullptr);
}

void WaylandKeyboard::repeatDue() {
    std::uint64_t expirations = 0;
    if (::read(repeatTimer_.get(), &expirations, sizeof expirations) > 0 && repeatKey_ != 0)
        press(repeatKey_);
}

} // namespace velmora::wayland
