// The unprivileged user that compositors and their clients run as when the
// suites run as root (as CI does): compositors refuse root.
#pragma once

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace velmora::test {

constexpr unsigned int USER_ID = 65534; // nobody
constexpr unsigned int GROUP_ID = 65534;

inline bool runningAsRoot() {
    return ::geteuid() == 0;
}

// `argv` run as the unprivileged user when this process is root.
inline std::vector<std::string> asUser(std::vector<std::string> argv) {
    if (!runningAsRoot())
        return argv;
    std::vector<std::string> wrapped{"setpriv", "--reuid=" + std::to_string(USER_ID),
                                     "--regid=" + std::to_string(GROUP_ID), "--clear-groups", "--"};
    wrapped.insert(wrapped.end(), argv.begin(), argv.end());
    return wrapped;
}

// Hands the file or folder to the unprivileged user when this process is root.
inline void giveToUser(const std::filesystem::path& path) {
    if (runningAsRoot() && ::chown(path.c_str(), USER_ID, GROUP_ID) != 0)
        throw std::runtime_error("cannot hand " + path.string() +
                                 " to nobody: " + std::strerror(errno));
}

} // namespace velmora::test
