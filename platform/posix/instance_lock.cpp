#include "platform/posix/instance_lock.h"

#include "text/text_codec.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

bool isPrivateFolder(int fd, uid_t owner) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == owner &&
           (info.st_mode & 077) == 0;
}

} // namespace

FileDescriptor openPrivateFolder(const std::string& path, uid_t owner, bool create) {
    if (path.empty() || path.front() != '/')
        return {};
    if (create && ::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    FileDescriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder || !isPrivateFolder(folder.get(), owner))
        return {};
    return folder;
}

FileDescriptor openLockFolder(const char* runtimeDir, uid_t owner, const std::string& tmpBase) {
    if (runtimeDir != nullptr && *runtimeDir != '\0') {
        FileDescriptor folder = openPrivateFolder(runtimeDir, owner, false);
        if (folder)
            return folder;
    }
    return openPrivateFolder(tmpBase + "/velmora-" + std::to_string(owner), owner, true);
}

InstanceLock lockInstanceFile(int folder, const std::string& fileName) {
    InstanceLock lock;
    if (fileName.empty() || fileName.find_first_of(std::string("/\0", 2)) != std::string::npos)
        return lock;
    FileDescriptor file;
    do {
        file = FileDescriptor(::openat(folder, fileName.c_str(),
                                       O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
    } while (!file && errno == EINTR);
    if (!file)
        return lock;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
        return lock;
    int result = 0;
    do {
        result = ::flock(file.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        lock.marker = errno == EWOULDBLOCK ? InstanceMarker::AlreadyExists : InstanceMarker::Failed;
        return lock;
    }
    lock.marker = InstanceMarker::Created;
    lock.file = std::move(file);
    return lock;
}

InstanceLock takeInstanceLock(const std::u16string& name) {
    const uid_t owner = ::geteuid();
    const FileDescriptor folder = openLockFolder(std::getenv("XDG_RUNTIME_DIR"), owner);
    if (!folder)
        return {};
    return lockInstanceFile(folder.get(), "velmora-" + utf16ToUtf8(name) + ".lock");
}

} // namespace velmora
