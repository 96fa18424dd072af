#include "display/x11/x11_library.h"

#include "platform/loaded_library.h"

#include <dlfcn.h>
#include <iterator>

namespace velmora::x11 {

VELMORA_X11_FUNCTIONS(VELMORA_DEFINE_LOADED)
VELMORA_X11_FONT_FUNCTIONS(VELMORA_DEFINE_LOADED)
VELMORA_XCB_FUNCTIONS(VELMORA_DEFINE_LOADED)
VELMORA_XKB_FUNCTIONS(VELMORA_DEFINE_LOADED)
VELMORA_X11_OPTIONAL_FUNCTIONS(VELMORA_DEFINE_LOADED)

namespace {

// The libraries by their run-time names (their ABI versions), in the order
// of the indexes above.
constexpr const char* LIBRARIES[] = {"libX11.so.6"};
constexpr const char* XCB_LIBRARIES[] = {"libxcb.so.1"};
constexpr const char* XKB_LIBRARIES[] = {"libxkbcommon.so.0", "libxkbcommon-x11.so.0"};
constexpr const char* FONT_LIBRARIES[] = {
    "libXft.so.2", "libfontconfig.so.1",
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

// Loads one table's libraries and resolves its functions (the table's
// macro, expanded inside).
#define VELMORA_X11_LOADER(name, libraries, table)                                                 \
    bool name() {                                                                                  \
        void* handles[std::size(libraries)] = {};                                                  \
        if (!openLibraries(libraries, handles))                                                    \
            return false;                                                                          \
        bool complete = true;                                                                      \
        table(VELMORA_RESOLVE_LOADED) return complete;                                             \
    }
VELMORA_X11_LOADER(loadXcb, XCB_LIBRARIES, VELMORA_XCB_FUNCTIONS)
VELMORA_X11_LOADER(loadXkb, XKB_LIBRARIES, VELMORA_XKB_FUNCTIONS)
VELMORA_X11_LOADER(loadFonts, FONT_LIBRARIES, VELMORA_X11_FONT_FUNCTIONS)
#undef VELMORA_X11_LOADER

// The file the library holding `function` was loaded from; empty when unknown.
template <typename Function> std::string fileOf(Function function) {
    Dl_info info{};
    if (function == nullptr || dladdr(reinterpret_cast<void*>(function), &info) == 0 ||
        info.dli_fname == nullptr)
        return std::string();
    return info.dli_fname;
}

} // namespace

bool loadX11Libraries() {
    static const bool loaded = load();
    return loaded;
}

bool loadXcbLibrary() {
    static const bool loaded = loadXcb();
    return loaded;
}

bool loadXkbLibraries() {
    static const bool loaded = loadXkb();
    return loaded;
}

bool loadX11FontLibraries() {
    static const bool loaded = loadX11Libraries() && loadFonts();
    return loaded;
}

std::vector<std::string> x11FontLibraryFiles() {
    std::vector<std::string> files;
    for (std::string file :
         {fileOf(XftGetVersion), fileOf(FcGetVersion), fileOf(FT_Get_Char_Index)}) {
        if (!file.empty())
            files.push_back(std::move(file));
    }
    return files;
}

} // namespace velmora::x11
