// Holds one desktop session and everything it starts, so that stopping it
// leaves nothing behind: this process becomes the subreaper of the session,
// so a daemon that forks away (dbus-daemon --fork) or a child its parent
// left (Xwayland when the compositor dies) is handed to it, not to process
// 1, which here reaps no one.
//
//   velmora_desktop_launcher STEP... ";" STEP... ";" MAIN...
//
// Each STEP runs to its end first and must succeed (what it leaves running
// belongs to the session); then MAIN runs. The session ends when MAIN ends,
// or when this process is sent SIGTERM, SIGINT or SIGHUP, or when its own
// parent dies: MAIN's process group is sent SIGTERM, then every process
// handed to this one, and what still runs after a grace time is killed.
// The exit status is MAIN's.
#include <sys/prctl.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int GRACE_SECONDS = 5;

std::vector<std::vector<char*>> splitCommands(int argc, char** argv) {
    std::vector<std::vector<char*>> commands(1);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], ";") == 0)
            commands.emplace_back();
        else
            commands.back().push_back(argv[i]);
    }
    for (auto& command : commands)
        command.push_back(nullptr);
    return commands;
}

pid_t start(std::vector<char*>& command, const sigset_t& original) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::sigprocmask(SIG_SETMASK, &original, nullptr);
        ::execvp(command[0], command.data());
        std::fprintf(stderr, "desktop launcher: cannot start %s: %s\n", command[0],
                     std::strerror(errno));
        std::_Exit(127);
    }
    return pid;
}

int statusOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The processes whose parent is this one and that have not ended yet.
std::vector<pid_t> children() {
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return found;
    const std::string self = std::to_string(::getpid());
    while (const dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        FILE* stat = std::fopen(("/proc/" + name + "/stat").c_str(), "r");
        if (stat == nullptr)
            continue;
        std::string text;
        for (int c; (c = std::fgetc(stat)) != EOF;)
            text.push_back(static_cast<char>(c));
        std::fclose(stat);
        // "pid (comm) state ppid ...": comm may hold anything but ends at the last ')'.
        const auto close = text.rfind(')');
        if (close == std::string::npos || close + 4 >= text.size())
            continue;
        const char state = text[close + 2];
        const std::string ppid = text.substr(close + 4, text.find(' ', close + 4) - close - 4);
        if (ppid == self && state != 'Z')
            found.push_back(static_cast<pid_t>(std::atoi(name.c_str())));
    }
    ::closedir(proc);
    return found;
}

void reapAll() {
    int status = 0;
    while (::waitpid(-1, &status, WNOHANG) > 0) {
    }
}

// Ends every process still in the session: SIGTERM first, SIGKILL for what
// outlives the grace time. Processes handed over meanwhile are included.
void endSession(pid_t group) {
    if (group > 0)
        ::kill(-group, SIGTERM);
    const std::time_t deadline = std::time(nullptr) + GRACE_SECONDS;
    for (;;) {
        reapAll();
        const std::vector<pid_t> left = children();
        if (left.empty())
            break;
        const bool late = std::time(nullptr) >= deadline;
        for (const pid_t pid : left)
            ::kill(pid, late ? SIGKILL : SIGTERM);
        ::usleep(late ? 10000 : 50000);
    }
    int status = 0;
    while (::waitpid(-1, &status, 0) > 0) {
    }
}

// Waits for `pid` to end; false when the session is to end first.
bool waitFor(pid_t pid, const sigset_t& signals, int& exitStatus) {
    for (;;) {
        int status = 0;
        for (pid_t done; (done = ::waitpid(-1, &status, WNOHANG)) > 0;) {
            if (done == pid) {
                exitStatus = statusOf(status);
                return true;
            }
        }
        const int signal = ::sigwaitinfo(&signals, nullptr);
        if (signal > 0 && signal != SIGCHLD)
            return false;
    }
}

} // namespace

int main(int argc, char** argv) {
    auto commands = splitCommands(argc, argv);
    for (const auto& command : commands) {
        if (command.front() == nullptr) {
            std::fprintf(stderr, "usage: velmora_desktop_launcher STEP... \";\" MAIN...\n");
            return 2;
        }
    }
    sigset_t signals;
    sigset_t original;
    sigemptyset(&signals);
    for (const int signal : {SIGCHLD, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, signal);
    ::sigprocmask(SIG_BLOCK, &signals, &original);
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() == 1)
        return 1; // the parent is already gone

    int exitStatus = 1;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const pid_t pid = start(commands[i], original);
        if (pid < 0) {
            std::perror("desktop launcher: fork");
            break;
        }
        if (!waitFor(pid, signals, exitStatus)) {
            endSession(pid);
            return 128 + SIGTERM;
        }
        if (i + 1 < commands.size() && exitStatus != 0) {
            std::fprintf(stderr, "desktop launcher: %s failed (%d)\n", commands[i][0], exitStatus);
            break;
        }
        if (i + 1 == commands.size())
            break;
    }
    endSession(0);
    return exitStatus;
}
