#include "display/wayland/wayland_library.h"

#include "display/wayland/wayland_font.h"

#include "platform/loaded_library.h"

#include <iterator>

// The names below are the library's own, not the pointers the header turns
// them into for the generated wrappers.
#undef wl_proxy_add_listener
#undef wl_proxy_destroy
#undef wl_proxy_get_version
#undef wl_proxy_marshal_flags

namespace velmora::wayland {

VELMORA_WAYLAND_FUNCTIONS(VELMORA_DEFINE_LOADED)
VELMORA_WAYLAND_FONT_FUNCTIONS(VELMORA_DEFINE_LOADED)

namespace {

// The libraries by their run-time names (their ABI versions), in the order
// of the indexes above. fontconfig and FreeType are fcft's own, opened by
// name too for the font cache: fontconfig's answer read and kept on a cold
// start, the faces opened from their files on a warm one whose glyphs are
// not remembered.
constexpr const char* LIBRARIES[] = {"libwayland-client.so.0", "libxkbcommon.so.0",
                                     "libpixman-1.so.0"};
constexpr const char* FONT_LIBRARIES[] = {"libfcft.so.4", "libfontconfig.so.1", "libfreetype.so.6"};
// A function of each font library, by which the library's file is found.
constexpr const char* FONT_LIBRARY_MARKS[] = {"fcft_init", "FcInit", "FT_Init_FreeType"};
constexpr int PIXMAN = 2;
constexpr int FCFT = 0;

void* pixmanHandle = nullptr;
std::vector<std::string> fontFiles;

bool load() {
    void* handles[std::size(LIBRARIES)] = {};
    if (!openLibraries(LIBRARIES, handles))
        return false;
    bool complete = true;
    VELMORA_WAYLAND_FUNCTIONS(VELMORA_RESOLVE_LOADED)
    pixmanHandle = handles[PIXMAN];
    return complete;
}

// The file the library `handle` was loaded from, by one of its functions;
// empty when unknown.
std::string fileOf(void* handle, const char* function) {
    Dl_info info{};
    void* symbol = dlsym(handle, function);
    if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    return info.dli_fname;
}

bool loadFonts() {
    void* handles[std::size(FONT_LIBRARIES)] = {};
    if (!openLibraries(FONT_LIBRARIES, handles))
        return false;
    bool complete = true;
    VELMORA_WAYLAND_FONT_FUNCTIONS(VELMORA_RESOLVE_LOADED)
    for (std::size_t i = 0; i < std::size(FONT_LIBRARIES); ++i) {
        std::string file = fileOf(handles[i], FONT_LIBRARY_MARKS[i]);
        if (!file.empty())
            fontFiles.push_back(std::move(file));
    }
    return complete && velmora_font_library_resolve(handles[FCFT], pixmanHandle);
}

} // namespace

bool loadWaylandLibraries() {
    static const bool loaded = load();
    return loaded;
}

bool loadWaylandFontLibraries() {
    static const bool loaded = loadWaylandLibraries() && loadFonts();
    return loaded;
}

std::vector<std::string> waylandFontLibraryFiles() {
    return fontFiles;
}

} // namespace velmora::wayland
