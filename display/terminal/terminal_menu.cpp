// The pop-up menu drawn on the controlling terminal (/dev/tty).
//
// It speaks the escape sequences that xterm and its descendants share (and
// tmux, screen and the Linux console understand): absolute cursor moves,
// reverse video and underline, the alternate screen, SGR mouse reports; the
// text is written as UTF-8. No terminfo lookup is made, which keeps the
// start-up to a few system calls.
//
// Every key, character and mouse report it reads goes to the MenuSession
// that every drawn menu shares; it draws what the session says changed, and
// decides nothing itself but that "q" closes it. The mouse is read with
// button-event tracking (mode 1002, after 1000 for terminals that know only
// that) in SGR coordinates (1006): presses, releases and the motion while a
// button is held, so a drag highlights the items it crosses and the left
// button's release over an item picks it. What the terminal does not tell,
// the menu here lacks: no hover while no button is held (any-motion
// tracking, 1003, would report every move of the pointer anywhere on the
// terminal), and no scroll arrows to rest on (the border shows ▲ and ▼ where
// more items lie); the wheel scrolls.
//
// The terminal is switched to raw input, the alternate screen, a hidden
// cursor and xterm mouse reporting for as long as the menu is open, and put
// back as it was on every way out: a pick, a dismissal, an error, and the
// signals SIGINT, SIGTERM and SIGHUP, which dismiss the menu. Their handlers
// only write the signal's number to a pipe that the input loop watches, so
// that the restoring is done by ordinary code; SIGWINCH redraws the menu for
// the terminal's new size.
//
// Every other signal whose default action ends the process (SIGQUIT,
// SIGUSR1, SIGALRM, SIGPIPE, ...), unless it was ignored when the menu
// opened, puts the terminal back in its handler, with the async-signal-safe
// write and tcsetattr only, and then ends the process as that signal would.
// SIGTSTP, SIGTTIN and SIGTTOU put the terminal back and stop; SIGCONT enters the menu's modes
// again and has the menu redrawn.
#include "display/menu_display.h"
#include "display/terminal/terminal_input.h"
#include "display/terminal/terminal_layout.h"
#include "platform/file_descriptor.h"

#include "text/text_codec.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velmora {

namespace {

// How long the rest of a cut sequence or character is waited for.
constexpr int CUT_WAIT_MILLISECONDS = 50;

// The write end of the pipe through which signal handlers wake the menu.
volatile sig_atomic_t signalPipe = -1;

constexpr char ENTER_MODES[] = "\x1b[?1049h\x1b[?25l\x1b[?1000h\x1b[?1002h\x1b[?1006h";
constexpr char LEAVE_MODES[] = "\x1b[0m\x1b[?1006l\x1b[?1002l\x1b[?1000l\x1b[?1049l\x1b[?25h";

// The terminal's modes while the menu holds it, for the signal handlers:
// set before `modesActive` becomes 1 and left alone while it is.
struct HeldTerminal {
    int fd = -1;
    struct termios saved {};
    struct termios raw {};
};
HeldTerminal heldTerminal;
volatile sig_atomic_t modesActive = 0;

// Async-signal-safe: write() and tcsetattr() only.
void writeRaw(int fd, const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, text, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        size -= static_cast<std::size_t>(n);
    }
}

void leaveModesNow() {
    if (modesActive == 0)
        return;
    writeRaw(heldTerminal.fd, LEAVE_MODES, sizeof LEAVE_MODES - 1);
    ::tcsetattr(heldTerminal.fd, TCSANOW, &heldTerminal.saved);
}

void enterModesNow() {
    if (modesActive == 0)
        return;
    ::tcsetattr(heldTerminal.fd, TCSANOW, &heldTerminal.raw);
    writeRaw(heldTerminal.fd, ENTER_MODES, sizeof ENTER_MODES - 1);
}

void notifyMenu(int number) {
    const int fd = signalPipe;
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(number);
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
}

void onSignal(int number) {
    const int saved = errno;
    notifyMenu(number);
    errno = saved;
}

// Sends `number` to this process again with its default action and waits
// for it to take effect (end or stop).
void raiseWithDefaultAction(int number) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(number, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, number);
    ::raise(number);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
}

void onFatalSignal(int number) {
    leaveModesNow();
    modesActive = 0;
    raiseWithDefaultAction(number);
}

void onStop(int number) {
    const int saved = errno;
    leaveModesNow();
    raiseWithDefaultAction(number); // stops here until SIGCONT
    // An orphaned process group is not stopped at all: the menu goes on.
    enterModesNow();
    notifyMenu(SIGCONT);
    struct sigaction again {};
    again.sa_handler = onStop;
    sigemptyset(&again.sa_mask);
    ::sigaction(number, &again, nullptr);
    errno = saved;
}

