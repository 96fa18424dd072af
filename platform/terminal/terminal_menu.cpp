// The pop-up menu drawn on the controlling terminal (/dev/tty).
//
// It speaks the escape sequences that xterm and its descendants share (and
// tmux, screen and the Linux console understand): absolute cursor moves,
// reverse video and underline, the alternate screen, SGR mouse reports; the
// text is written as UTF-8. No terminfo lookup is made, which keeps the
// start-up to a few system calls.
//
// The terminal is switched to raw input, the alternate screen, a hidden
// cursor and xterm mouse reporting for as long as the menu is open, and put
// back as it was on every way out: a pick, a dismissal, an error, and the
// signals SIGINT, SIGTERM and SIGHUP, which dismiss the menu. Signal handlers
// only write the signal's number to a pipe that the input loop watches, so
// that the restoring is done by ordinary code; SIGWINCH redraws the menu for
// the terminal's new size.
#include "platform/posix/file_descriptor.h"
#include "platform/posix/menu_display.h"
#include "platform/terminal/terminal_layout.h"

#include "text/text_codec.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace velmora {

namespace {

// The write end of the pipe through which signal handlers wake the menu.
volatile sig_atomic_t signalPipe = -1;

void onSignal(int number) {
    const int saved = errno;
    const int fd = signalPipe;
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(number);
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

bool writeText(int fd, const std::string& text) {
    return writeAll(fd, text.data(), text.size());
}

void moveTo(std::string& out, int column, int row) {
    out += "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(column + 1) + "H";
}

// Catches the dismissing signals for its lifetime and restores the previous
// handlers after.
class SignalCatcher {
public:
    static constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGWINCH};

    SignalCatcher() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        read_ = FileDescriptor(fds[0]);
        write_ = FileDescriptor(fds[1]);
        signalPipe = write_.get();
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(SIGNALS); ++i)
            installed_[i] = ::sigaction(SIGNALS[i], &action, &previous_[i]) == 0;
    }
    ~SignalCatcher() {
        for (std::size_t i = 0; i < std::size(SIGNALS); ++i) {
            if (installed_[i])
                ::sigaction(SIGNALS[i], &previous_[i], nullptr);
        }
        signalPipe = -1;
    }
    SignalCatcher(const SignalCatcher&) = delete;
    SignalCatcher& operator=(const SignalCatcher&) = delete;

    int fd() const { return read_.get(); }

