#include "platform/posix/shell_open.h"

#include "platform/posix/command_line.h"
#include "text/text_codec.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace velmora {

namespace {

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

bool looksLikeUrl(const std::string& name) {
    const std::size_t colon = name.find(':');
    if (colon == std::string::npos || colon < 2)
        return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = name[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && (i == 0 || !other))
            return false;
    }
    return true;
}

std::string defaultSearchPath() {
    const std::size_t size = ::confstr(_CS_PATH, nullptr, 0);
    if (size == 0)
        return "/bin:/usr/bin";
    std::string path(size, '\0');
    ::confstr(_CS_PATH, path.data(), size);
    path.resize(size - 1);
    return path;
}

ShellOpenPlan refuse(std::string reason) {
    ShellOpenPlan plan;
    plan.reason = std::move(reason);
    return plan;
}

ShellOpenPlan openWithDocumentOpener(const std::string& file, const char* searchPath) {
    const std::string opener = findInPath("xdg-open", searchPath);
    if (opener.empty())
        return refuse("not a program, and xdg-open is not installed to open it");
    ShellOpenPlan plan;
    plan.refused = false;
    plan.program = opener;
    plan.argv = {"xdg-open", file};
    return plan;
}

// Owns the attributes and file actions of one posix_spawn call.
class SpawnSetup {
public:
    SpawnSetup() {
        attrOk_ = ::posix_spawnattr_init(&attr_) == 0;
        actionsOk_ = ::posix_spawn_file_actions_init(&actions_) == 0;
    }
    ~SpawnSetup() {
        if (attrOk_)
            ::posix_spawnattr_destroy(&attr_);
        if (actionsOk_)
            ::posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // A new session, no blocked signals, standard input from /dev/null.
    int prepare() {
        if (!attrOk_ || !actionsOk_)
            return ENOMEM;
        sigset_t none;
        sigemptyset(&none);
        if (const int e = ::posix_spawnattr_setsigmask(&attr_, &none))
            return e;
        if (const int e = ::posix_spawnattr_setflags(
                &attr_, static_cast<short>(POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK)))
            return e;
        return ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY,
                                                  0);
    }
    const posix_spawnattr_t* attr() const { return &attr_; }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }

private:
    posix_spawnattr_t attr_{};
    posix_spawn_file_actions_t actions_{};
    bool attrOk_ = false;
    bool actionsOk_ = false;
};

} // namespace

std::string findInPath(const std::string& name, const char* searchPath) {
    if (name.empty() || name.find('/') != std::string::npos)
        return {};
    const std::string folders = searchPath != nullptr ? searchPath : defaultSearchPath();
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = folders.find(':', start);
        std::string folder = folders.substr(start, end == std::string::npos ? end : end - start);
        if (folder.empty())
            folder = ".";
        const std::string candidate = folder + "/" + name;
        if (isExecutableFile(candidate))
            return candidate;
        if (end == std::string::npos)
            return {};
        start = end + 1;
    }
}

ShellOpenPlan planShellOpen(const ShellExecuteRequest& request, const char* searchPath) {
    const std::string file = utf16ToUtf8(request.file);
    if (request.verb.size() != 4 || utf16ToUtf8(request.verb) != "Open")
        return refuse("the verb \"" + utf16ToUtf8(request.verb) + "\" is not supported");
    if (file.empty() || file.find('\0') != std::string::npos)
        return refuse("not a file name");
    if (looksLikeUrl(file))
        return openWithDocumentOpener(file, searchPath);

    ShellOpenPlan plan;
    plan.refused = false;
    plan.argv.push_back(file);
    for (std::string& argument : splitCommandLine(request.parameters))
        plan.argv.push_back(std::move(argument));

    if (file.find('/') == std::string::npos) {
        plan.program = findInPath(file, searchPath);
        if (plan.program.empty())
            return refuse("no program of that name in PATH");
        return plan;
    }
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0)
        return refuse(std::strerror(errno));
    if (isExecutableFile(file)) {
        plan.program = file;
        return plan;
    }
    return openWithDocumentOpener(file, searchPath);
}

bool runShellOpen(const ShellOpenPlan& plan, const std::string& file) {
    std::string reason = plan.reason;
    if (!plan.refused) {
        SpawnSetup setup;
        int error = setup.prepare();
        if (error == 0) {
            std::vector<char*> argv;
            argv.reserve(plan.argv.size() + 1);
            for (const std::string& argument : plan.argv)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            pid_t child = 0;
            error = ::posix_spawn(&child, plan.program.c_str(), setup.actions(), setup.attr(),
                                  argv.data(), environ);
        }
        if (error == 0)
            return true;
        reason = std::strerror(error);
    }
    std::string shown = file; // one line, whatever the name holds
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    std::fprintf(stderr, "velmora: cannot open \"%s\": %s\n", shown.c_str(), reason.c_str());
    return false;
}

} // namespace velmora
