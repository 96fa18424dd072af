#include "display/x11/x11_connect.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <string>

namespace velmora::x11 {

namespace {

struct PendingOpen {
    std::string name;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    Display* display = nullptr;
};

std::shared_ptr<PendingOpen>& startedOpen() {
    static std::shared_ptr<PendingOpen> pending;
    return pending;
}

void* openInto(void* argument) {
    const std::unique_ptr<std::shared_ptr<PendingOpen>> owned(
        static_cast<std::shared_ptr<PendingOpen>*>(argument));
    PendingOpen& pending = **owned;
    Display* display = openDisplayFirst(pending.name.c_str());
    const std::lock_guard<std::mutex> lock(pending.mutex);
    pending.done = true;
    // Given up on, a late connection is left as it is: closing it talks to a
    // server that may be gone by then, and Xlib's own handler would end the
    // run that went on without it. The process's end closes it.
    if (!pending.abandoned)
        pending.display = display;
    pending.finished.notify_one();
    return nullptr;
}

// The processors the process may run on but the one it runs on now, for a
// thread that is to start at once: a new thread otherwise waits on its
// creator's processor until the scheduler moves it, which on the machines
// measured took half a millisecond, longer than the open's own work.
// Nothing when no other processor is allowed.
std::optional<cpu_set_t> otherProcessors() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    const int current = sched_getcpu();
    if (current < 0 || current >= CPU_SETSIZE ||
        sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return std::nullopt;
    CPU_CLR(current, &allowed);
    if (CPU_COUNT(&allowed) == 0)
        return std::nullopt;
    return allowed;
}

// Creates the thread, detached, on another processor when one is allowed.
bool createThread(void* argument) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const std::optional<cpu_set_t> elsewhere = otherProcessors();
    bool created = elsewhere &&
                   pthread_attr_setaffinity_np(&attributes, sizeof *elsewhere, &*elsewhere) == 0 &&
                   pthread_create(&thread, &attributes, openInto, argument) == 0;
    pthread_attr_destroy(&attributes);
    if (!created && pthread_attr_init(&attributes) == 0) {
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
    const bool created = createThread(argument);
    if (!created)
        delete argument;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return created;
}

} // namespace

bool startConnecting(const std::string& name) {
    std::shared_ptr<PendingOpen>& started = startedOpen();
    if (started && started->name == name)
        return true;
    auto pending = std::make_shared<PendingOpen>();
    pending->name = name;
    if (!startThread(pending))
        return false;
    started = std::move(pending);
    return true;
}

DisplayHandle awaitConnection(const std::string& name, std::chrono::milliseconds limit) {
    if (!startConnecting(name))
        return DisplayHandle(XOpenDisplay(name.c_str())); // no thread to be had
    const std::shared_ptr<PendingOpen> pending = std::move(startedOpen());
    startedOpen().reset();
    std::unique_lock<std::mutex> lock(pending->mutex);
    if (!pending->finished.wait_for(lock, limit, [&] { return pending->done; })) {
        pending->abandoned = true;
        return {};
    }
    return DisplayHandle(pending->display);
}

} // namespace velmora::x11
