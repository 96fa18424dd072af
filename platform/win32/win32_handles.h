// The Win32 handles that the backend creates or borrows, each owned by
// UniqueHandle and freed the one way its kind is freed.
#pragma once

#include "platform/unique_handle.h"

#include <windows.h>

namespace velmora {

// A kernel object (a file or a mutex), closed with CloseHandle. Both of the
// system's "no handle" values, null and INVALID_HANDLE_VALUE, count as empty.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static HANDLE empty() { return nullptr; }
    static bool valid(HANDLE handle) { return handle != INVALID_HANDLE_VALUE; }
    bool free(HANDLE handle) const { return ::CloseHandle(handle) != FALSE; }
};
using KernelHandle = UniqueHandle<KernelHandleTraits>;

// A menu, destroyed with DestroyMenu.
struct MenuHandleTraits {
    using Handle = HMENU;
    static HMENU empty() { return nullptr; }
    bool free(HMENU menu) const { return ::DestroyMenu(menu) != FALSE; }
};
using MenuHandle = UniqueHandle<MenuHandleTraits>;

// A window of this program's own, destroyed with DestroyWindow.
struct WindowHandleTraits {
    using Handle = HWND;
    static HWND empty() { return nullptr; }
    bool free(HWND window) const { return ::DestroyWindow(window) != FALSE; }
};
using WindowHandle = UniqueHandle<WindowHandleTraits>;

// A library loaded by LoadLibraryW, released with FreeLibrary.
struct LibraryHandleTraits {
    using Handle = HMODULE;
    static HMODULE empty() { return nullptr; }
    bool free(HMODULE library) const { return ::FreeLibrary(library) != FALSE; }
};
using LibraryHandle = UniqueHandle<LibraryHandleTraits>;

// The whole screen's device context from GetDC(nullptr), given back with
// ReleaseDC.
struct ScreenContextTraits {
    using Handle = HDC;
    static HDC empty() { return nullptr; }
    bool free(HDC context) const { return ::ReleaseDC(nullptr, context) != 0; }
};
using ScreenContext = UniqueHandle<ScreenContextTraits>;

} // namespace velmora
