// The system as the checker shows it to the launcher's own code: files are
// read through the real system, but nothing is ever written or launched, the
// screen has the size the user asked for, and the menu is recorded and then
// dismissed instead of being shown.
#pragma once

#include "platform/platform.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::check {

struct ScreenSize {
    int width = 240;
    int height = 320;
};

struct RecordedMenuItem {
    unsigned int flags = 0;
    unsigned int commandId = 0;
    std::u16string text;
};

struct RecordedTrack {
    unsigned int flags = 0;
    int x = 0;
    int y = 0;
};

// The launcher's file name beside the program `moduleFileName`: its last path
// component replaced by the launcher's name ("velmora", or "velmora.exe" on
// Windows). Empty when `moduleFileName` is empty.
std::u16string launcherBeside(std::u16string_view moduleFileName);

class CheckPlatform : public Platform {
public:
    // Reads files through `base`, which must outlive this object.
    CheckPlatform(Platform& base, ScreenSize screen);

    // The checker holds no marker of its own.
    InstanceMarker createInstanceMarker(const std::u16string& name) override;
    // The launcher beside the running checker, so that the configuration
    // path comes out as the launcher's own.
    std::u16string getModuleFileName(ModuleInstance instance) override;
    std::unique_ptr<ByteReader> openFileForRead(const std::u16string& path) override;
    // Always refused: the checker never writes.
    bool createFileWithContent(const std::u16string& path, std::string_view bytes) override;
    std::u16string_view lineEnd() const override;
    std::optional<std::u16string> decodeLegacyText(std::string_view bytes) override;
    bool decodesLegacyText() const override;
    std::unique_ptr<PopupMenu> createPopupMenu() override;
    int getSystemMetrics(int index) override;
    // Always refused: the checker never launches.
    bool shellExecuteEx(const ShellExecuteRequest& request) override;

    const std::vector<RecordedMenuItem>& menuItems() const { return items_; }
    const std::optional<RecordedTrack>& track() const { return track_; }
    ScreenSize screen() const { return screen_; }
    int refusedWrites() const { return refusedWrites_; }
    int refusedLaunches() const { return refusedLaunches_; }

private:
    friend class RecordingMenu;

    Platform& base_;
    ScreenSize screen_;
    std::vector<RecordedMenuItem> items_;
    std::optional<RecordedTrack> track_;
    int refusedWrites_ = 0;
    int refusedLaunches_ = 0;
};

} // namespace velmora::check
