#include "display/x11/x11_wire_xcb.h"

#include <cstdlib>
#include <sys/uio.h>

namespace velmora::x11 {

namespace {

static_assert(sizeof(xEvent) == 32 && sizeof(xReq) == sz_xReq);
static_assert(sizeof(xGetKeyboardMappingReq) == sz_xGetKeyboardMappingReq);

// libxcb's replies and events are malloc'ed, for the caller to free.
struct Freed {
    void operator()(void* memory) const { std::free(memory); }
};

// A request of the opcode alone.
unsigned long sendBare(Wire& wire, int opcode, bool replies) {
    return sendRequest<xReq>(
        wire, opcode, [](xReq&, RequestTail&) {}, replies);
}

} // namespace

XcbWire::XcbWire(xcb_connection_t* connection, int screen, void (*broken)())
    : connection_(connection), broken_(broken) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    minKeycode_ = setup->min_keycode;
    maxKeycode_ = setup->max_keycode;
    xcb_screen_iterator_t roots = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screen && roots.rem > 0; ++i)
        xcb_screen_next(&roots);
    if (roots.rem <= 0)
        return; // no such screen: the greeting finds no root to answer for
    const xcb_screen_t& root = *roots.data;
    screen_.number = screen;
    screen_.root = root.root;
    screen_.visual = root.root_visual;
    screen_.colormap = root.default_colormap;
    screen_.width = root.width_in_pixels;
    screen_.height = root.height_in_pixels;
    for (auto depths = xcb_screen_allowed_depths_iterator(&root); depths.rem > 0;
         xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0;
             --visuals.rem, ++visuals.data) {
            if (visuals.data->visual_id != root.root_visual)
                continue;
            screen_.visualClass = visuals.data->_class;
            screen_.redMask = visuals.data->red_mask;
            screen_.greenMask = visuals.data->green_mask;
            screen_.blueMask = visuals.data->blue_mask;
        }
    }
}

XcbWire::~XcbWire() {
    keyboardReply_.reset();
    modifiersReply_.reset();
    xcb_disconnect(connection_);
}

std::unique_ptr<XcbWire> XcbWire::connect(const char* name, void (*broken)()) {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(name, &screen);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::make_unique<XcbWire>(connection, screen, broken);
}

unsigned long XcbWire::send(char* head, std::size_t headSize, const RequestTail& tail,
                            bool replies) {
    // libxcb writes the opcode and the length into the head, and uses the
    // two parts before it.
    const std::vector<char>& more = tail.bytes();
    iovec parts[4] = {};
    parts[2] = iovec{head, headSize};
    parts[3] = iovec{const_cast<char*>(more.data()), more.size()};
    xcb_protocol_request_t request{};
    request.count = more.empty() ? 1 : 2;
    request.ext = nullptr; // the opcode is the server's answer, extension or not
    request.opcode = static_cast<std::uint8_t>(head[0]);
    request.isvoid = replies ? 0 : 1;
    const unsigned int sequence = xcb_send_request(connection_, 0, parts + 2, &request);
    if (sequence == 0)
        checkConnection();
    return sequence;
}

std::vector<char> XcbWire::reply(unsigned long sequence) {
    xcb_generic_error_t* error = nullptr;
    const std::unique_ptr<void, Freed> answer(
        xcb_wait_for_reply(connection_, static_cast<unsigned int>(sequence), &error));
    std::free(error);
    if (!answer) {
        checkConnection();
        return {};
    }
    const auto* bytes = static_cast<const char*>(answer.get());
    const auto* generic = static_cast<const xcb_generic_reply_t*>(answer.get());
    return std::vector<char>(bytes, bytes + 32 + std::size_t{generic->length} * 4);
}

std::uint32_t XcbWire::newId() {
    return xcb_generate_id(connection_);
}

std::size_t XcbWire::mostRequestBytes() const {
    return std::size_t{xcb_get_setup(connection_)->maximum_request_length} * 4;
}

void XcbWire::flush() {
    if (xcb_flush(connection_) <= 0)
        checkConnection();
}

void XcbWire::sync() {
    static_cast<void>(reply(sendBare(*this, X_GetInputFocus, true)));
}

