// The yardstick for the Windows launcher's start: a Win32 program that only
// creates a pop-up menu of three items and tracks it, owned by a hidden
// window of its own as the launcher's menu is on desktop Windows.
#include "platform/win32/win32_handles.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    const velmora::MenuHandle menu(CreatePopupMenu());
    if (!menu)
        return 1;
    AppendMenuW(menu.get(), MF_STRING, 40001, L"Internet Explorer");
    AppendMenuW(menu.get(), MF_STRING, 40002, L"Opera");
    AppendMenuW(menu.get(), MF_STRING, 40003, L"NetFront");
    const velmora::WindowHandle owner(CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0,
                                                      0, 0, 0, nullptr, nullptr, instance,
                                                      nullptr));
    if (!owner)
        return 1;
    SetForegroundWindow(owner.get());
    TrackPopupMenuEx(menu.get(), TPM_RETURNCMD, 0, 0, owner.get(), nullptr);
    PostMessageW(owner.get(), WM_NULL, 0, 0);
    return 0;
}
