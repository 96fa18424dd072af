// The wire over a connection of libxcb's own, for a start whose menu draws
// remembered glyphs and so needs no Xlib: libxcb alone loads in half the
// time of libX11, and its connection is made in one round trip where
// Xlib's open takes four. Keys are read through xkbcommon, or where it is
// missing from the core protocol's keyboard map.
#pragma once

#include "display/x11/x11_keymap.h"
#include "display/x11/x11_wire.h"
#include "display/x11/x11_xkb_keys.h"

#include <memory>
#include <optional>

namespace velmora::x11 {

class XcbWire : public Wire {
public:
    // Takes `connection` (connected, to screen `screen`); `broken` is
    // called, and must not return, once the connection is lost.
    XcbWire(xcb_connection_t* connection, int screen, void (*broken)());
    ~XcbWire() override;
    XcbWire(const XcbWire&) = delete;
    XcbWire& operator=(const XcbWire&) = delete;

    // Connects to `name`; null when the server cannot be reached.
    static std::unique_ptr<XcbWire> connect(const char* name, void (*broken)());

    unsigned long send(char* head, std::size_t headSize, const RequestTail& tail,
                       bool replies) override;
    std::vector<char> reply(unsigned long sequence) override;
    std::uint32_t newId() override;
    std::size_t mostRequestBytes() const override;
    void flush() override;
    void sync() override;
    std::optional<xEvent> nextEvent() override;
    int fileDescriptor() const override;
    KeySym keysymOf(const xEvent& key) override;
    std::string typedBy(const xEvent& key, KeySym& keysym) override;
    // Reads XKB's keymap, or where xkbcommon cannot, asks for the core
    // keyboard's maps.
    void prepareKeys() override;
    Display* xlib() const override { return nullptr; }

private:
    void checkConnection() const;
    XkbKeys* xkb();
    // Asks for the core keyboard's maps, unless asked since they changed.
    void askCoreKeymap();
    const CoreKeymap& keymap();

    xcb_connection_t* connection_;
    void (*broken_)();
    std::uint8_t minKeycode_;
    std::uint8_t maxKeycode_;
    std::optional<PendingReply> keyboardReply_;
    std::optional<PendingReply> modifiersReply_;
    std::optional<CoreKeymap> keymap_;
    // Read once the menu is drawn, or at a key before: XKB's keymap takes
    // several round trips.
    bool xkbRead_ = false;
    std::unique_ptr<XkbKeys> xkb_;
};

} // namespace velmora::x11
