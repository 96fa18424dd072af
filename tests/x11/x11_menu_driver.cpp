// Shows the X11 pop-up menu once, as the launcher would, and prints what was
// picked: velmora_x11_driver FLAGS X Y TITLE... (FLAGS in hex). Prints the
// screen size first. Exits 2 when no display can be opened.
#include "config/text_codec.h"
#include "platform/posix/menu_display.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s FLAGS X Y TITLE...\n", argv[0]);
        return 2;
    }
    auto display = velmora::openMenuDisplayX11();
    if (!display) {
        std::fprintf(stderr, "no X display\n");
        return 2;
    }
    std::vector<velmora::PosixMenuItem> items;
    for (int i = 4; i < argc; ++i)
        items.push_back({40000u + static_cast<unsigned int>(i - 3), velmora::utf8ToUtf16(argv[i])});
    std::printf("screen %d %d\n", display->screenWidth(), display->screenHeight());
    std::fflush(stdout);
    const auto flags = static_cast<unsigned int>(std::strtoul(argv[1], nullptr, 16));
    const unsigned int picked =
        display->track(items, flags, std::atoi(argv[2]), std::atoi(argv[3]));
    std::printf("picked %u\n", picked);
    return 0;
}
