#include "display/fontcache/font_cache_file.h"

#include "platform/file_descriptor.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace velmora::fontcache {

namespace {

constexpr const char* FOLDER_NAME = "velmora";

long long nanoseconds(const timespec& t) {
    constexpr long long PER_SECOND = 1000000000LL;
    constexpr long long MOST = std::numeric_limits<long long>::max();
    // Times beyond the year 2262 do not fit: such a stamp is pinned, not wrapped.
    if (t.tv_sec > 0 && t.tv_sec > (MOST - t.tv_nsec) / PER_SECOND)
        return MOST;
    if (t.tv_sec < 0 && t.tv_sec < -(MOST / PER_SECOND))
        return -MOST;
    return static_cast<long long>(t.tv_sec) * PER_SECOND + t.tv_nsec;
}

// The folder that holds the cache folder: XDG_CACHE_HOME when it is an
// absolute path (a relative one is to be ignored), else ~/.cache.
std::string baseFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/')
        return cache;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.cache";
    return std::string();
}

bool ownFolder(int fd) {
    struct stat status {};
    return fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == geteuid();
}

// The cache folder opened without following a link at its last step, made
// when missing.
FileDescriptor openFolder(bool create) {
    const std::string base = baseFolder();
    if (base.empty())
        return FileDescriptor();
    const std::string folder = base + '/' + FOLDER_NAME;
    if (create && mkdir(folder.c_str(), 0700) != 0 && errno == ENOENT) {
        if (mkdir(base.c_str(), 0700) == 0 || errno == EEXIST)
            mkdir(folder.c_str(), 0700);
    }
    FileDescriptor fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd && !ownFolder(fd.get()))
        fd.reset();
    return fd;
}

// A name for the temporary file that no other start picks at the same time.
std::string temporaryName(const std::string& name) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld.%ld.tmp", static_cast<long>(getpid()),
                  static_cast<long>(now.tv_nsec));
    return name + suffix;
}

} // namespace

std::string cacheFolder() {
    const std::string base = baseFolder();
    return base.empty() ? base : base + '/' + FOLDER_NAME;
}

std::optional<std::string> readCacheFile(const std::string& name) {
    const FileDescriptor folder = openFolder(false);
    if (!folder)
        return std::nullopt;
    // Non-blocking: a FIFO put there must not hold the menu up.
    const FileDescriptor fd(
        openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat status {};
    if (!fd || fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != geteuid() || status.st_size < 0 ||
        static_cast<unsigned long long>(status.st_size) > MAX_CACHE_BYTES)
        return std::nullopt;
    // One byte past the size fstat saw tells a file that grew since.
    std::string bytes(static_cast<std::size_t>(status.st_size) + 1, '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = read(fd.get(), &bytes[filled], bytes.size() - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    if (filled == bytes.size())
        return std::nullopt; // it grew since fstat
    bytes.resize(filled);
    return bytes;
}

bool writeCacheFile(const std::string& name, const std::string& bytes) {
    if (bytes.size() > MAX_CACHE_BYTES)
        return false;
    const FileDescriptor folder = openFolder(true);
    if (!folder)
        return false;
    const std::string temporary = temporaryName(name);
    FileDescriptor fd(openat(folder.get(), temporary.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd)
        return false;
    const bool written = writeAll(fd.get(), bytes.data(), bytes.size()) && fd.reset();
    // rename replaces a symbolic link at `name` itself, never its target.
    if (written && renameat(folder.get(), temporary.c_str(), folder.get(), name.c_str()) == 0)
        return true;
    unlinkat(folder.get(), temporary.c_str(), 0);
    return false;
}

FileStamp stampOf(const std::string& path) {
    FileStamp stamp;
    stamp.path = path;
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return stamp;
    stamp.present = true;
    stamp.device = static_cast<unsigned long long>(status.st_dev);
    stamp.inode = static_cast<unsigned long long>(status.st_ino);
    stamp.size = static_cast<unsigned long long>(status.st_size);
    stamp.modified = nanoseconds(status.st_mtim);
    stamp.changed = nanoseconds(status.st_ctim);
    return stamp;
}

} // namespace velmora::fontcache
