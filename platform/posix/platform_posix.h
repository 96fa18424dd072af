// The Linux backend: files by UTF-8 path, the executable's own path from
// /proc/self/exe, a per-user lock file as the single-instance marker,
// posix_spawn for the shell, and a pop-up menu drawn by the first menu
// display that can be opened (X11, else the controlling terminal).
#pragma once

#include "display/menu_display.h"
#include "platform/file_descriptor.h"
#include "platform/platform.h"

#include <memory>
#include <string>

namespace velmora {

class PlatformPosix : public Platform {
public:
    PlatformPosix();
    ~PlatformPosix() override;
    PlatformPosix(const PlatformPosix&) = delete;
    PlatformPosix& operator=(const PlatformPosix&) = delete;

    InstanceMarker createInstanceMarker(const std::u16string& name) override;
    // Starts connecting to the X server when the X11 menu is the one to
    // come (DISPLAY set and no Wayland display named).
    void prepareMenuDisplay() override;
    std::u16string getModuleFileName(ModuleInstance instance) override;
    std::unique_ptr<ByteReader> openFileForRead(const std::u16string& path) override;
    // Says on standard error why, when the file cannot be made or something
    // that could not be read is in the way. True as well when another start
    // made the file since this one found nothing: the caller reads that one.
    bool createFileWithContent(const std::u16string& path, std::string_view bytes) override;
    std::u16string_view lineEnd() const override { return u"\n"; }
    std::unique_ptr<PopupMenu> createPopupMenu() override;
    int getSystemMetrics(int index) override;
    bool shellExecuteEx(const ShellExecuteRequest& request) override;

    // The display that shows the menu, opened on first use; null when none
    // can be had (no X display and no controlling terminal).
    MenuDisplay* menuDisplay();

private:
    // Why the last open for reading failed, for the message when the
    // default file cannot take the place of an unreadable one.
    struct ReadFailure {
        std::u16string path;
        std::string reason;
        int error = 0; // errno of the failed open; 0 when it was not the open
    };
    ReadFailure readFailure_;
    FileDescriptor instanceLock_;
    std::unique_ptr<MenuDisplay> display_;
    bool displayTried_ = false;
};

} // namespace velmora
