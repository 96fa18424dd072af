#include "platform/posix/platform_posix.h"

#include "platform/posix/file_descriptor.h"
#include "platform/posix/instance_lock.h"
#include "platform/posix/shell_open.h"
#include "text/text_codec.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velmora {

namespace {

// A path for the system calls; none when it holds a character 0, which no
// file name can contain.
bool toNativePath(const std::u16string& path, std::string& native) {
    if (path.empty() || path.find(u'\0') != std::u16string::npos)
        return false;
    native = utf16ToUtf8(path);
    return true;
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

class ByteWriterPosix : public ByteWriter {
public:
    explicit ByteWriterPosix(FileDescriptor fd) : fd_(std::move(fd)) {}
    bool write(const unsigned char* data, std::size_t size) override {
        return fd_ && writeAll(fd_.get(), data, size);
    }
    // Writes go straight to the system, so there is nothing buffered here.
    bool flush() override { return static_cast<bool>(fd_); }
    bool close() override { return fd_ && fd_.reset(); }

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
            return utf8ToUtf16(buffer);
        }
        buffer.resize(buffer.size() * 2); // the name may have been cut: ask again
    }
}

std::unique_ptr<ByteReader> PlatformPosix::openFileForRead(const std::u16string& path) {
    std::string native;
    if (!toNativePath(path, native))
        return nullptr;
    // Only a regular file is read: a folder, a fifo (whose open would wait
    // for a writer) or a device counts as a file that cannot be opened.
    FileDescriptor fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd)
        return nullptr;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return nullptr;
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return nullptr;
    return std::make_unique<ByteReaderPosix>(std::move(fd));
}

std::unique_ptr<ByteWriter> PlatformPosix::createFileExclusive(const std::u16string& path) {
    std::string native;
    if (!toNativePath(path, native))
        return nullptr;
    FileDescriptor fd(::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd)
        return nullptr;
    return std::make_unique<ByteWriterPosix>(std::move(fd));
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
    return runShellOpen(planShellOpen(request, std::getenv("PATH")), utf16ToUtf8(request.file));
}

} // namespace velmora
