// A yardstick for a menu that would speak XCB instead of Xlib: it maps the
// same override-redirect window as the minimal Xlib window, but first asks
// what the launcher's greeting asks, pipelined as XCB allows. In one round
// trip: the opcodes of RANDR, RENDER and XKEYBOARD, BIG-REQUESTS, the
// window-type atoms and the resource database (Xft.dpi); in a second, with
// the opcodes known: the monitors, XKB's UseExtension and RENDER's formats.
// Xlib's XOpenDisplay alone takes four round trips and loads libX11 besides.
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/uio.h>
#include <thread>

namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply>;

// An extension request with a reply, sent by its major opcode alone; `words`
// is the whole request, its first byte left for the major opcode.
template <std::size_t N>
unsigned int sendExtensionRequest(xcb_connection_t* connection, std::uint8_t major,
                                  std::array<std::uint32_t, N>& words) {
    std::array<iovec, 3> parts{};
    parts[2].iov_base = words.data();
    parts[2].iov_len = N * 4;
    xcb_protocol_request_t request{1, nullptr, major, 0};
    return xcb_send_request(connection, XCB_REQUEST_CHECKED, parts.data() + 2, &request);
}

void greet(xcb_connection_t* connection, xcb_window_t root) {
    static const char* const extensions[] = {"RANDR", "RENDER", "XKEYBOARD"};
    static const char* const atoms[] = {"_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_POPUP_MENU",
                                        "_NET_WM_NAME", "UTF8_STRING", "_NET_WM_PID"};
    std::array<xcb_query_extension_cookie_t, 3> asked{};
    for (std::size_t i = 0; i < asked.size(); ++i)
        asked[i] = xcb_query_extension(
            connection, static_cast<std::uint16_t>(std::strlen(extensions[i])), extensions[i]);
    xcb_prefetch_maximum_request_length(connection);
    std::array<xcb_intern_atom_cookie_t, 5> interned{};
    for (std::size_t i = 0; i < interned.size(); ++i)
        interned[i] = xcb_intern_atom(connection, 0,
                                      static_cast<std::uint16_t>(std::strlen(atoms[i])), atoms[i]);
    const auto resources = xcb_get_property(connection, 0, root, XCB_ATOM_RESOURCE_MANAGER,
                                            XCB_ATOM_STRING, 0, 100000000);
    std::array<std::uint8_t, 3> opcodes{};
    for (std::size_t i = 0; i < asked.size(); ++i) {
        Reply<xcb_query_extension_reply_t> reply(
            xcb_query_extension_reply(connection, asked[i], nullptr));
        opcodes[i] = reply && reply->present ? reply->major_opcode : 0;
    }
    for (const auto cookie : interned)
        Reply<xcb_intern_atom_reply_t>(xcb_intern_atom_reply(connection, cookie, nullptr));
    Reply<xcb_get_property_reply_t>(xcb_get_property_reply(connection, resources, nullptr));
    if (opcodes[0] == 0 || opcodes[1] == 0 || opcodes[2] == 0)
        std::exit(2);
    std::array<std::uint32_t, 3> monitors{42u << 8 | 3u << 16, root, 1}; // RRGetMonitors, active
    std::array<std::uint32_t, 2> useXkb{0u << 8 | 2u << 16, 1};          // UseExtension 1.0
    std::array<std::uint32_t, 1> formats{1u << 8 | 1u << 16};            // QueryPictFormats
    const std::array<unsigned int, 3> sequences{
        sendExtensionRequest(connection, opcodes[0], monitors),
        sendExtensionRequest(connection, opcodes[2], useXkb),
        sendExtensionRequest(connection, opcodes[1], formats)};
    xcb_get_maximum_request_length(connection);
    for (const unsigned int sequence : sequences) {
        xcb_generic_error_t* error = nullptr;
        Reply<void> reply(xcb_wait_for_reply(connection, sequence, &error));
        Reply<xcb_generic_error_t> ignored(error);
    }
}

} // namespace

int main() {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection) != 0)
        return 2;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    greet(connection, screen->root);
    const xcb_window_t window = xcb_generate_id(connection);
    const std::array<std::uint32_t, 2> attributes{screen->white_pixel, 1};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 120, 60, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, attributes.data());
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_map_window(connection, window);
    xcb_flush(connection);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        Reply<xcb_grab_keyboard_reply_t> grab(
            xcb_grab_keyboard_reply(connection,
                                    xcb_grab_keyboard(connection, 0, window, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr));
        if (grab && grab->status == XCB_GRAB_STATUS_SUCCESS)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (;;) {
        Reply<xcb_generic_event_t> event(xcb_wait_for_event(connection));
        if (!event || (event->response_type & 0x7f) == XCB_KEY_PRESS)
            break;
    }
    xcb_disconnect(connection);
    return 0;
}
