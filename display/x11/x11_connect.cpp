#include "display/x11/x11_connect.h"

#include "display/x11/x11_wire_xcb.h"
#include "display/x11/x11_wire_xlib.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <string>
#include <sys/socket.h>

namespace velmora::x11 {

namespace {

struct PendingOpen {
    ConnectionPlan plan;
    std::shared_ptr<ServerGreeting> greeting;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    // Where the thread was started away from its creator: the processors it
    // may run on once it runs.
    std::optional<cpu_set_t> allowed;
    std::unique_ptr<Wire> wire;
};

// The connection `plan` asks for, greeted; null when the server cannot be
// reached.
std::unique_ptr<Wire> connectAndGreet(const ConnectionPlan& plan, ServerGreeting& greeting) {
    std::unique_ptr<Wire> wire;
    if (plan.light) {
        wire = XcbWire::connect(plan.name.c_str(), plan.lost);
    } else if (Display* display = openDisplay(plan.name.c_str())) {
        wire = std::make_unique<XlibWire>(display);
    }
    if (wire)
        greeting.greet(*wire);
    return wire;
}

std::shared_ptr<PendingOpen>& startedOpen() {
    static std::shared_ptr<PendingOpen> pending;
    return pending;
}

void* openInto(void* argument) {
    const std::unique_ptr<std::shared_ptr<PendingOpen>> owned(
        static_cast<std::shared_ptr<PendingOpen>*>(argument));
    PendingOpen& pending = **owned;
    // Running, the thread may go anywhere again: held away from the
    // launcher's processor, it could not join the X server when the server
    // ran there, and each round trip then woke a processor gone idle.
    if (pending.allowed)
        sched_setaffinity(0, sizeof *pending.allowed, &*pending.allowed);
    std::unique_ptr<Wire> wire = connectAndGreet(pending.plan, *pending.greeting);
    const std::lock_guard<std::mutex> lock(pending.mutex);
    pending.done = true;
    // Given up on, a late connection is shut, not closed: the server then
    // drops it and whatever its greeting took (the grabs), while closing
    // would talk through Xlib to a server that may be gone by then, and
    // Xlib's handler would end the run that went on without it.
    if (!pending.abandoned)
        pending.wire = std::move(wire);
    else if (wire)
        shutdown(wire.release()->fileDescriptor(), SHUT_RDWR);
    pending.finished.notify_one();
    return nullptr;
}

// The processors the process may run on, and those of them but the one it
// runs on now: a new thread otherwise waits on its creator's processor until
// the scheduler moves it, which on the machines measured took half a
// millisecond, longer than the open's own work. Nothing when no other
// processor is allowed.
struct Processors {
    cpu_set_t allowed;
    cpu_set_t others;
};

std::optional<Processors> otherProcessors() {
    Processors processors;
    CPU_ZERO(&processors.allowed);
    const int current = sched_getcpu();
    if (current < 0 || current >= CPU_SETSIZE ||
        sched_getaffinity(0, sizeof processors.allowed, &processors.allowed) != 0)
        return std::nullopt;
    processors.others = processors.allowed;
    CPU_CLR(current, &processors.others);
    if (CPU_COUNT(&processors.others) == 0)
        return std::nullopt;
    return processors;
}

// Creates the thread, detached, on another processor when one is allowed.
bool createThread(PendingOpen& pending, void* argument) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const std::optional<Processors> elsewhere = otherProcessors();
    if (elsewhere)
        pending.allowed = elsewhere->allowed;
    bool created = elsewhere &&
                   pthread_attr_setaffinity_np(&attributes, sizeof elsewhere->others,
                                               &elsewhere->others) == 0 &&
                   pthread_create(&thread, &attributes, openInto, argument) == 0;
    pthread_attr_destroy(&attributes);
    if (!created && pthread_attr_init(&attributes) == 0) {
        pending.allowed.reset();
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        created = pthread_create(&thread, &attributes, openInto, argument) == 0;
        pthread_attr_destroy(&attributes);
    }
    return created;
}

// Starts the open with every signal blocked, so that signals meant for the
// launcher (a terminal menu's) never land on its thread.
bool startThread(const std::shared_ptr<PendingOpen>& pending) {
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    auto* argument = new std::shared_ptr<PendingOpen>(pending);
    const bool created = createThread(*pending, argument);
    if (!created)
        delete argument;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return created;
}

} // namespace

Display* openDisplay(const char* name) {
    // Only the open reads this setting of Xlib's (it is the process's, and
    // opens are made on one thread at a time).
    XkbIgnoreExtension(True);
    Display* display = XOpenDisplay(name);
    XkbIgnoreExtension(False);
    return display;
}

void enableKeyboardExtension(Display* display) {
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    // Asked with the version wanted, XkbUseExtension sets up the extension
    // even where the open left it out, but keeps the open's mark that it is
    // not to be used, which every other XKB call of Xlib then reads.
    if (!XkbUseExtension(display, &major, &minor))
        return;
    LockDisplay(display);
    display->flags &= ~XlibDisplayNoXkb;
    UnlockDisplay(display);
}

bool startConnecting(const ConnectionPlan& plan, std::shared_ptr<ServerGreeting> greeting) {
    std::shared_ptr<PendingOpen>& started = startedOpen();
    if (started && started->plan.name == plan.name && started->plan.light == plan.light)
        return true;
    auto pending = std::make_shared<PendingOpen>();
    pending->plan = plan;
    pending->greeting = std::move(greeting);
    if (!startThread(pending))
        return false;
    started = std::move(pending);
    return true;
}

std::unique_ptr<Wire> awaitConnection(const ConnectionPlan& plan,
                                      const std::shared_ptr<ServerGreeting>& greeting,
                                      std::chrono::milliseconds limit) {
    if (!startConnecting(plan, greeting)) // no thread to be had
        return connectAndGreet(plan, *greeting);
    const std::shared_ptr<PendingOpen> pending = std::move(startedOpen());
    startedOpen().reset();
    std::unique_lock<std::mutex> lock(pending->mutex);
    if (!pending->finished.wait_for(lock, limit, [&] { return pending->done; })) {
        pending->abandoned = true;
        return {};
    }
    return std::move(pending->wire);
}

} // namespace velmora::x11
