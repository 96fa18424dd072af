// The one way the X11 menu speaks to its server: requests as the protocol's
// bytes, their replies, and events in their wire form. The menu builds every
// request itself (the protocol's own structs), so that what carries them can
// be Xlib's connection, which Xft needs for faces it opens, or a lighter one.
#pragma once

#include "display/x11/x11_library.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace velmora::x11 {

// What the server said of its default screen when the connection was made.
struct WireScreen {
    int number = 0;
    Window root = 0;
    VisualID visual = 0;
    int visualClass = TrueColor;
    unsigned long redMask = 0;
    unsigned long greenMask = 0;
    unsigned long blueMask = 0;
    Colormap colormap = 0;
    int width = 0;
    int height = 0;
};

// The bytes that follow a request's fixed part, each piece padded to four.
class RequestTail {
public:
    void append(const void* bytes, std::size_t size) {
        const auto* first = static_cast<const char*>(bytes);
        bytes_.insert(bytes_.end(), first, first + size);
        bytes_.resize((bytes_.size() + 3) & ~std::size_t{3}, '\0');
    }
    const std::vector<char>& bytes() const { return bytes_; }

private:
    std::vector<char> bytes_;
};

class Wire {
public:
    virtual ~Wire() = default;

    // Sends a request: `head` its fixed part, the major opcode in its first
    // byte, `tail` what follows; the length is counted here (and may be
    // written into the head, which is sent as it stands). Returns its
    // sequence number, by which a reply is asked for when it has one.
    virtual unsigned long send(char* head, std::size_t headSize, const RequestTail& tail,
                               bool replies) = 0;
    // The reply to the request `sequence` (sent with `replies`), from its
    // header on, waiting for it; empty when an error came instead. Each
    // reply is taken once.
    virtual std::vector<char> reply(unsigned long sequence) = 0;
    // A new resource id of the connection.
    virtual std::uint32_t newId() = 0;
    // The largest request the server takes, in bytes.
    virtual std::size_t mostRequestBytes() const = 0;
    virtual void flush() = 0;
    // Waits until the server has handled every request sent before.
    virtual void sync() = 0;
    // The next event, in wire form: flushes, and reads what the server sent
    // meanwhile without waiting. Nothing when none came, so that waiting on
    // the connection then misses none.
    virtual std::optional<xEvent> nextEvent() = 0;
    virtual int fileDescriptor() const = 0;
    // The keysym of a key event.
    virtual KeySym keysymOf(const xEvent& key) = 0;
    // The text a key event types (Latin-1 or ASCII), with its keysym.
    virtual std::string typedBy(const xEvent& key, KeySym& keysym) = 0;
    // Readies the reading of keys, once the menu is drawn: keys that came
    // before are read all the same.
    virtual void prepareKeys() = 0;
    // The Xlib display under the connection, for Xft; null when none.
    virtual Display* xlib() const = 0;
    const WireScreen& screen() const { return screen_; }

protected:
    WireScreen screen_;
};

// A reply on its way; read with `header`/`bytes` once it is needed.
class PendingReply {
public:
    PendingReply(Wire& wire, unsigned long sequence) : wire_(&wire), sequence_(sequence) {}
    // The reply's bytes from its header on; empty when none came.
    const std::vector<char>& bytes() const {
        if (!taken_) {
            bytes_ = wire_->reply(sequence_);
            taken_ = true;
        }
        return bytes_;
    }
    bool answered() const { return !bytes().empty(); }
    // The reply's fixed part; false when none came.
    template <typename Reply> bool header(Reply& reply) const {
        static_assert(std::is_trivially_copyable_v<Reply>);
        if (bytes().size() < sizeof(Reply))
            return false;
        std::memcpy(&reply, bytes().data(), sizeof(Reply));
        return true;
    }

private:
    Wire* wire_;
    unsigned long sequence_;
    mutable bool taken_ = false;
    mutable std::vector<char> bytes_;
};

// Sends a request (its fixed part zeroed before `fill` sets it and appends
// to the tail) to `opcode`.
template <typename Request, typename Fill>
unsigned long sendRequest(Wire& wire, int opcode, Fill fill, bool replies = false) {
    static_assert(std::is_trivially_copyable_v<Request>);
    Request request{};
    RequestTail tail;
    fill(request, tail);
    char head[sizeof(Request)];
    std::memcpy(head, &request, sizeof request);
    head[0] = static_cast<char>(opcode);
    return wire.send(head, sizeof head, tail, replies);
}

// Queues such a request whose reply `pending` catches.
template <typename Request, typename Fill>
void queueRequest(Wire& wire, int opcode, std::optional<PendingReply>& pending, Fill fill) {
    pending.emplace(wire, sendRequest<Request>(wire, opcode, fill, true));
}

} // namespace velmora::x11
