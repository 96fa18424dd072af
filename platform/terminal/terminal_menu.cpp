// The pop-up menu drawn on the controlling terminal.
#include "platform/posix/menu_display.h"

namespace velmora {

std::unique_ptr<MenuDisplay> openMenuDisplayTerminal() {
    return nullptr;
}

} // namespace velmora
