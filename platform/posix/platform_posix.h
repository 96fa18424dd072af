// The Linux backend: files by UTF-8 path, the executable's own path from
// /proc/self/exe.
#pragma once

#include "platform/platform.h"

namespace velmora {

class PlatformPosix : public Platform {
public:
    InstanceMarker createInstanceMarker(const std::u16string& name) override;
    std::u16string getModuleFileName(ModuleInstance instance) override;
    std::unique_ptr<ByteReader> openFileForRead(const std::u16string& path) override;
    std::unique_ptr<ByteWriter> createFileExclusive(const std::u16string& path) override;
    std::u16string_view lineEnd() const override { return u"\n"; }
    std::unique_ptr<PopupMenu> createPopupMenu() override;
    int getSystemMetrics(int index) override;
    bool shellExecuteEx(const ShellExecuteRequest& request) override;
};

} // namespace velmora
