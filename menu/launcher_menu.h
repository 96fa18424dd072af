// The launcher menu: one item per numbered section "[1]", "[2]", … of the
// configuration, placed as the section "[position]" says, and the launch of
// the picked item's "exec" through the shell.
#pragma once

#include "config/config_file.h"
#include "menu/track_flags.h"
#include "platform/platform.h"

#include <string>
#include <string_view>

namespace velmora {

// The item of entry i carries the command identifier MENU_COMMAND_BASE + i.
constexpr unsigned int MENU_COMMAND_BASE = 40000;

// AppendMenuW flags.
constexpr unsigned int MF_STRING = 0x0000;

// a + b, held at the int limits instead of overflowing.
int saturatingAdd(int a, int b);

// Builds, places and tracks the menu; launches the pick. Returns the launch
// result when an item was picked, 0 otherwise. Placement defaults that were
// missing are stored in `config` (in memory only).
int runLauncherMenu(Platform& platform, ConfigFile& config, std::u16string_view commandLine);

// Launches the "exec" of section `entry`; 0 when it is missing.
int launchMenuChoice(Platform& platform, const ConfigFile& config, int entry,
                     std::u16string_view commandLine);

// Asks the shell to "Open" `file` with `parameters`; nonzero when it
// accepted. An empty file is refused without asking.
int launchProgram(Platform& platform, std::u16string file, std::u16string parameters);

} // namespace velmora
