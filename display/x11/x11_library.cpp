#include "display/x11/x11_library.h"

#include "platform/loaded_library.h"

#include <iterator>

namespace velmora::x11 {

VELMORA_X11_FUNCTIONS(VELMORA_DEFINE_LOADED)
VELMORA_X11_OPTIONAL_FUNCTIONS(VELMORA_DEFINE_LOADED)

namespace {

// The libraries by their run-time names (their ABI versions), in the order
// of the indexes above.
constexpr const char* LIBRARIES[] = {
    "libX11.so.6", "libXft.so.2", "libfontconfig.so.1",
    "libfreetype.so.6", // Xft's own, already loaded with it
};

bool load() {
    void* handles[std::size(LIBRARIES)] = {};
    if (!openLibraries(LIBRARIES, handles))
        return false;
    bool complete = true;
    VELMORA_X11_FUNCTIONS(VELMORA_RESOLVE_LOADED)
#define VELMORA_X11_RESOLVE_OPTIONAL(library, name)                                                \
    static_cast<void>(resolveFunction(handles[library], #name, name));
    VELMORA_X11_OPTIONAL_FUNCTIONS(VELMORA_X11_RESOLVE_OPTIONAL)
#undef VELMORA_X11_RESOLVE_OPTIONAL
    return complete;
}

} // namespace

bool loadX11Libraries() {
    static const bool loaded = load();
    return loaded;
}

} // namespace velmora::x11
