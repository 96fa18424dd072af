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

namespace {

// The libraries by their run-time names (their ABI versions), in the order
// of the indexes above. fontconfig and FreeType are fcft's own, opened by
// name too for the font cache: fontconfig's answer read and kept on a cold
// start, the faces opened from their files on a warm one.
constexpr const char* LIBRARIES[] = {
    "libwayland-client.so.0", "libxkbcommon.so.0",  "libpixman-1.so.0",
    "libfcft.so.4",           "libfontconfig.so.1", "libfreetype.so.6",
};
constexpr int PIXMAN = 2;
constexpr int FCFT = 3;

bool load() {
    void* handles[std::size(LIBRARIES)] = {};
    if (!openLibraries(LIBRARIES, handles))
        return false;
    bool complete = true;
    VELMORA_WAYLAND_FUNCTIONS(VELMORA_RESOLVE_LOADED)
    return complete && velmora_font_library_resolve(handles[FCFT], handles[PIXMAN]);
}

} // namespace

bool loadWaylandLibraries() {
    static const bool loaded = load();
    return loaded;
}

} // namespace velmora::wayland
