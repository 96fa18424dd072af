#include "platform/x11/x11_library.h"

#include <dlfcn.h>

namespace velmora::x11 {

#define VELMORA_X11_DEFINE(library, name) decltype(&::name) name = nullptr;
VELMORA_X11_FUNCTIONS(VELMORA_X11_DEFINE)
#undef VELMORA_X11_DEFINE

namespace {

// The libraries by their run-time names (their ABI versions), in the order
// of the indexes above.
constexpr const char* LIBRARIES[] = {
    "libX11.so.6",
    "libXft.so.2",
    "libfontconfig.so.1",
};
constexpr int LIBRARY_COUNT = sizeof LIBRARIES / sizeof LIBRARIES[0];

bool load() {
    void* handles[LIBRARY_COUNT] = {};
    for (int i = 0; i < LIBRARY_COUNT; ++i) {
        // Never closed: fontconfig and Xlib keep state for the life of the
        // process, and the menu's objects are freed through these functions.
        handles[i] = dlopen(LIBRARIES[i], RTLD_LAZY | RTLD_LOCAL);
        if (handles[i] == nullptr)
            return false;
    }
    bool complete = true;
#define VELMORA_X11_RESOLVE(library, name)                                                         \
    name = reinterpret_cast<decltype(&::name)>(dlsym(handles[library], #name));                    \
    complete = complete && name != nullptr;
    VELMORA_X11_FUNCTIONS(VELMORA_X11_RESOLVE)
#undef VELMORA_X11_RESOLVE
    return complete;
}

} // namespace

bool loadX11Libraries() {
    static const bool loaded = load();
    return loaded;
}

} // namespace velmora::x11
