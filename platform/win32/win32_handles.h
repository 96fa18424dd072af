// Owners of the Win32 handles that the backend creates: one small move-only
// class per kind of handle, each closing its handle the one way that kind
// is closed.
#pragma once

#include <windows.h>

#include <utility>

namespace velmora {

// A kernel object (a file or a mutex), closed with CloseHandle. Both of the
// system's "no handle" values, null and INVALID_HANDLE_VALUE, count as empty.
class KernelHandle {
public:
    KernelHandle() = default;
    explicit KernelHandle(HANDLE handle) : handle_(isValid(handle) ? handle : nullptr) {}
    KernelHandle(KernelHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    KernelHandle& operator=(KernelHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;
    ~KernelHandle() { reset(); }

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // Closes now; false when CloseHandle reported an error.
    bool reset() {
        if (handle_ == nullptr)
            return true;
        return ::CloseHandle(std::exchange(handle_, nullptr)) != FALSE;
    }

private:
    static bool isValid(HANDLE handle) {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }

    HANDLE handle_ = nullptr;
};

// A menu, destroyed with DestroyMenu.
class MenuHandle {
public:
    MenuHandle() = default;
    explicit MenuHandle(HMENU menu) : menu_(menu) {}
    MenuHandle(MenuHandle&& other) noexcept : menu_(std::exchange(other.menu_, nullptr)) {}
    MenuHandle& operator=(MenuHandle&& other) noexcept {
        if (this != &other) {
            reset();
            menu_ = std::exchange(other.menu_, nullptr);
        }
        return *this;
    }
    MenuHandle(const MenuHandle&) = delete;
    MenuHandle& operator=(const MenuHandle&) = delete;
    ~MenuHandle() { reset(); }

    HMENU get() const { return menu_; }
    explicit operator bool() const { return menu_ != nullptr; }
    void reset() {
        if (menu_ != nullptr)
            ::DestroyMenu(std::exchange(menu_, nullptr));
    }

private:
    HMENU menu_ = nullptr;
};

// A window of this program's own, destroyed with DestroyWindow.
class WindowHandle {
public:
    WindowHandle() = default;
    explicit WindowHandle(HWND window) : window_(window) {}
    WindowHandle(WindowHandle&& other) noexcept : window_(std::exchange(other.window_, nullptr)) {}
    WindowHandle& operator=(WindowHandle&& other) noexcept {
        if (this != &other) {
            reset();
            window_ = std::exchange(other.window_, nullptr);
        }
        return *this;
    }
    WindowHandle(const WindowHandle&) = delete;
    WindowHandle& operator=(const WindowHandle&) = delete;
    ~WindowHandle() { reset(); }

    HWND get() const { return window_; }
    explicit operator bool() const { return window_ != nullptr; }
    void reset() {
        if (window_ != nullptr)
            ::DestroyWindow(std::exchange(window_, nullptr));
    }

private:
    HWND window_ = nullptr;
};

} // namespace velmora
