// The Windows backend: the Win32 calls themselves, the same on desktop
// Windows and on Windows CE (differences are kept inside the .cpp behind
// _WIN32_WCE). Text goes to the W functions as UTF-16 unchanged.
//
// This header does not include <windows.h>, so that the core's headers,
// whose constants share names with the system's macros, may be included
// beside it.
#pragma once

#include "platform/platform.h"

#include <memory>
#include <vector>

namespace velmora {

class PlatformWin32 : public Platform {
public:
    PlatformWin32();
    ~PlatformWin32() override;
    PlatformWin32(const PlatformWin32&) = delete;
    PlatformWin32& operator=(const PlatformWin32&) = delete;

    // CreateMutexW(no security attributes, initial ownership, name), then
    // GetLastError against ERROR_ALREADY_EXISTS. The handle is held, never
    // released, for as long as this object lives; the entry point keeps the
    // object to the end of the run.
    InstanceMarker createInstanceMarker(const std::u16string& name) override;
    // GetModuleFileNameW with a buffer that grows until the whole name fits.
    std::u16string getModuleFileName(ModuleInstance instance) override;
    // CreateFileW by the wide name, OPEN_EXISTING, sharing everything.
    std::unique_ptr<ByteReader> openFileForRead(const std::u16string& path) override;
    // CreateFileW by the wide name, CREATE_NEW.
    std::unique_ptr<ByteWriter> createFileExclusive(const std::u16string& path) override;
    std::u16string_view lineEnd() const override { return u"\r\n"; }
    // MultiByteToWideChar with the ANSI code page (CP_ACP).
    std::optional<std::u16string> decodeLegacyText(std::string_view bytes) override;
    std::unique_ptr<PopupMenu> createPopupMenu() override;
    int getSystemMetrics(int index) override;
    // ShellExecuteExW with a record cleared to zeros and only cbSize,
    // lpVerb, lpFile and lpParameters set, and on desktop Windows nShow
    // SW_SHOWNORMAL (0 there would hide the started program).
    bool shellExecuteEx(const ShellExecuteRequest& request) override;

private:
    struct Markers;
    std::unique_ptr<Markers> markers_;
};

} // namespace velmora