void onContinue(int number) {
    const int saved = errno;
    enterModesNow();
    notifyMenu(number); // the screen is redrawn
    errno = saved;
}

bool writeText(int fd, const std::string& text) {
    return writeAll(fd, text.data(), text.size());
}

void moveTo(std::string& out, int column, int row) {
    out += "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(column + 1) + "H";
}

// The signals whose default action ends the process, besides those that
// dismiss the menu; SIGKILL cannot be caught.
std::vector<int> fatalSignals() {
    std::vector<int> numbers{SIGQUIT, SIGILL,    SIGTRAP, SIGABRT, SIGBUS,  SIGFPE,
                             SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGXCPU,
                             SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGSYS};
#ifdef SIGSTKFLT
    numbers.push_back(SIGSTKFLT);
#endif
#ifdef SIGPWR
    numbers.push_back(SIGPWR);
#endif
    for (int number = SIGRTMIN; number <= SIGRTMAX; ++number)
        numbers.push_back(number);
    return numbers;
}

// Catches the signals for its lifetime and restores the previous handlers
// after: the dismissing ones and SIGWINCH through the pipe, the others as
// described at the top.
class SignalCatcher {
public:
    SignalCatcher() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        read_ = FileDescriptor(fds[0]);
        write_ = FileDescriptor(fds[1]);
        signalPipe = write_.get();
        for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGWINCH})
            install(number, onSignal, false);
        for (const int number : fatalSignals())
            install(number, onFatalSignal, true);
        for (const int number : {SIGTSTP, SIGTTIN, SIGTTOU})
            install(number, onStop, true);
        install(SIGCONT, onContinue, false);
    }
    ~SignalCatcher() {
        for (auto it = installed_.rbegin(); it != installed_.rend(); ++it)
            ::sigaction(it->first, &it->second, nullptr);
        signalPipe = -1;
    }
    SignalCatcher(const SignalCatcher&) = delete;
    SignalCatcher& operator=(const SignalCatcher&) = delete;

    int fd() const { return read_.get(); }

private:
    // A signal ignored when the menu opened stays ignored when `keepIgnored`.
    void install(int number, void (*handler)(int), bool keepIgnored) {
        struct sigaction previous {};
        if (::sigaction(number, nullptr, &previous) != 0)
            return;
        if (keepIgnored && previous.sa_handler == SIG_IGN)
            return;
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        if (::sigaction(number, &action, nullptr) == 0)
            installed_.emplace_back(number, previous);
    }

    FileDescriptor read_;
    FileDescriptor write_;
    std::vector<std::pair<int, struct sigaction>> installed_;
};

// Raw mode and the menu's screen modes, undone on destruction.
class TerminalModes {
public:
    explicit TerminalModes(int fd) : fd_(fd) {
        if (::tcgetattr(fd_, &saved_) != 0)
            return;
        struct termios raw = saved_;
        raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IXON);
        raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (::tcsetattr(fd_, TCSANOW, &raw) != 0)
            return;
        active_ = true;
        heldTerminal = HeldTerminal{fd_, saved_, raw};
        modesActive = 1;
        // Alternate screen, hidden cursor, mouse buttons and drags in SGR
        // coordinates.
        writeText(fd_, ENTER_MODES);
    }
    ~TerminalModes() {
        if (!active_)
            return;
        modesActive = 0;
        writeText(fd_, LEAVE_MODES);
        ::tcsetattr(fd_, TCSANOW, &saved_);
    }
    TerminalModes(const TerminalModes&) = delete;
    TerminalModes& operator=(const TerminalModes&) = delete;

    bool active() const { return active_; }

private:
    int fd_;
    struct termios saved_ {};
    bool active_ = false;
};

// What ends a wait for input: an input, a new terminal size, or the end of
// the menu (a signal, or the terminal hung up).
struct Event {
    enum class Kind { Input, Resize, Dismiss } kind = Kind::Dismiss;
    TerminalInput input;
};

// The box's rows for hit-testing: one cell of border, one cell per row, no
// arrows of its own.
MenuGeometry geometryOf(const TerminalMenuLayout& layout) {
    MenuGeometry geometry;
    geometry.frame = layout.box;
    geometry.border = 1;
    geometry.rowHeight = 1;
    geometry.rows = layout.visibleRows;
    return geometry;
}

