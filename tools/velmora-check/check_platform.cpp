#include "check_platform.h"

#include <utility>

namespace velmora::check {

std::u16string launcherBeside(std::u16string_view moduleFileName) {
    if (moduleFileName.empty())
        return {};
#ifdef _WIN32
    const std::size_t slash = moduleFileName.find_last_of(u"\\/");
    constexpr std::u16string_view launcherName = u"velmora.exe";
#else
    const std::size_t slash = moduleFileName.find_last_of(u'/');
    constexpr std::u16string_view launcherName = u"velmora";
#endif
    std::u16string name(slash == std::u16string_view::npos ? std::u16string_view{}
                                                           : moduleFileName.substr(0, slash + 1));
    name += launcherName;
    return name;
}

// Keeps what the launcher's menu code appends; tracking records the placement
// and dismisses the menu.
class RecordingMenu : public PopupMenu {
public:
    explicit RecordingMenu(CheckPlatform& platform) : platform_(platform) {}

    bool appendMenu(unsigned int flags, unsigned int commandId,
                    const std::u16string& text) override {
        platform_.items_.push_back(RecordedMenuItem{flags, commandId, text});
        return true;
    }

    unsigned int trackPopupMenuEx(unsigned int flags, int x, int y) override {
        platform_.track_ = RecordedTrack{flags, x, y};
        return 0;
    }

private:
    CheckPlatform& platform_;
};

CheckPlatform::CheckPlatform(Platform& base, ScreenSize screen) : base_(base), screen_(screen) {}

InstanceMarker CheckPlatform::createInstanceMarker(const std::u16string&) {
    return InstanceMarker::Failed;
}

std::u16string CheckPlatform::getModuleFileName(ModuleInstance instance) {
    return launcherBeside(base_.getModuleFileName(instance));
}

std::unique_ptr<ByteReader> CheckPlatform::openFileForRead(const std::u16string& path) {
    return base_.openFileForRead(path);
}

bool CheckPlatform::createFileWithContent(const std::u16string&, std::string_view) {
    ++refusedWrites_;
    return false;
}

std::u16string_view CheckPlatform::lineEnd() const {
    return base_.lineEnd();
}

std::optional<std::u16string> CheckPlatform::decodeLegacyText(std::string_view bytes) {
    return base_.decodeLegacyText(bytes);
}

bool CheckPlatform::decodesLegacyText() const {
    return base_.decodesLegacyText();
}

std::unique_ptr<PopupMenu> CheckPlatform::createPopupMenu() {
    return std::make_unique<RecordingMenu>(*this);
}

int CheckPlatform::getSystemMetrics(int index) {
    if (index == SM_CXSCREEN)
        return screen_.width;
    if (index == SM_CYSCREEN)
        return screen_.height;
    return 0;
}

bool CheckPlatform::shellExecuteEx(const ShellExecuteRequest&) {
    ++refusedLaunches_;
    return false;
}

} // namespace velmora::check
