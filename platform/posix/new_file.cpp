#include "platform/posix/new_file.h"

#include "platform/file_descriptor.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace velmora {

namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Writes and flushes all of `bytes`; 0 or the error.
int writeAndSync(int fd, std::string_view bytes) {
    if (!writeAll(fd, bytes.data(), bytes.size()) || ::fsync(fd) != 0)
        return errno != 0 ? errno : EIO;
    return 0;
}

// Every signal that can be held is held while this lives: a handler or a
// default action that ends the process then cannot leave a temporary name.
class HeldSignals {
public:
    HeldSignals() {
        sigset_t all;
        sigfillset(&all);
        held_ = ::pthread_sigmask(SIG_BLOCK, &all, &previous_) == 0;
    }
    ~HeldSignals() {
        if (held_)
            ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    sigset_t previous_{};
    bool held_ = false;
};

// The unnamed file's way: -1 when the file system or the system cannot
// do it, else 0 or the error.
int publishUnnamed(const std::string& path, std::string_view bytes) {
    const std::string folder = folderOf(path);
    FileDescriptor fd(
        ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (!fd)
        return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? -1 : errno;
    if (const int error = writeAndSync(fd.get(), bytes))
        return error;
    const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    const int error = errno;
    // ENOENT may be a missing /proc as well as a missing folder: the named
    // way tells them apart.
    return error == ENOENT || error == EPERM || error == EOPNOTSUPP || error == EMLINK ? -1 : error;
}

// Makes `path` from the file `temporary` without replacing anything: a hard
// link where the file system has them, else a rename that refuses an
// existing target. 0 or the error.
int linkWithoutReplacing(const std::string& temporary, const std::string& path) {
    if (::link(temporary.c_str(), path.c_str()) == 0)
        return 0;
    const int linkError = errno;
    if (linkError != EPERM && linkError != EOPNOTSUPP && linkError != ENOSYS)
        return linkError;
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    return errno == EINVAL || errno == ENOSYS ? linkError : errno;
}

int publishNamed(const std::string& path, std::string_view bytes) {
    const HeldSignals held;
    const std::string folder = folderOf(path);
    std::string temporary;
    FileDescriptor fd;
    for (unsigned int attempt = 0; !fd; ++attempt) {
        temporary = folder + ".velmora-" + std::to_string(::getpid()) + "-" +
                    std::to_string(attempt) + ".tmp";
        fd = FileDescriptor(
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!fd && (errno != EEXIST || attempt >= 100))
            return errno;
    }
    errno = 0;
    int error = writeAndSync(fd.get(), bytes);
    if (!fd.reset() && error == 0)
        error = errno;
    if (error == 0)
        error = linkWithoutReplacing(temporary, path);
    ::unlink(temporary.c_str());
    return error;
}

} // namespace

int publishNewFile(const std::string& path, std::string_view bytes, bool unnamed) {
    if (unnamed) {
        const int result = publishUnnamed(path, bytes);
        if (result >= 0)
            return result;
    }
    return publishNamed(path, bytes);
}

} // namespace velmora
