// The keys of a connection without Xlib, read as XKB reads them (every
// layout group and level), through libxkbcommon-x11: the keyboard's keymap
// asked of the server once the menu is on screen.
#pragma once

#include "display/x11/x11_library.h"
#include "platform/unique_handle.h"

#include <cstdint>
#include <memory>
#include <string>

namespace velmora::x11 {

class XkbKeys {
public:
    // The keyboard's keymap and state, the keymap's changes asked to be
    // told; null where the libraries or the server's XKB are missing.
    static std::unique_ptr<XkbKeys> read(xcb_connection_t* connection);

    // Whether `event` tells that the keymap changed: then it is read anew.
    bool changedBy(const xEvent& event) const;
    XkbKeys(const XkbKeys&) = delete;
    XkbKeys& operator=(const XkbKeys&) = delete;

    // The keysym of a key event's keycode and state (modifiers, and XKB's
    // group in bits 13 and 14), and the text it types.
    std::uint32_t keysym(std::uint8_t keycode, std::uint16_t state);
    std::string typed(std::uint8_t keycode, std::uint16_t state);

private:
    XkbKeys() = default;
    void use(std::uint16_t state);

    static void freeContext(xkb_context* context) { xkb_context_unref(context); }
    static void freeKeymap(xkb_keymap* keymap) { xkb_keymap_unref(keymap); }
    static void freeState(xkb_state* state) { xkb_state_unref(state); }

    UniqueHandle<PointerTraits<xkb_context, freeContext>> context_;
    UniqueHandle<PointerTraits<xkb_keymap, freeKeymap>> keymap_;
    UniqueHandle<PointerTraits<xkb_state, freeState>> state_; // freed first
    std::uint8_t eventBase_ = 0;
};

} // namespace velmora::x11
