#include "tests/e2e/e2e_support.h"
#include "tests/support/spawn_args.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace velmora::e2e {

using test::pointers;

namespace {

// Cells before byte `end` of a UTF-8 row; the rows the tests look at hold
// one-cell characters left of the box.
int cellsBefore(const std::string& row, std::size_t end) {
    int cells = 0;
    for (std::size_t i = 0; i < end && i < row.size(); ++i) {
        if ((static_cast<unsigned char>(row[i]) & 0xC0) != 0x80)
            ++cells;
    }
    return cells;
}

} // namespace

void copyFile(const std::string& from, const std::string& to, unsigned mode) {
    const auto bytes = readFile(from);
    if (!bytes)
        throw std::runtime_error("cannot read " + from);
    writeFile(to, *bytes, mode);
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::vector<std::string> launcherEnvironment(const std::string& runtimeDir,
                                             const std::vector<std::string>& extra) {
    const char* path = std::getenv("PATH");
    std::vector<std::string> env{
        "PATH=" + std::string(path != nullptr ? path : "/usr/bin:/bin"),
        "LANG=C.UTF-8",
        "TERM=xterm-256color",
        "XDG_RUNTIME_DIR=" + runtimeDir,
    };
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

pid_t spawnInSession(std::vector<std::string> argv, std::vector<std::string> env, int out,
                     int err) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attr);
    ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    for (const auto& [fd, target] : {std::pair{out, 1}, std::pair{err, 2}}) {
        if (fd >= 0)
            ::posix_spawn_file_actions_adddup2(&actions, fd, target);
        else
            ::posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = 0;
    const int error = ::posix_spawnp(&pid, argv[0].c_str(), &actions, &attr, pointers(argv).data(),
                                     pointers(env).data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attr);
    if (error != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

Finished runDetached(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     std::chrono::milliseconds limit) {
    Finished result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    pid_t pid = 0;
    try {
        pid = spawnInSession(argv, env, fds[1], fds[1]);
    } catch (...) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw;
    }
    ::close(fds[1]);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        struct pollfd p = {fds[0], POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) {
            char buffer[4096];
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n > 0)
                result.output.append(buffer, static_cast<std::size_t>(n));
        }
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            result.ended = true;
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
    }
    // What is left in the pipe; a daemon the child started may still hold
    // its other end, so do not wait for the end of it.
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    for (;;) {
        char buffer[4096];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

Terminal::Terminal(const std::string& folder, const std::vector<std::string>& argv, Options options)
    : folder_(folder), options_(options), socket_(folder + "/tmux.sock"),
      report_(folder + "/report") {
    env_ = options.env;
    std::remove(report_.c_str());
    std::remove((report_ + ".pid").c_str());
    writeFile(folder + "/tmux.conf", "set -g remain-on-exit on\nset -g status off\n");
    std::string request = options.user + '\0' + report_ + '\0' + options.stderrFile + '\0';
    for (const std::string& a : argv)
        request += a + '\0';
    writeFile(folder + "/exec.request", request);
    tmux({"-f", folder + "/tmux.conf", "new-session", "-d", "-x", std::to_string(options.columns),
          "-y", std::to_string(options.rows), VELMORA_E2E_EXEC, folder + "/exec.request"});
}

Terminal::~Terminal() {
    try {
        if (!clientSocket_.empty())
            tmuxAt(clientSocket_, {"kill-server"});
        tmux({"kill-server"});
    } catch (...) {
    }
}

std::string Terminal::tmux(const std::vector<std::string>& args) const {
    return tmuxAt(socket_, args);
}

std::string Terminal::tmuxAt(const std::string& socket,
                             const std::vector<std::string>& args) const {
    std::vector<std::string> argv{VELMORA_TMUX, "-S", socket};
    argv.insert(argv.end(), args.begin(), args.end());
    const Finished run = runDetached(argv, env_, std::chrono::seconds(15));
    if (!run.ended)
        throw std::runtime_error("tmux did not answer: " + args.front());
    return run.output;
}

std::vector<std::string> Terminal::screen() const {
    std::vector<std::string> rows;
    std::istringstream text(tmux({"capture-pane", "-p"}));
    for (std::string line; std::getline(text, line);)
        rows.push_back(line);
    return rows;
}

std::string Terminal::screenText() const {
    std::string text;
    for (const std::string& row : screen())
        text += row + "\n";
    return text;
}

bool Terminal::waitForMenu() const {
    return waitUntil([&] { return findBox(screen()).has_value(); });
}

void Terminal::keys(const std::vector<std::string>& names) const {
    std::vector<std::string> args{"send-keys"};
    args.insert(args.end(), names.begin(), names.end());
    tmux(args);
}

void Terminal::type(const std::string& bytes) const {
    tmux({"send-keys", "-l", bytes});
}

void Terminal::mouse(int code, int column, int row, bool release) const {
    type("\x1b[<" + std::to_string(code) + ";" + std::to_string(column + 1) + ";" +
         std::to_string(row + 1) + (release ? "m" : "M"));
}

void Terminal::click(int column, int row) const {
    mouse(0, column, row);
    mouse(0, column, row, true);
}

bool Terminal::attachClient() {
    clientSocket_ = folder_ + "/client.sock";
    // A client refuses to start inside a pane of tmux unless TMUX is unset.
    tmuxAt(clientSocket_, {"-f", folder_ + "/tmux.conf", "new-session", "-d", "-x",
                           std::to_string(options_.columns), "-y", std::to_string(options_.rows),
                           "env", "-u", "TMUX", VELMORA_TMUX, "-S", socket_, "attach"});
    return waitUntil([&] { return !tmux({"list-clients"}).empty(); });
}

void Terminal::typeAtClient(const std::string& bytes) const {
    tmuxAt(clientSocket_, {"send-keys", "-l", bytes});
}

void Terminal::mouseAtClient(int code, int column, int row, bool release) const {
    typeAtClient("\x1b[<" + std::to_string(code) + ";" + std::to_string(column + 1) + ";" +
                 std::to_string(row + 1) + (release ? "m" : "M"));
}

void Terminal::resize(int columns, int rows) const {
    tmux({"resize-window", "-x", std::to_string(columns), "-y", std::to_string(rows)});
}

void Terminal::wheel(int column, int row, bool down) const {
    mouse(down ? 65 : 64, column, row);
}

int Terminal::launcherPid() const {
    const auto text = readFile(report_ + ".pid");
    return text ? std::atoi(text->c_str()) : 0;
}

int Terminal::waitExit() const {
    if (!waitUntil([&] { return exists(report_); }))
        return -1;
    const auto text = readFile(report_);
    if (!text || text->rfind("exit=", 0) != 0)
        return -1;
    return std::atoi(text->c_str() + 5);
}

std::string Terminal::terminalModes() const {
    const auto text = readFile(report_);
    if (!text)
        return "(no report)";
    const std::size_t at = text->find("termios=");
    return at == std::string::npos ? "(none)" : text->substr(at + 8, text->find('\n', at) - at - 8);
}

std::string Terminal::paneFormat(const std::string& format) const {
    std::string out = tmux({"display-message", "-p", format});
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

std::optional<Box> findBox(const std::vector<std::string>& screen) {
    for (std::size_t top = 0; top < screen.size(); ++top) {
        const std::size_t at = screen[top].find("┌");
        if (at == std::string::npos)
            continue;
        const std::size_t end = screen[top].find("┐", at);
        if (end == std::string::npos)
            continue;
        Box box;
        box.left = cellsBefore(screen[top], at);
        box.top = static_cast<int>(top);
        box.width = cellsBefore(screen[top], end) - box.left + 1;
        for (std::size_t row = top + 1; row < screen.size(); ++row) {
            if (screen[row].find("└") != std::string::npos &&
                screen[row].find("┘") != std::string::npos) {
                box.height = static_cast<int>(row - top) + 1;
                return box;
            }
        }
        return std::nullopt; // not drawn to the end yet
    }
    return std::nullopt;
}

std::vector<std::string> boxItems(const std::vector<std::string>& screen) {
    std::vector<std::string> items;
    const auto box = findBox(screen);
    if (!box)
        return items;
    const std::string bar = "│";
    for (int row = box->top + 1; row < box->top + box->height - 1; ++row) {
        const std::string& line = screen[static_cast<std::size_t>(row)];
        const std::size_t open = line.find(bar);
        const std::size_t close = line.rfind(bar);
        if (open == std::string::npos || close <= open)
            continue;
        std::string text = line.substr(open + bar.size(), close - open - bar.size());
        const std::size_t first = text.find_first_not_of(' ');
        const std::size_t last = text.find_last_not_of(' ');
        items.push_back(first == std::string::npos ? "" : text.substr(first, last - first + 1));
    }
    return items;
}

bool terminalIsBack(const Terminal& terminal) {
    return waitUntil(
        [&] { return terminal.paneFormat("#{alternate_on}#{mouse_any_flag}") == "00"; });
}

} // namespace velmora::e2e
