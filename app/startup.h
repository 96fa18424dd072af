// The run of the launcher from its entry point to its exit code: the
// single-instance guard, the configuration, the menu.
#pragma once

#include "platform/platform.h"

#include <string_view>

namespace velmora {

// The name that ties every instance of the launcher together, wherever its
// executable lies and whatever it is called.
constexpr char16_t INSTANCE_MUTEX_NAME[] = u"{6286FEE8-242F-4db1-B21A-D8B004526EED}";

// Exit codes.
constexpr int EXIT_ANOTHER_INSTANCE = 1;
constexpr int EXIT_NORMAL = 0;

// What the entry point (WinMain, or main on POSIX) does: refuses to run
// beside another instance (1), loads the configuration beside the executable
// (writing the default file when there is none), runs the menu with
// `commandLine`, and returns 0 whatever the menu did.
int runLauncher(Platform& platform, ModuleInstance instance, std::u16string_view commandLine);

} // namespace velmora
