// The wire over Xlib's connection: requests through Xlib's request buffer,
// their replies caught as Xlib's own XInternAtoms catches several for one
// wait (an asynchronous handler each), events through Xlib's queue.
#pragma once

#include "display/x11/x11_handles.h"
#include "display/x11/x11_wire.h"

#include <map>
#include <memory>

namespace velmora::x11 {

class XlibWire : public Wire {
public:
    // Takes `display`, closing it with the wire.
    explicit XlibWire(Display* display);
    ~XlibWire() override;
    XlibWire(const XlibWire&) = delete;
    XlibWire& operator=(const XlibWire&) = delete;

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
    void prepareKeys() override;
    Display* xlib() const override { return display_; }

private:
    class Catcher;
    DisplayHandle owned_;
    Display* display_;
    bool keysReady_ = false;
    std::map<unsigned long, std::unique_ptr<Catcher>> catchers_; // gone before the display
};

} // namespace velmora::x11
