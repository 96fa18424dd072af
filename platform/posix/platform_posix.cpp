#include "platform/posix/platform_posix.h"

#include "platform/file_descriptor.h"
#include "platform/posix/command_line.h"
#include "platform/posix/instance_lock.h"
#include "platform/posix/messages.h"
#include "platform/posix/new_file.h"
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
    readFailure_ = ReadFailure{path, "not a file name", EINVAL};
    std::string native;
    if (!toNativePath(path, native))
        return nullptr;
    // Only a regular file is read: a folder, a fifo (whose open would wait
    // for a writer) or a device counts as a file that cannot be opened.
    FileDescriptor fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) {
        readFailure_.error = errno;
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

bool PlatformPosix::createFileWithContent(const std::u16string& path, std::string_view bytes) {
    std::string native;
    if (!toNativePath(path, native))
        return false;
    // Something is there that could not be read: it is never replaced, and
    // the user learns why the menu is empty.
    struct stat info {};
    const bool present = ::lstat(native.c_str(), &info) == 0;
    const int statError = present ? 0 : errno;
    // Another start wrote it since this one found nothing: that file is read.
    if (present && readFailure_.path == path && readFailure_.error == ENOENT)
        return true;
    if (present || statError != ENOENT) {
        const std::string reason = readFailure_.path == path && !readFailure_.reason.empty()
                                       ? readFailure_.reason
                                   : present ? std::string("it is in the way")
                                             : std::string(std::strerror(statError));
        reportProblem("cannot read the configuration file " + quotedPath(path) + ": " + reason);
        return false;
    }
    const int error = publishNewFile(native, bytes);
    // EEXIST: another start made it meanwhile, and every start shows that one.
    if (error == 0 || error == EEXIST)
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

void PlatformPosix::prepareMenuDisplay() {
#ifdef VELMORA_HAVE_X11
#ifdef VELMORA_HAVE_WAYLAND
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0')
        return; // the Wayland menu comes first; its Xwayland only maybe
#endif
    startX11Connection(); // when DISPLAY names one
#endif
}

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
