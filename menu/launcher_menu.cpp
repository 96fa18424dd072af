#include "menu/launcher_menu.h"
#include "text/text_codec.h"

#include <limits>
#include <memory>
#include <utility>

namespace velmora {

int saturatingAdd(int a, int b) {
    if (b > 0 && a > std::numeric_limits<int>::max() - b)
        return std::numeric_limits<int>::max();
    if (b < 0 && a < std::numeric_limits<int>::min() - b)
        return std::numeric_limits<int>::min();
    return a + b;
}

int runLauncherMenu(Platform& platform, ConfigFile& config, std::u16string_view commandLine) {
    constexpr auto lastEntry = static_cast<unsigned int>(std::numeric_limits<int>::max());
    const std::unique_ptr<PopupMenu> menu = platform.createPopupMenu();
    if (!menu)
        return 0;

    // Items 1, 2, 3, … until the first section or "title" that is missing.
    for (unsigned int i = 1; i <= lastEntry; ++i) {
        const std::u16string* title = nullptr;
        try {
            title = &config.getString(decimalText(i), u"title");
        } catch (const ConfigError&) {
            break; // the normal end of the list
        }
        if (!menu->appendMenu(MF_STRING, MENU_COMMAND_BASE + i, *title))
            return 0;
    }

    int x = config.getIntDefault(u"position", u"x", 0, true);
    int y = config.getIntDefault(u"position", u"y", 0, true);

    unsigned int flags = TPM_RETURNCMD | TPM_LEFTALIGN;
    const int xAlign = config.getIntDefault(u"position", u"xAlign", 0, true);
    if (xAlign == 1) {
        x = saturatingAdd(x, platform.getSystemMetrics(SM_CXSCREEN) / 2);
        flags = TPM_RETURNCMD | TPM_CENTERALIGN;
    } else if (xAlign == 2) {
        x = saturatingAdd(x, platform.getSystemMetrics(SM_CXSCREEN));
        flags = TPM_RETURNCMD | TPM_RIGHTALIGN;
    }

    const int yAlign = config.getIntDefault(u"position", u"yAlign", 0, true);
    if (yAlign == 1) {
        y = saturatingAdd(y, platform.getSystemMetrics(SM_CYSCREEN) / 2);
        flags |= TPM_VCENTERALIGN;
    } else if (yAlign == 2) {
        y = saturatingAdd(y, platform.getSystemMetrics(SM_CYSCREEN));
        flags |= TPM_BOTTOMALIGN;
    }

    const unsigned int command = menu->trackPopupMenuEx(flags, x, y);
    if (command <= MENU_COMMAND_BASE || command - MENU_COMMAND_BASE > lastEntry)
        return 0; // dismissed (0), or nothing that an item of this menu carries
    return launchMenuChoice(platform, config, static_cast<int>(command - MENU_COMMAND_BASE),
                            commandLine);
}

int launchMenuChoice(Platform& platform, const ConfigFile& config, int entry,
                     std::u16string_view commandLine) {
    const std::u16string* file = nullptr;
    try {
        file = &config.getString(decimalText(entry), u"exec");
    } catch (const ConfigError&) {
        return 0; // an item without "exec" launches nothing
    }
    std::u16string parameters(commandLine);
    return launchProgram(platform, *file, std::move(parameters));
}

int launchProgram(Platform& platform, std::u16string file, std::u16string parameters) {
    if (file.empty())
        return 0;
    ShellExecuteRequest request;
    request.verb = u"Open";
    request.file = std::move(file);
    request.parameters = std::move(parameters);
    return platform.shellExecuteEx(request) ? 1 : 0;
}

} // namespace velmora
