// Waiting on an X connection for an event of interest, for the tests and
// the benchmark that watch what the launcher's menu does on a screen.
#pragma once

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <poll.h>

namespace velmora::test {

// Reads events until one that `want` accepts (left in `event`); false when
// none came by `deadline`.
template <typename Want>
bool nextXEvent(Display* display, std::chrono::steady_clock::time_point deadline, XEvent& event,
                Want want) {
    for (;;) {
        while (XPending(display) > 0) {
            XNextEvent(display, &event);
            if (want(event))
                return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd wait{ConnectionNumber(display), POLLIN, 0};
        ::poll(&wait, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
    }
}

} // namespace velmora::test
