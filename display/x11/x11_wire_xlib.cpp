#include "display/x11/x11_wire_xlib.h"

#include "display/x11/x11_connect.h"

#include <algorithm>

namespace velmora::x11 {

// Catches the reply to one request as Xlib reads it.
class XlibWire::Catcher {
public:
    // With the display locked, right after the request.
    Catcher(Display* display, unsigned long sequence) : display_(display), sequence_(sequence) {
        handler_.next = display->async_handlers;
        handler_.handler = onReply;
        handler_.data = reinterpret_cast<XPointer>(this);
        display->async_handlers = &handler_;
    }
    ~Catcher() {
        LockDisplay(display_);
        if (display_->async_handlers == &handler_)
            display_->async_handlers = handler_.next;
        else
            _XDeqAsyncHandler(display_, &handler_);
        UnlockDisplay(display_);
    }
    Catcher(const Catcher&) = delete;
    Catcher& operator=(const Catcher&) = delete;

    bool done() const { return done_; }
    std::vector<char>& bytes() { return bytes_; }

private:
    static Bool onReply(Display* display, xReply* reply, char* buffer, int length, XPointer data) {
        auto* self = reinterpret_cast<Catcher*>(data);
        if (display->last_request_read != self->sequence_)
            return False;
        self->done_ = true;
        if (reply->generic.type == X_Error)
            return False; // to the error handler
        // Xlib over XCB hands over the whole reply; a length that disagrees
        // with the header's is taken as no answer.
        const std::size_t whole = sizeof(xReply) + std::size_t{reply->generic.length} * 4;
        if (length >= 0 && static_cast<std::size_t>(length) == whole)
            self->bytes_.assign(buffer, buffer + length);
        return True;
    }

    Display* display_;
    unsigned long sequence_;
    _XAsyncHandler handler_{};
    bool done_ = false;
    std::vector<char> bytes_;
};

XlibWire::XlibWire(Display* display) : owned_(display), display_(display) {
    const int number = DefaultScreen(display);
    Visual* visual = DefaultVisual(display, number);
    screen_.number = number;
    screen_.root = RootWindow(display, number);
    screen_.visual = visual->visualid;
    screen_.visualClass = visual->c_class;
    screen_.redMask = visual->red_mask;
    screen_.greenMask = visual->green_mask;
    screen_.blueMask = visual->blue_mask;
    screen_.colormap = DefaultColormap(display, number);
    screen_.width = DisplayWidth(display, number);
    screen_.height = DisplayHeight(display, number);
}

XlibWire::~XlibWire() = default;

unsigned long XlibWire::send(char* head, std::size_t headSize, const RequestTail& tail,
                             bool replies) {
    const std::vector<char>& more = tail.bytes();
    const auto words = static_cast<CARD16>((headSize + more.size()) / 4);
    const auto* bytes = reinterpret_cast<const unsigned char*>(head);
    LockDisplay(display_);
    auto* request = static_cast<unsigned char*>(_XGetRequest(display_, bytes[0], headSize));
    std::copy(bytes, bytes + headSize, request);
    std::memcpy(request + 2, &words, sizeof words);
    if (!more.empty())
        Data(display_, more.data(), static_cast<long>(more.size()));
    const unsigned long sequence = display_->request;
    if (replies)
        catchers_[sequence] = std::make_unique<Catcher>(display_, sequence);
    UnlockDisplay(display_);
    if (display_->synchandler != nullptr)
        display_->synchandler(display_);
    return sequence;
}

std::vector<char> XlibWire::reply(unsigned long sequence) {
    const auto found = catchers_.find(sequence);
    if (found == catchers_.end())
        return {};
    if (!found->second->done())
        XSync(display_, False);
    std::vector<char> bytes = std::move(found->second->bytes());
    catchers_.erase(found);
    return bytes;
}

std::uint32_t XlibWire::newId() {
    return static_cast<std::uint32_t>(XAllocID(display_));
}

std::size_t XlibWire::mostRequestBytes() const {
    return std::size_t{display_->max_request_size} * 4;
}

void XlibWire::flush() {
    XFlush(display_);
}

void XlibWire::sync() {
    XSync(display_, False);
}

std::optional<xEvent> XlibWire::nextEvent() {
    if (XPending(display_) <= 0)
        return std::nullopt;
    XEvent event;
    XNextEvent(display_, &event);
    xEvent wire{};
    if (!_XEventToWire(display_, &event, &wire))
        return xEvent{}; // a type the menu does not know: type 0, passed over
    return wire;
}

int XlibWire::fileDescriptor() const {
    return ConnectionNumber(display_);
}

namespace {

XKeyEvent keyEventOf(Display* display, const xEvent& key) {
    XKeyEvent event{};
    event.type = KeyPress;
    event.display = display;
    event.keycode = key.u.u.detail;
    event.state = key.u.keyButtonPointer.state;
    return event;
}

} // namespace

KeySym XlibWire::keysymOf(const xEvent& key) {
    prepareKeys(); // a key before the menu was drawn
    KeySym keysym = NoSymbol;
    unsigned int unusedModifiers = 0;
    XkbLookupKeySym(display_, static_cast<KeyCode>(key.u.u.detail), key.u.keyButtonPointer.state,
                    &unusedModifiers, &keysym);
    return keysym;
}

std::string XlibWire::typedBy(const xEvent& key, KeySym& keysym) {
    XKeyEvent event = keyEventOf(display_, key);
    char typed[32];
    const int length = XLookupString(&event, typed, sizeof typed, &keysym, nullptr);
    return std::string(typed, static_cast<std::size_t>(std::max(length, 0)));
}

} // namespace velmora::x11

namespace velmora::x11 {

void XlibWire::prepareKeys() {
    if (!keysReady_)
        enableKeyboardExtension(display_);
    keysReady_ = true;
}

} // namespace velmora::x11