private:
    FileDescriptor read_;
    FileDescriptor write_;
    struct sigaction previous_[std::size(SIGNALS)]{};
    bool installed_[std::size(SIGNALS)] = {};
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
        // Alternate screen, hidden cursor, mouse buttons in SGR coordinates.
        writeText(fd_, "\x1b[?1049h\x1b[?25l\x1b[?1000h\x1b[?1006h");
    }
    ~TerminalModes() {
        if (!active_)
            return;
        writeText(fd_, "\x1b[0m\x1b[?1006l\x1b[?1000l\x1b[?1049l\x1b[?25h");
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

// One input event read from the terminal.
struct Input {
    enum class Kind { None, Key, Character, Click, Wheel, Resize, Dismiss } kind = Kind::None;
    MenuKey key = MenuKey::Cancel;
    char32_t character = 0;
    int column = 0; // of a click, from 0
    int row = 0;
    int wheel = 0;
};

// The box's rows for hit-testing: one cell of border, one cell per row, no
// arrows of its own (the border shows whether more lies either way).
MenuGeometry geometryOf(const TerminalMenuLayout& layout) {
    MenuGeometry geometry;
    geometry.frame = layout.box;
    geometry.border = 1;
    geometry.rowHeight = 1;
    geometry.rows = layout.visibleRows;
    return geometry;
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
    void draw(const MenuNavigator& navigator, const TerminalMenuLayout& layout);
    // Waits up to `timeoutMs` (-1: no limit) for input; false when a signal
    // or the terminal's end (then `ended_`) ends the menu.
    bool readMore(int signalFd, int timeoutMs, bool& signalled);
    Input nextInput(int signalFd, bool& signalled);

    FileDescriptor tty_;
    std::string pending_; // bytes read but not yet parsed
    bool resized_ = false;
    bool ended_ = false; // the terminal hung up or failed
};

void TerminalMenuDisplay::draw(const MenuNavigator& navigator, const TerminalMenuLayout& layout) {
    const MenuRect& box = layout.box;
    std::string out = "\x1b[0m\x1b[2J";
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
    const std::size_t count = navigator.itemCount();
    border(box.top, "┌", "┐", first > 0);
    for (std::size_t r = 0; r < layout.visibleRows; ++r) {
        const int row = box.top + 1 + static_cast<int>(r);
        moveTo(out, box.left, row);
        out += "│";
        const std::size_t index = first + r;
        if (index < count) {
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
    border(box.top + box.height - 1, "└", "┘", first + layout.visibleRows < count);
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
            if (numbers[i] == SIGWINCH)
                resized_ = true;
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
    pending_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

Input TerminalMenuDisplay::nextInput(int signalFd, bool& signalled) {
    Input input;
    for (;;) {
        if (signalled || ended_) {
            input.kind = Input::Kind::Dismiss;
            return input;
        }
        if (resized_) {
            resized_ = false;
            input.kind = Input::Kind::Resize;
            return input;
        }
        if (pending_.empty()) {
            readMore(signalFd, -1, signalled);
            continue;
        }
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(pending_[i]); };
        const unsigned char b = byte(0);
        if (b != 0x1b) {
            // A typed character: one whole UTF-8 sequence.
            std::size_t length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
            if (pending_.size() < length) {
                const std::size_t had = pending_.size();
                if (!readMore(signalFd, 50, signalled) || pending_.size() == had)
                    length = pending_.size();
                else
                    continue;
            }
            const std::u16string text = utf8ToUtf16(std::string_view(pending_).substr(0, length));
            pending_.erase(0, length);
            if (b == '\r' || b == '\n') {
                input.kind = Input::Kind::Key;
                input.key = MenuKey::Enter;
                return input;
            }
            if (b == 0x03) { // Ctrl-C
                input.kind = Input::Kind::Key;
                input.key = MenuKey::Cancel;
                return input;
            }
            std::size_t units = 0;
            const char32_t c = text.empty() ? 0 : codePointAt(text, 0, units);
            if (c < 0x20 || c == 0x7F)
                continue;
            input.kind = Input::Kind::Character;
            input.character = c;
            return input;
        }

        // An escape: alone it is the Escape key; else a sequence follows.
        if (pending_.size() == 1) {
            if (!readMore(signalFd, 50, signalled))
                continue;
            if (pending_.size() == 1) {
                pending_.clear();
                input.kind = Input::Kind::Key;
                input.key = MenuKey::Cancel;
                return input;
            }
        }
        const char introducer = pending_[1];
        if (introducer != '[' && introducer != 'O') {
            pending_.erase(0, 1); // Alt+key or a stray escape: Escape
            input.kind = Input::Kind::Key;
            input.key = MenuKey::Cancel;
            return input;
        }
        // Find the final byte of the sequence (0x40..0x7E after parameters).
        std::size_t end = 2;
        const bool legacyMouse = introducer == '[' && pending_.size() > 2 && pending_[2] == 'M';
        if (legacyMouse) {
            end = 6; // ESC [ M b x y
        } else {
            while (end < pending_.size() && (byte(end) < 0x40 || byte(end) > 0x7E))
                ++end;
            end = end < pending_.size() ? end + 1 : 0;
        }
        if (end == 0 || pending_.size() < end) {
            const std::size_t had = pending_.size();
            if (!readMore(signalFd, 50, signalled) || pending_.size() == had)
                pending_.clear(); // an unfinished sequence: drop it
            continue;
        }
        const std::string sequence = pending_.substr(0, end);
        pending_.erase(0, end);
        const char final = sequence.back();
        const std::string params = sequence.substr(2, sequence.size() - 3);

        if (legacyMouse || (introducer == '[' && !params.empty() && params[0] == '<')) {
            int button = 0;
            int column = 0;
            int row = 0;
            bool press = true;
            if (legacyMouse) {
                button = static_cast<unsigned char>(sequence[3]) - 32;
                column = static_cast<unsigned char>(sequence[4]) - 33;
                row = static_cast<unsigned char>(sequence[5]) - 33;
                press = (button & 3) != 3;
            } else {
                const char* p = params.c_str() + 1;
                char* next = nullptr;
                button = static_cast<int>(std::strtol(p, &next, 10));
                column = next && *next == ';'
                             ? static_cast<int>(std::strtol(next + 1, &next, 10)) - 1
                             : 0;
                row = next && *next == ';' ? static_cast<int>(std::strtol(next + 1, &next, 10)) - 1
                                           : 0;
                press = final == 'M';
            }
            if ((button & 64) != 0 && press) {
                input.kind = Input::Kind::Wheel;
                input.wheel = (button & 1) != 0 ? 3 : -3;
                return input;
            }
            if (press && (button & (3 | 32)) == 0) { // left button pressed, no motion
                input.kind = Input::Kind::Click;
                input.column = column;
                input.row = row;
                return input;
            }
            continue;
        }
        input.kind = Input::Kind::Key;
        switch (final) {
        case 'A':
            input.key = MenuKey::Up;
            return input;
        case 'B':
            input.key = MenuKey::Down;
            return input;
        case 'H':
            input.key = MenuKey::Home;
            return input;
        case 'F':
            input.key = MenuKey::End;
            return input;
        case 'M':
            input.key = MenuKey::Enter; // keypad Enter
            return input;
        case '~':
            if (params == "1" || params == "7") {
                input.key = MenuKey::Home;
                return input;
            }
            if (params == "4" || params == "8") {
                input.key = MenuKey::End;
                return input;
            }
            if (params == "5") {
                input.key = MenuKey::PageUp;
                return input;
            }
            if (params == "6") {
                input.key = MenuKey::PageDown;
                return input;
            }
            break;
        default:
            break;
        }
        input.kind = Input::Kind::None;
    }
}

unsigned int TerminalMenuDisplay::track(const std::vector<MenuItem>& items, unsigned int flags,
                                        int x, int y) {
    const std::vector<MenuTitle> titles = parseMenuTitles(items);
    bool dismissByQ = true; // unless "q" is some item's mnemonic
    for (const MenuTitle& title : titles)
        dismissByQ = dismissByQ && title.mnemonic != U'q';

    SignalCatcher signals;
    TerminalModes modes(tty_.get());
    if (!modes.active())
        return 0;

    struct winsize ws = size();
    TerminalMenuLayout layout = layoutTerminalMenu(titles, flags, x, y, ws.ws_col, ws.ws_row);
    MenuNavigator navigator(titles, layout.visibleRows);
    draw(navigator, layout);

    pending_.clear();
    for (;;) {
        bool signalled = false;
        const Input input = nextInput(signals.fd(), signalled);
        if (signalled)
            return 0;
        MenuNavigator::Result result = MenuNavigator::Result::None;
        switch (input.kind) {
        case Input::Kind::Dismiss:
            return 0;
        case Input::Kind::None:
            continue;
        case Input::Kind::Key:
            result = navigator.press(input.key);
            break;
        case Input::Kind::Character:
            if (input.character == U'q' && dismissByQ)
                return 0;
            result = navigator.type(input.character);
            break;
        case Input::Kind::Wheel:
            navigator.scroll(input.wheel);
            break;
        case Input::Kind::Resize:
            break;
        case Input::Kind::Click: {
            const MenuHit hit = hitTestMenu(geometryOf(layout), navigator, input.column, input.row);
            if (hit.kind == MenuHit::Kind::Outside)
                return 0;
            if (hit.kind != MenuHit::Kind::Item)
                continue; // on the border
            navigator.point(hit.item);
            result = MenuNavigator::Result::Picked;
            break;
        }
        }
        if (result == MenuNavigator::Result::Dismissed)
            return 0;
        if (result == MenuNavigator::Result::Picked)
            return pickedCommand(items, navigator.highlighted());
        // The terminal may have changed size meanwhile.
        const struct winsize now = size();
        if (now.ws_col != ws.ws_col || now.ws_row != ws.ws_row) {
            ws = now;
            layout = layoutTerminalMenu(titles, flags, x, y, ws.ws_col, ws.ws_row);
            navigator.setVisibleRows(layout.visibleRows);
        }
        draw(navigator, layout);
    }
}

} // namespace

std::unique_ptr<MenuDisplay> openMenuDisplayTerminal() {
    FileDescriptor tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!tty || !::isatty(tty.get()))
        return nullptr;
    return std::make_unique<TerminalMenuDisplay>(std::move(tty));
}

} // namespace velmora