// The session's answer to one input; "q" closes the menu unless it is some
// item's mnemonic.
MenuUpdate apply(MenuSession& session, const TerminalInput& input, bool qCloses) {
    const MenuPointer at = MenuPointer::at(input.column, input.row);
    switch (input.kind) {
    case TerminalInput::Kind::Key:
        return session.key(input.key);
    case TerminalInput::Kind::Character:
        if (input.character == U'q' && qCloses)
            return session.key(MenuKey::Cancel);
        return session.type(input.character);
    case TerminalInput::Kind::Press:
        return session.press(input.button, at);
    case TerminalInput::Kind::Release:
        return session.release(input.button, at);
    case TerminalInput::Kind::Motion:
        return session.motion(at, input.buttonHeld);
    case TerminalInput::Kind::Wheel:
        return session.wheel(input.notches);
    }
    return {};
}

class TerminalMenuDisplay : public MenuDisplay {
public:
    explicit TerminalMenuDisplay(FileDescriptor tty) : tty_(std::move(tty)) {}

    int screenWidth() override { return size().ws_col; }
    int screenHeight() override { return size().ws_row; }

    unsigned int track(const std::vector<MenuItem>& items, unsigned int flags, int x,
                       int y) override;

private:
    struct winsize size() const {
        struct winsize ws {};
        if (::ioctl(tty_.get(), TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) {
            ws.ws_col = 80;
            ws.ws_row = 24;
        }
        return ws;
    }
    // The whole box, on a cleared screen when `clear`.
    void draw(const MenuNavigator& navigator, const TerminalMenuLayout& layout, bool clear);
    // The rows of the two items of a Rows update, those that are shown.
    void drawRows(const MenuNavigator& navigator, const TerminalMenuLayout& layout,
                  const MenuUpdate& update);
    // Waits up to `timeoutMs` (-1: no limit) for input; false when a signal
    // or the terminal's end (then `ended_`) ends the menu.
    bool readMore(int signalFd, int timeoutMs, bool& signalled);
    Event nextEvent(int signalFd, bool& signalled);