std::optional<xEvent> XcbWire::nextEvent() {
    flush();
    const std::unique_ptr<xcb_generic_event_t, Freed> event(xcb_poll_for_event(connection_));
    if (!event) {
        checkConnection();
        return std::nullopt;
    }
    xEvent wire{};
    std::memcpy(&wire, event.get(), sizeof wire);
    const bool coreChange =
        (wire.u.u.type & 0x7F) == MappingNotify && wire.u.mappingNotify.request != MappingPointer;
    if (coreChange || (xkb_ && xkb_->changedBy(wire))) {
        // Read again now, before the keys that follow: the change may be
        // taken back soon after them.
        keymap_.reset();
        const bool read = xkbRead_;
        xkb_.reset();
        xkbRead_ = false;
        if (read)
            prepareKeys();
    }
    return wire;
}

int XcbWire::fileDescriptor() const {
    return xcb_get_file_descriptor(connection_);
}

void XcbWire::checkConnection() const {
    if (xcb_connection_has_error(connection_) != 0)
        broken_();
}

XkbKeys* XcbWire::xkb() {
    if (!xkbRead_) {
        xkb_ = XkbKeys::read(connection_);
        xkbRead_ = true;
        checkConnection();
    }
    return xkb_.get();
}

void XcbWire::prepareKeys() {
    if (xkb() == nullptr)
        askCoreKeymap();
}

void XcbWire::askCoreKeymap() {
    if (keyboardReply_ || keymap_)
        return;
    const int count = maxKeycode_ >= minKeycode_ ? maxKeycode_ - minKeycode_ + 1 : 0;
    queueRequest<xGetKeyboardMappingReq>(*this, X_GetKeyboardMapping, keyboardReply_,
                                         [&](xGetKeyboardMappingReq& request, RequestTail&) {
                                             request.firstKeyCode = minKeycode_;
                                             request.count = static_cast<CARD8>(count);
                                         });
    modifiersReply_.emplace(*this, sendBare(*this, X_GetModifierMapping, true));
}

const CoreKeymap& XcbWire::keymap() {
    if (keymap_)
        return *keymap_;
    askCoreKeymap();
    CoreKeymap keymap;
    keymap.minKeycode = minKeycode_;
    xGetKeyboardMappingReply keys{};
    if (keyboardReply_->header(keys)) {
        keymap.keysymsPerKeycode = keys.keySymsPerKeyCode;
        const std::vector<char>& bytes = keyboardReply_->bytes();
        keymap.keysyms.resize((bytes.size() - sizeof keys) / 4);
        std::memcpy(keymap.keysyms.data(), bytes.data() + sizeof keys, keymap.keysyms.size() * 4);
    }
    xGetModifierMappingReply modifiers{};
    if (modifiersReply_->header(modifiers)) {
        keymap.keycodesPerModifier = modifiers.numKeyPerModifier;
        const std::vector<char>& bytes = modifiersReply_->bytes();
        keymap.modifierKeycodes.assign(bytes.begin() + sizeof modifiers, bytes.end());
    }
    keyboardReply_.reset();
    modifiersReply_.reset();
    return keymap_.emplace(std::move(keymap));
}

KeySym XcbWire::keysymOf(const xEvent& key) {
    const std::uint8_t code = key.u.u.detail;
    const std::uint16_t state = key.u.keyButtonPointer.state;
    if (XkbKeys* keys = xkb())
        return keys->keysym(code, state);
    return coreKeysym(keymap(), code, state);
}

std::string XcbWire::typedBy(const xEvent& key, KeySym& keysym) {
    keysym = keysymOf(key);
    if (XkbKeys* keys = xkb())
        return keys->typed(key.u.u.detail, key.u.keyButtonPointer.state);
    // What XLookupString makes of the keys that type ASCII: the keypad's
    // and Latin-1's printable ones.
    if (keysym == XK_KP_Space)
        return " ";
    if ((keysym >= XK_KP_Multiply && keysym <= XK_KP_9) || keysym == XK_KP_Equal)
        return std::string(1, static_cast<char>(keysym & 0x7F));
    if (keysym >= 0x20 && keysym <= 0x7E)
        return std::string(1, static_cast<char>(keysym));
    return {};
}

} // namespace velmora::x11
