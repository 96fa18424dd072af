#include "app/startup.h"

#include "config/config_file.h"
#include "menu/launcher_menu.h"

namespace velmora {

int runLauncher(Platform& platform, ModuleInstance instance, std::u16string_view commandLine) {
    // The guard comes before any file is touched. A marker that could not be
    // made at all lets the run go on unguarded.
    if (platform.createInstanceMarker(INSTANCE_MUTEX_NAME) == InstanceMarker::AlreadyExists)
        return EXIT_ANOTHER_INSTANCE;
    platform.prepareMenuDisplay();

    // Only what the menu looks up is kept: a file of any content up to the
    // read limit then costs memory only for the items of its menu.
    ConfigFile config(platform, instance, ConfigKeep::MenuValues);
    if (config.fileMissing())
        config.writeDefault();
    static_cast<void>(runLauncherMenu(platform, config, commandLine));
    return EXIT_NORMAL;
}

} // namespace velmora
