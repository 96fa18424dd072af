// Libraries that a menu loads when its display is there instead of linking
// them, so that a start that shows another menu, or none, does not pay for
// loading them. The X11 and Wayland menus keep a table of function pointers
// with the functions' own names, filled through these two helpers.
#pragma once

#include <cstddef>
#include <dlfcn.h>

namespace velmora {

// Opens every library of `names` (run-time names, with their ABI versions)
// into `handles`; false when one cannot be loaded. They are never closed:
// fontconfig and Xlib keep state for the life of the process, and the menu's
// objects are freed through the libraries' own functions.
template <std::size_t N> bool openLibraries(const char* const (&names)[N], void* (&handles)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        handles[i] = dlopen(names[i], RTLD_LAZY | RTLD_LOCAL);
        if (handles[i] == nullptr)
            return false;
    }
    return true;
}

// Points `function` at the function `name` of `library`; false when the
// library has none of that name.
template <typename Function>
bool resolveFunction(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

} // namespace velmora

// For a table macro that lists (library index, function name) pairs: defines
// one pointer per function, named as the function; and, inside a loader that
// holds `handles` and `bool complete`, resolves each, `complete` staying true
// only while every one is found.
#define VELMORA_DEFINE_LOADED(library, name) decltype(&::name) name = nullptr;
#define VELMORA_RESOLVE_LOADED(library, name)                                                      \
    complete = ::velmora::resolveFunction(handles[library], #name, name) && complete;
