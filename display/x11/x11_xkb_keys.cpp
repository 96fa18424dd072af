#include "display/x11/x11_xkb_keys.h"

#include <X11/extensions/XKBproto.h>

#include <cstdarg>
#include <sys/uio.h>

namespace velmora::x11 {

namespace {

static_assert(sizeof(xkbSelectEventsReq) == sz_xkbSelectEventsReq);

// XKB's SelectEvents for the keymap's changes, as libxcb-xkb would send it
// (loading that library for one request is not worth it).
void selectChanges(xcb_connection_t* connection, std::int32_t device) {
    static xcb_extension_t keyboard{"XKEYBOARD", 0};
    const xcb_query_extension_reply_t* present = xcb_get_extension_data(connection, &keyboard);
    if (present == nullptr || !present->present)
        return;
    const CARD16 events = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    xkbSelectEventsReq request{};
    request.deviceSpec = static_cast<CARD16>(device);
    request.affectWhich = events;
    request.selectAll = events;
    request.affectMap = XkbAllMapComponentsMask;
    request.map = XkbAllMapComponentsMask;
    iovec parts[3] = {};
    parts[2] = iovec{&request, sizeof request};
    xcb_protocol_request_t protocol{1, &keyboard, X_kbSelectEvents, 1};
    xcb_send_request(connection, 0, parts + 2, &protocol);
}

// xkbcommon's messages (a keymap the server stopped sending halfway) are
// not the launcher's to print: it prints nothing of its own.
void keepSilent(xkb_context*, xkb_log_level, const char*, va_list) {}

} // namespace

std::unique_ptr<XkbKeys> XkbKeys::read(xcb_connection_t* connection) {
    if (!loadXkbLibraries())
        return nullptr;
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint8_t eventBase = 0;
    if (xkb_x11_setup_xkb_extension(
            connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, &major, &minor, &eventBase, nullptr) == 0)
        return nullptr;
    const std::int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    if (device < 0)
        return nullptr;
    // Asked before the keymap is read, so that no change after the read
    // goes untold (a tool such as xdotool binds a spare key to what it
    // types, and takes it back a moment later).
    selectChanges(connection, device);
    std::unique_ptr<XkbKeys> keys(new XkbKeys);
    keys->eventBase_ = eventBase;
    keys->context_ = decltype(keys->context_)(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!keys->context_)
        return nullptr;
    xkb_context_set_log_fn(keys->context_.get(), keepSilent);
    keys->keymap_ = decltype(keys->keymap_)(xkb_x11_keymap_new_from_device(
        keys->context_.get(), connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keys->keymap_)
        return nullptr;
    keys->state_ = decltype(keys->state_)(
        xkb_x11_state_new_from_device(keys->keymap_.get(), connection, device));
    if (!keys->state_)
        return nullptr;
    return keys;
}

bool XkbKeys::changedBy(const xEvent& event) const {
    // XKB's events share one code; the kind is in the second byte.
    if (event.u.u.type != eventBase_)
        return false;
    const std::uint8_t kind = event.u.u.detail;
    return kind == XkbNewKeyboardNotify || kind == XkbMapNotify;
}

void XkbKeys::use(std::uint16_t state) {
    // The event's state is XKB's: the eight real modifiers, which
    // xkbcommon's X11 keymaps number alike, and the effective group.
    xkb_state_update_mask(state_.get(), state & 0xFFu, 0, 0, 0, 0, (state >> 13) & 3u);
}

std::uint32_t XkbKeys::keysym(std::uint8_t keycode, std::uint16_t state) {
    use(state);
    return xkb_state_key_get_one_sym(state_.get(), keycode);
}

std::string XkbKeys::typed(std::uint8_t keycode, std::uint16_t state) {
    use(state);
    char text[64];
    const int length = xkb_state_key_get_utf8(state_.get(), keycode, text, sizeof text);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof text)
        return {};
    return std::string(text, static_cast<std::size_t>(length));
}

} // namespace velmora::x11
