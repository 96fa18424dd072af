#include "platform/win32/platform_win32.h"

#include "platform/logical_pixels.h"
#include "platform/win32/win32_dpi.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_system_function.h"

#include <windows.h>

#include <shellapi.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>

namespace velmora {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the W functions take UTF-16 text");

#if defined(_WIN32_WCE)
// Windows CE's shell has the wide record and call only, without the W.
using ShellExecuteRecord = SHELLEXECUTEINFO;
static BOOL shellExecute(ShellExecuteRecord* info) {
    return ::ShellExecuteEx(info);
}
#else
using ShellExecuteRecord = SHELLEXECUTEINFOW;
static BOOL shellExecute(ShellExecuteRecord* info) {
    return ::ShellExecuteExW(info);
}
#endif

#if !defined(_WIN64)
// The record that the device's shell receives is 60 bytes; the 32-bit
// desktop build lays it out the same way.
static_assert(sizeof(ShellExecuteRecord) == 60, "the shell's record is 60 bytes in 32 bits");
#endif

namespace {

const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// A file name for CreateFileW; none when it holds a character 0, which would
// silently cut the name short.
bool usablePath(const std::u16string& path) {
    return !path.empty() && path.find(u'\0') == std::u16string::npos;
}

#if defined(_WIN32_WCE)
// Windows CE knows no FILE_SHARE_DELETE.
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE;
#else
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
#endif

// ReadFile and WriteFile take a DWORD count.
DWORD chunkSize(std::size_t size) {
    constexpr std::size_t maxChunk = 1u << 30;
    return static_cast<DWORD>(size < maxChunk ? size : maxChunk);
}

class ByteReaderWin32 : public ByteReader {
public:
    explicit ByteReaderWin32(KernelHandle file) : file_(std::move(file)) {}
    std::ptrdiff_t read(unsigned char* buffer, std::size_t size) override {
        DWORD done = 0;
        if (!::ReadFile(file_.get(), buffer, chunkSize(size), &done, nullptr))
            return -1;
        return static_cast<std::ptrdiff_t>(done);
    }

private:
    KernelHandle file_;
};

#if !defined(_WIN32_WCE)
// Desktop Windows tracks a menu only for a window of the calling thread and
// refuses any other owner, where Windows CE takes the window in front or the
// desktop. A window of this thread stands in. It is shown, so that it can
// take the keyboard (a window never shown cannot: under Wine the keys would
// go on to the window that had them), yet nothing of it is seen: one pixel,
// fully transparent, owned by a hidden window so that no taskbar lists it.
struct StandInOwner {
    WindowHandle hidden;
    WindowHandle window;

    bool open() {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        hidden = WindowHandle(::CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 0,
                                                0, nullptr, nullptr, instance, nullptr));
        // The system menu style makes Wine hand the window to the X window
        // manager, which is what gives an X window the keyboard.
        window =
            WindowHandle(::CreateWindowExW(WS_EX_LAYERED, L"STATIC", L"", WS_POPUP | WS_SYSMENU, 0,
                                           0, 1, 1, hidden.get(), nullptr, instance, nullptr));
        using SetLayeredWindowAttributesCall = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
        const auto makeTransparent = systemFunction<SetLayeredWindowAttributesCall>(
            ::GetModuleHandleW(L"user32.dll"), "SetLayeredWindowAttributes");
        if (!window)
            return false;
        // Shown only once it cannot be seen; never shown, it still owns the menu.
        if (makeTransparent != nullptr && makeTransparent(window.get(), 0, 0, LWA_ALPHA))
            ::ShowWindow(window.get(), SW_SHOW);
        return true;
    }
};
#endif

class PopupMenuWin32 : public PopupMenu {
public:
    explicit PopupMenuWin32(MenuHandle menu) : menu_(std::move(menu)) {}

    bool appendMenu(unsigned int flags, unsigned int commandId,
                    const std::u16string& text) override {
        return ::AppendMenuW(menu_.get(), flags, commandId, wide(text)) != FALSE;
    }

    unsigned int trackPopupMenuEx(unsigned int flags, int x, int y) override {
        // The program has no window: the menu is owned by the window in
        // front, or by the desktop when nothing is in front.
        HWND owner = ::GetForegroundWindow();
        if (owner == nullptr)
            owner = ::GetDesktopWindow();
#if !defined(_WIN32_WCE)
        StandInOwner standIn;
        if (::GetWindowThreadProcessId(owner, nullptr) != ::GetCurrentThreadId() && standIn.open())
            owner = standIn.window.get();
#endif
        // As TrackPopupMenu's documentation requires for a menu whose owner
        // is not already the foreground window: bring the owner forward
        // first, so that a click outside the menu closes it, and post a
        // benign message afterwards, so that the next menu shown there
        // does not close at once.
        ::SetForegroundWindow(owner);
        // The point is in logical pixels; the system, to a DPI-aware
        // program (the manifest), takes device pixels.
        const double scale = menuScreenScale();
        const BOOL command = ::TrackPopupMenuEx(menu_.get(), flags, devicePixels(x, scale),
                                                devicePixels(y, scale), owner, nullptr);
        ::PostMessageW(owner, WM_NULL, 0, 0);
        return command > 0 ? static_cast<unsigned int>(command) : 0u;
    }

private:
    MenuHandle menu_;
};

} // namespace

