#include "platform/win32/win32_dpi.h"

#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_system_function.h"

#include <windows.h>

#include <string>

namespace velmora {

namespace {

constexpr double LOGICAL_DPI = 96.0;

// The screen's resolution as GDI reports it: the system's, which is the
// primary monitor's at sign-in. On Windows CE the device's, and 96 for a
// program that the system shows in its 96-dpi emulation.
UINT screenDeviceDpi() {
    const ScreenContext screen(::GetDC(nullptr));
    if (!screen)
        return 0;
    const int dpi = ::GetDeviceCaps(screen.get(), LOGPIXELSX);
    return dpi > 0 ? static_cast<UINT>(dpi) : 0;
}

#if !defined(_WIN32_WCE)
// The library `name` from the folder that `neighbour` was loaded from, by
// its full name, so that no other folder is searched; none when it is not
// there (before Windows 8.1 for shcore.dll).
LibraryHandle loadBeside(HMODULE neighbour, const std::u16string& name) {
    std::u16string path(MAX_PATH, u'\0');
    const DWORD length =
        ::GetModuleFileNameW(neighbour, reinterpret_cast<wchar_t*>(&path[0]), MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {}; // a system folder's name fits; anything longer is no system folder
    path.resize(length);
    const std::size_t slash = path.find_last_of(u'\\');
    if (slash == std::u16string::npos)
        return {};
    path.replace(slash + 1, std::u16string::npos, name);
    return LibraryHandle(::LoadLibraryW(reinterpret_cast<const wchar_t*>(path.c_str())));
}

// The primary monitor's own resolution, which may differ from the system's
// once the user changed it or another monitor became the primary one
// (GetDpiForMonitor, Windows 8.1 and later).
UINT primaryMonitorDpi() {
    using MonitorFromPointCall = HMONITOR(WINAPI*)(POINT, DWORD);
    using GetDpiForMonitorCall = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    constexpr int MDT_EFFECTIVE_DPI = 0;
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr)
        return 0;
    const auto monitorFromPoint = systemFunction<MonitorFromPointCall>(user32, "MonitorFromPoint");
    const LibraryHandle shcore = loadBeside(user32, u"shcore.dll");
    if (monitorFromPoint == nullptr || !shcore)
        return 0;
    const auto getDpiForMonitor =
        systemFunction<GetDpiForMonitorCall>(shcore.get(), "GetDpiForMonitor");
    UINT dpiX = 0;
    UINT dpiY = 0;
    if (getDpiForMonitor == nullptr ||
        FAILED(getDpiForMonitor(monitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY),
                                MDT_EFFECTIVE_DPI, &dpiX, &dpiY)))
        return 0;
    return dpiX;
}
#endif

} // namespace

double menuScreenScale() {
    UINT dpi = 0;
#if !defined(_WIN32_WCE)
    dpi = primaryMonitorDpi();
#endif
    if (dpi == 0)
        dpi = screenDeviceDpi();
    return dpi > 0 ? dpi / LOGICAL_DPI : 1.0;
}

} // namespace velmora