    FileDescriptor tty_;
    TerminalInputDecoder decoder_; // holds bytes read but not yet decoded
    std::size_t received_ = 0;     // bytes read so far
    bool resized_ = false;
    bool ended_ = false; // the terminal hung up or failed
};

// Item row `r` of the box (0: the first shown), borders included.
void appendRow(std::string& out, const MenuNavigator& navigator, const TerminalMenuLayout& layout,
               std::size_t r) {
    const MenuRect& box = layout.box;
    moveTo(out, box.left, box.top + 1 + static_cast<int>(r));
    out += "│";
    const std::size_t index = navigator.firstVisible() + r;
    if (index < navigator.itemCount()) {
        const ItemRow item = layoutItemRow(navigator.title(index), layout.innerWidth);
        const bool lit = index == navigator.highlighted();
        if (lit)
            out += "\x1b[7m";
        for (std::size_t i = 0; i < item.text.size(); ++i) {
            if (i == item.mnemonicAt)
                out += "\x1b[4m";
            appendUtf8CodePoint(out, item.text[i]);
            if (i == item.mnemonicAt)
                out += "\x1b[24m";
        }
        if (lit)
            out += "\x1b[27m";
    } else {
        out.append(static_cast<std::size_t>(layout.innerWidth), ' ');
    }
    out += "│";
}

void TerminalMenuDisplay::draw(const MenuNavigator& navigator, const TerminalMenuLayout& layout,
                               bool clear) {
    const MenuRect& box = layout.box;
    std::string out = clear ? "\x1b[0m\x1b[2J" : "";
    if (box.width < 2 || box.height < 2) {
        writeText(tty_.get(), out);
        return;
    }
    const auto border = [&](int row, const char* left, const char* right, bool moreThisWay) {
        moveTo(out, box.left, row);
        out += left;
        for (int i = 0; i < layout.innerWidth; ++i)
            out += (moreThisWay && i == layout.innerWidth - 2) ? (row == box.top ? "▲" : "▼") : "─";
        out += right;
    };
    const std::size_t first = navigator.firstVisible();
    border(box.top, "┌", "┐", first > 0);
    for (std::size_t r = 0; r < layout.visibleRows; ++r)
        appendRow(out, navigator, layout, r);
    border(box.top + box.height - 1, "└", "┘", first + layout.visibleRows < navigator.itemCount());
    writeText(tty_.get(), out);
}

void TerminalMenuDisplay::drawRows(const MenuNavigator& navigator, const TerminalMenuLayout& layout,
                                   const MenuUpdate& update) {
    std::string out;
    const std::size_t first = navigator.firstVisible();
    for (const std::size_t index : update.rows) {
        if (index >= first && index - first < layout.visibleRows)
            appendRow(out, navigator, layout, index - first);
    }
    writeText(tty_.get(), out);
}

bool TerminalMenuDisplay::readMore(int signalFd, int timeoutMs, bool& signalled) {
    struct pollfd fds[2] = {{tty_.get(), POLLIN, 0}, {signalFd, POLLIN, 0}};
    const nfds_t count = signalFd >= 0 ? 2 : 1;
    int ready = 0;
    do {
        ready = ::poll(fds, count, timeoutMs);
    } while (ready < 0 && errno == EINTR && !(count == 2 && (fds[1].revents & POLLIN)));
    if (ready < 0) {
        ended_ = true;
        return false;
    }
    if (count == 2 && (fds[1].revents & POLLIN) != 0) {
        unsigned char numbers[16];
        const ssize_t n = ::read(signalFd, numbers, sizeof numbers);
        for (ssize_t i = 0; i < n; ++i) {
            if (numbers[i] == SIGWINCH || numbers[i] == SIGCONT)
                resized_ = true; // drawn again, for the size the terminal has now
            else
                signalled = true;
        }
        return !signalled;
    }
    if (ready == 0)
        return true; // nothing within the time
    if ((fds[0].revents & POLLIN) == 0) {
        ended_ = true; // hung up or failed
        return false;
    }
    char buffer[256];
    ssize_t n = 0;
    do {
        n = ::read(tty_.get(), buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        ended_ = true;
        return false;
    }
    decoder_.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    received_ += static_cast<std::size_t>(n);
    return true;
}

Event TerminalMenuDisplay::nextEvent(int signalFd, bool& signalled) {
    Event event;
    for (;;) {
        if (signalled || ended_) {
            event.kind = Event::Kind::Dismiss;
            return event;
        }
        if (resized_) {
            resized_ = false;
            event.kind = Event::Kind::Resize;
            return event;
        }
        std::optional<TerminalInput> input = decoder_.next();
        if (!input && decoder_.waiting()) {
            // A sequence or character cut short: the rest follows at once
            // if it is coming at all.
            const std::size_t had = received_;
            if (!readMore(signalFd, CUT_WAIT_MILLISECONDS, signalled))
                continue;
            if (received_ == had)
                input = decoder_.flush();
        } else if (!input) {
            readMore(signalFd, -1, signalled);
        }
        if (input) {
            event.kind = Event::Kind::Input;
            event.input = *input;
            return event;
        }
    }
}

unsigned int TerminalMenuDisplay::track(const std::vector<MenuItem>& items, unsigned int flags,
                                        int x, int y) {
    const std::vector<MenuTitle> titles = parseMenuTitles(items);
    bool qCloses = true; // unless "q" is some item's mnemonic
    for (const MenuTitle& title : titles)
        qCloses = qCloses && title.mnemonic != U'q';

    SignalCatcher signals;
    TerminalModes modes(tty_.get());
    if (!modes.active())
        return 0;

    MenuSession session(items);
    struct winsize ws = size();
    TerminalMenuLayout layout = layoutTerminalMenu(titles, flags, x, y, ws.ws_col, ws.ws_row);
    session.setGeometry(geometryOf(layout));
    draw(session.navigator(), layout, true);

    decoder_.clear();
    while (!session.closed()) {
        bool signalled = false;
        const Event event = nextEvent(signals.fd(), signalled);
        // The size is asked for at every event, so that the pointer is
        // placed on the box as it is now even before SIGWINCH is read.
        const struct winsize now = size();
        const bool moved = now.ws_col != ws.ws_col || now.ws_row != ws.ws_row;
        if (moved) {
            ws = now;
            layout = layoutTerminalMenu(titles, flags, x, y, ws.ws_col, ws.ws_row);
            session.setGeometry(geometryOf(layout));
        }
        MenuUpdate update;
        if (event.kind == Event::Kind::Dismiss)
            update = session.dismiss();
        else if (event.kind == Event::Kind::Input)
            update = apply(session, event.input, qCloses);
        if (update.closed)
            break;
        if (moved || event.kind == Event::Kind::Resize)
            draw(session.navigator(), layout, true);
        else if (update.repaint == MenuUpdate::Repaint::Everything)
            draw(session.navigator(), layout, false);
        else if (update.repaint == MenuUpdate::Repaint::Rows)
            drawRows(session.navigator(), layout, update);
    }
    return session.command();
}

} // namespace

std::unique_ptr<MenuDisplay> openMenuDisplayTerminal() {
    FileDescriptor tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!tty || !::isatty(tty.get()))
        return nullptr;
    return std::make_unique<TerminalMenuDisplay>(std::move(tty));
}

} // namespace velmora