struct PlatformWin32::Markers {
    std::vector<KernelHandle> held;
};

std::unique_ptr<Platform> createHostPlatform() {
    return std::make_unique<PlatformWin32>();
}

PlatformWin32::PlatformWin32() : markers_(std::make_unique<Markers>()) {}

PlatformWin32::~PlatformWin32() = default;

InstanceMarker PlatformWin32::createInstanceMarker(const std::u16string& name) {
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, wide(name));
    const DWORD error = ::GetLastError();
    // An existing mutex still hands back a handle; it is held all the same,
    // so that this process counts as holding the marker until it ends.
    KernelHandle handle(mutex);
    if (handle)
        markers_->held.push_back(std::move(handle));
    if (error == ERROR_ALREADY_EXISTS)
        return InstanceMarker::AlreadyExists;
    return mutex != nullptr ? InstanceMarker::Created : InstanceMarker::Failed;
}

std::u16string PlatformWin32::getModuleFileName(ModuleInstance instance) {
    std::u16string buffer(MAX_PATH, u'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = ::GetModuleFileNameW(static_cast<HMODULE>(instance),
                                                  reinterpret_cast<wchar_t*>(&buffer[0]), size);
        if (length == 0)
            return {};
        // A name that fills the whole buffer may have been cut: ask again
        // with a larger one.
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() > static_cast<std::size_t>(ULONG_MAX / 2))
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::unique_ptr<ByteReader> PlatformWin32::openFileForRead(const std::u16string& path) {
    if (!usablePath(path))
        return nullptr;
    KernelHandle file(::CreateFileW(wide(path), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return nullptr;
    return std::make_unique<ByteReaderWin32>(std::move(file));
}

namespace {

// Writes `bytes` to the new file `temporary`, all of them, and closes it.
bool writeNewFile(const std::u16string& temporary, std::string_view bytes) {
    KernelHandle file(::CreateFileW(wide(temporary), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    const char* data = bytes.data();
    std::size_t size = bytes.size();
    while (size > 0) {
        DWORD done = 0;
        if (!::WriteFile(file.get(), data, chunkSize(size), &done, nullptr) || done == 0)
            return false;
        data += done;
        size -= done;
    }
    return ::FlushFileBuffers(file.get()) != FALSE && file.reset();
}

} // namespace

bool PlatformWin32::createFileWithContent(const std::u16string& path, std::string_view bytes) {
    if (!usablePath(path) || ::GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES)
        return false;
    const std::size_t slash = path.find_last_of(u"\\/");
    const std::u16string folder =
        slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
    for (unsigned int attempt = 0; attempt < 100; ++attempt) {
        std::u16string temporary = folder + u"velmora-";
        for (const char c :
             std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp")
            temporary += static_cast<char16_t>(c);
        if (::GetFileAttributesW(wide(temporary)) != INVALID_FILE_ATTRIBUTES)
            continue;
        // MoveFileW refuses an existing target, so a file that appeared at
        // `path` meanwhile stays as it is, and is the one read.
        if (!writeNewFile(temporary, bytes)) {
            ::DeleteFileW(wide(temporary));
            return false;
        }
        if (::MoveFileW(wide(temporary), wide(path)) != FALSE)
            return true;
        const DWORD error = ::GetLastError();
        ::DeleteFileW(wide(temporary));
        return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    }
    return false;
}

std::optional<std::u16string> PlatformWin32::decodeLegacyText(std::string_view bytes) {
    if (bytes.empty())
        return std::u16string();
    if (bytes.size() > static_cast<std::size_t>(INT_MAX))
        return std::nullopt;
    const int byteCount = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), byteCount, nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    std::u16string text(static_cast<std::size_t>(length), u'\0');
    const int written = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), byteCount,
                                              reinterpret_cast<wchar_t*>(&text[0]), length);
    if (written <= 0)
        return std::nullopt;
    text.resize(static_cast<std::size_t>(written));
    return text;
}

bool PlatformWin32::decodesLegacyText() const {
    return true;
}

std::unique_ptr<PopupMenu> PlatformWin32::createPopupMenu() {
    MenuHandle menu(::CreatePopupMenu());
    if (!menu)
        return nullptr;
    return std::make_unique<PopupMenuWin32>(std::move(menu));
}

int PlatformWin32::getSystemMetrics(int index) {
    return logicalPixels(::GetSystemMetrics(index), menuScreenScale());
}

bool PlatformWin32::shellExecuteEx(const ShellExecuteRequest& request) {
    ShellExecuteRecord info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.lpVerb = wide(request.verb);
    info.lpFile = wide(request.file);
    info.lpParameters = wide(request.parameters);
#if !defined(_WIN32_WCE)
    // Zero is SW_HIDE on desktop Windows: the picked program would start
    // with its windows never shown. The device's shell takes 0 as it is.
    info.nShow = SW_SHOWNORMAL;
#endif
    return shellExecute(&info) != FALSE;
}

} // namespace velmora
