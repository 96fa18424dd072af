#include "platform/posix/platform_posix.h"

#include "platform/posix/command_line.h"
#include "platform/file_descriptor.h"
#include "platform/posix/instance_lock.h"
#include "platform/posix/messages.h"
#include "platform/posix/shell_open.h"
#include "text/text_codec.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velmora {

namespace {

// A path for the system calls, byte for byte: the bytes of a name that is
// not UTF-8 come back from the U+DC80 + byte they are carried as. None when
// it holds a character 0, which no file name can contain.
bool toNativePath(const std::u16string& path, std::string& native) {
    if (path.empty() || path.find(u'\0') != std::u16string::npos)
        return false;
    native = argumentBytes(path);
    return true;
}

std::string quotedPath(const std::u16string& path) {
    return "\"" + terminalSafe(path) + "\"";
}

class ByteReaderPosix : public ByteReader {
public:
    explicit ByteReaderPosix(FileDescriptor fd) : fd_(std::move(fd)) {}
    std::ptrdiff_t read(unsigned char* buffer, std::size_t size) override {
        for (;;) {
            const ssize_t n = ::read(fd_.get(), buffer, size);
            if (n >= 0)
                return n;
            if (errno != EINTR)
                return -1;
        }
    }

private:
    FileDescriptor fd_;
};

} // namespace

std::unique_ptr<Platform> createHostPlatform() {
    return std::make_unique<PlatformPosix>();
}

InstanceMarker PlatformPosix::createInstanceMarker(const std::u16string& name) {
    InstanceLock lock = takeInstanceLock(name);
    if (lock.marker == InstanceMarker::Created)
        instanceLock_ = std::move(lock.file); // held until the process ends
    if (lock.marker == InstanceMarker::Failed)
        reportProblem("no single-instance guard for this start: no lock file can be had in a "
                      "folder private to this user ($XDG_RUNTIME_DIR, /tmp/velmora-" +
                      std::to_string(::geteuid()) + ", $TMPDIR/velmora-" +
                      std::to_string(::geteuid()) + ")");
    return lock.marker;
}

std::u16string PlatformPosix::getModuleFileName(ModuleInstance) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return argumentText(buffer); // lossless, whatever bytes the folders' names hold
        }
        buffer.resize(buffer.size() * 2); // the name may have been cut: ask again
    }
}

std::unique_ptr<ByteReader> PlatformPosix::openFileForRead(const std::u16string& path) {
    readFailure_ = ReadFailure{path, "not a file name"};
    std::string native;
    if (!toNativePath(path, native))
        return nullptr;
    // Only a regular file is read: a folder, a fifo (whose open would wait
    // for a writer) or a device counts as a file that cannot be opened.
    FileDescriptor fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) {
        readFailure_.reason = std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        readFailure_.reason = std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        readFailure_.reason = S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file";
        return nullptr;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        readFailure_.reason = std::strerror(errno);
        return nullptr;
    }
    readFailure_ = {};
    return std::make_unique<ByteReaderPosix>(std::move(fd));
}

namespace {

// Makes `name` (in `folder`) from the file `temporary` without replacing
// anything: a hard link where the file system has them, else a rename that
// refuses an existing target. 0 or the error.
int publishWithoutReplacing(const std::string& temporary, const std::string& name) {
    if (::link(temporary.c_str(), name.c_str()) == 0)
        return 0;
    const int linkError = errno;
    if (linkError != EPERM && linkError != EOPNOTSUPP && linkError != ENOSYS)
        return linkError;
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    return errno == EINVAL || errno == ENOSYS ? linkError : errno;
}

// Writes `bytes` to a new file beside `native` and gives it that name; 0 or
// the error. Nothing stays behind on failure.
int writeWholeFile(const std::string& native, std::string_view bytes) {
    const std::size_t slash = native.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : native.substr(0, slash + 1);
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
    int error = 0;
    if (!writeAll(fd.get(), bytes.data(), bytes.size()) || ::fsync(fd.get()) != 0)
        error = errno != 0 ? errno : EIO;
    if (!fd.reset() && error == 0)
        error = errno;
    if (error == 0)
        error = publishWithoutReplacing(temporary, native);
    ::unlink(temporary.c_str());
    return error;
}

} // namespace

bool PlatformPosix::createFileWithContent(const std::u16string& path, std::string_view bytes) {
    std::string native;
    if (!toNativePath(path, native))
        return false;
    // Something is there that could not be read: it is never replaced, and
    // the user learns why the menu is empty.
    struct stat info {};
    const bool present = ::lstat(native.c_str(), &info) == 0;
    const int statError = present ? 0 : errno;
    if (present || statError != ENOENT) {
        const std::string reason = readFailure_.path == path && !readFailure_.reason.empty()
                                       ? readFailure_.reason
                                   : present ? std::string("it is in the way")
                                             : std::string(std::strerror(statError));
        reportProblem("cannot read the configuration file " + quotedPath(path) + ": " + reason);
        return false;
    }
    errno = 0;
    const int error = writeWholeFile(native, bytes);
    if (error == 0)
        return true;
    reportProblem("cannot write the default configuration file " + quotedPath(path) + ": " +
                  std::strerror(error));
    return false;
}

namespace {

// Collects the items; tracking hands them to the platform's menu display.
class PopupMenuPosix : public PopupMenu {
public:
    explicit PopupMenuPosix(PlatformPosix& platform) : platform_(platform) {}
    bool appendMenu(unsigned int, unsigned int commandId, const std::u16string& text) override {
        items_.push_back(MenuItem{commandId, text});
        return true;
    }
    unsigned int trackPopupMenuEx(unsigned int flags, int x, int y) override {
        MenuDisplay* display = platform_.menuDisplay();
        return display ? display->track(items_, flags, x, y) : 0;
    }

private:
    PlatformPosix& platform_;
    std::vector<MenuItem> items_;
};

} // namespace

PlatformPosix::PlatformPosix() = default;
PlatformPosix::~PlatformPosix() = default;

MenuDisplay* PlatformPosix::menuDisplay() {
    if (!displayTried_) {
        displayTried_ = true;
#ifdef VELMORA_HAVE_WAYLAND
        // A compositor without the layer shell is declined quietly; its
        // Xwayland then serves through DISPLAY.
        display_ = openMenuDisplayWayland();
#endif
#ifdef VELMORA_HAVE_X11
        const char* x = std::getenv("DISPLAY");
        if (!display_ && x != nullptr && *x != '\0')
            display_ = openMenuDisplayX11();
#endif
        if (!display_)
            display_ = openMenuDisplayTerminal();
    }
    return display_.get();
}

std::unique_ptr<PopupMenu> PlatformPosix::createPopupMenu() {
    return std::make_unique<PopupMenuPosix>(*this);
}

int PlatformPosix::getSystemMetrics(int index) {
    MenuDisplay* display = menuDisplay();
    if (display == nullptr)
        return 0;
    if (index == SM_CXSCREEN)
        return display->screenWidth();
    if (index == SM_CYSCREEN)
        return display->screenHeight();
    return 0;
}

bool PlatformPosix::shellExecuteEx(const ShellExecuteRequest& request) {
    return runShellOpen(planShellOpen(request, std::getenv("PATH")), request.file);
}

} // namespace velmora
