// Measures how long programs take from their start to a window of their own
// on screen: starts one, waits on the root window for the MapNotify of a
// top-level window, then types Escape through XTest so that the program ends
// (or ends it with SIGTERM when Escape does not), and starts the next. The
// programs take turns, so that a machine busy with other work slows them
// alike.
//
//   velmora_x11_map_watch RUNS PROGRAM...
//
// A PROGRAM is a program and its arguments separated by blanks; a last word
// "<FILE" gives it FILE as standard input (for menus that read their items
// there); a word "+pick" has Down, Return typed in place of Escape (the menu
// opens with nothing highlighted), and the time Return
// was typed printed as "PROGRAM picked NANOSECONDS" on the monotonic clock
// (for timing the launch of the picked item); leading words NAME=VALUE are
// set in its environment, as a shell would (a cache folder of its own). Prints, per program, the
// median time to the window being mapped and the median processor time (user + system) of the whole
// run, in milliseconds. DISPLAY names the screen.
#include "tests/support/spawn_args.h"
#include "tests/support/x11_events.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

// Waits up to `limit` for an event that `want` accepts.
template <typename Want>
bool waitFor(Display* display, std::chrono::milliseconds limit, Want want) {
    XEvent event;
    return velmora::test::nextXEvent(display, Clock::now() + limit, event, want);
}

// Reaps the child and returns the processor time it used (microseconds);
// kills it when it does not end by itself within a while.
long long reap(pid_t pid) {
    int status = 0;
    rusage usage{};
    for (int i = 0; i < 500; ++i) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL +
                   usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
        if (done < 0 && errno != EINTR)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

// One program to start: its argument vector and its standard input.
struct Command {
    std::string label;
    std::vector<std::string> words;
    std::string input;
    std::vector<std::string> environment;
    bool pick = false;

    explicit Command(const std::string& line) : label(line) {
        std::size_t start = 0;
        while (start <= line.size()) {
            std::size_t end = line.find(' ', start);
            if (end == std::string::npos)
                end = line.size();
            if (end > start) {
                const std::string word = line.substr(start, end - start);
                if (word[0] == '<')
                    input = word.substr(1);
                else if (word == "+pick")
                    pick = true;
                else if (words.empty() && word.find('=') != std::string::npos)
                    environment.push_back(word);
                else
                    words.push_back(word);
            }
            start = end + 1;
        }
    }

    bool spawn(pid_t& pid) const {
        std::vector<std::string> arguments = words;
        const std::vector<char*> argv = velmora::test::pointers(arguments);
        std::vector<std::string> variables = environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string name =
                std::string(*entry).substr(0, std::string(*entry).find('=') + 1);
            if (std::none_of(environment.begin(), environment.end(), [&](const std::string& set) {
                    return set.compare(0, name.size(), name) == 0;
                }))
                variables.push_back(*entry);
        }
        const std::vector<char*> envp = velmora::test::pointers(variables);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!input.empty())
            posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        return error == 0;
    }
};

double medianMs(std::vector<long long> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const long long median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return static_cast<double>(median) / 1000.0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RUNS PROGRAM...\n", argv[0]);
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    const std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) {
        std::fprintf(stderr, "cannot open the display\n");
        return 2;
    }
    Display* d = display.get();
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(d, &eventBase, &errorBase, &major, &minor)) {
        std::fprintf(stderr, "the server has no XTest\n");
        return 2;
    }
    const KeyCode escape = XKeysymToKeycode(d, XK_Escape);
    const KeyCode enter = XKeysymToKeycode(d, XK_Return);
    const KeyCode down = XKeysymToKeycode(d, XK_Down);
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);

    const int programs = argc - 2;
    std::vector<std::vector<long long>> mapTimes(static_cast<std::size_t>(programs));
    std::vector<std::vector<long long>> cpuTimes(static_cast<std::size_t>(programs));
    for (int run = 0; run < runs; ++run) {
        for (int p = 0; p < programs; ++p) {
            const Command command(argv[2 + p]);
            const char* program = argv[2 + p];
            if (command.words.empty())
                return 2;
            pid_t pid = -1;
            const auto start = Clock::now();
            if (!command.spawn(pid)) {
                std::fprintf(stderr, "cannot start %s\n", program);
                return 2;
            }
            Window mapped = None;
            const bool seen = waitFor(d, std::chrono::seconds(10), [&mapped](const XEvent& e) {
                if (e.type != MapNotify)
                    return false;
                mapped = e.xmap.window;
                return true;
            });
            const auto shown = Clock::now();
            if (!seen) {
                std::fprintf(stderr, "%s: no window was mapped\n", program);
                reap(pid);
                return 1;
            }
            // The pointer onto the window: with no window manager, a program
            // that takes no keyboard grab (Wine's menus) gets the keys of the
            // window under the pointer.
            XWarpPointer(d, None, mapped, 0, 0, 0, 0, 2, 2);
            // The program may take its keyboard grab just after mapping: type
            // Escape until its window has gone.
            bool gone = false;
            const KeyCode key = command.pick ? enter : escape;
            Clock::time_point typed;
            for (int attempt = 0; attempt < 25 && !gone; ++attempt) {
                if (command.pick) {
                    XTestFakeKeyEvent(d, down, True, CurrentTime);
                    XTestFakeKeyEvent(d, down, False, CurrentTime);
                }
                XTestFakeKeyEvent(d, key, True, CurrentTime);
                XTestFakeKeyEvent(d, key, False, CurrentTime);
                typed = Clock::now();
                XFlush(d);
                gone = waitFor(d, std::chrono::milliseconds(20), [mapped](const XEvent& e) {
                    return (e.type == UnmapNotify && e.xunmap.window == mapped) ||
                           (e.type == DestroyNotify && e.xdestroywindow.window == mapped);
                });
            }
            if (!gone)
                kill(pid, SIGTERM);
            else if (command.pick)
                std::printf(
                    "%s picked %lld\n", program,
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                               typed.time_since_epoch())
                                               .count()));
            cpuTimes[static_cast<std::size_t>(p)].push_back(reap(pid));
            mapTimes[static_cast<std::size_t>(p)].push_back(
                std::chrono::duration_cast<std::chrono::microseconds>(shown - start).count());
        }
    }
    for (int p = 0; p < programs; ++p) {
        std::printf("%s map %.2f cpu %.2f\n", argv[2 + p],
                    medianMs(mapTimes[static_cast<std::size_t>(p)]),
                    medianMs(cpuTimes[static_cast<std::size_t>(p)]));
    }
    return 0;
}
