// The Windows entry point: hands the command line, unchanged, to the
// launcher's run. Windows CE calls WinMain with a wide command line; desktop
// Windows calls wWinMain.
#include "app/startup.h"
#include "platform/platform.h"

// After the launcher's headers: their constants share names with the
// system's macros.
#include <windows.h>

#include <string_view>

namespace {

int runWin32(HINSTANCE instance, const wchar_t* commandLine) {
    std::u16string_view text;
    if (commandLine != nullptr)
        text = reinterpret_cast<const char16_t*>(commandLine);
    const auto platform = velmora::createHostPlatform();
    return velmora::runLauncher(*platform, instance, text);
}

} // namespace

#if defined(_WIN32_WCE)
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    return runWin32(instance, commandLine);
}
#else
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    return runWin32(instance, commandLine);
}
#endif
