// The display libraries of the X11 menu, loaded only when the menu is tried.
//
// The launcher links none of libX11, libXft, libfontconfig and FreeType: a
// start that shows the terminal menu, or no menu, must not pay for loading
// them. Instead every function the menu calls is a pointer of this namespace
// with the function's own name and type, resolved by loadX11Libraries(). Code
// in velmora::x11, or with `using namespace x11`, calls the pointer where it
// names the function, so the call sites read as plain Xlib.
#pragma once

#include <X11/XKBlib.h>
#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/Xutil.h>
#include <fontconfig/fcfreetype.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
// Xlibint.h's own helpers, which would hide std::min and std::max.
#undef min
#undef max

// Each function the menu calls, with the library (by index into the list in
// x11_library.cpp) that holds it.
#define VELMORA_X11_FUNCTIONS(F)                                                                   \
    F(0, XChangeProperty)                                                                          \
    F(0, XCloseDisplay)                                                                            \
    F(0, XCreateGC)                                                                                \
    F(0, XCreateWindow)                                                                            \
    F(0, XDestroyWindow)                                                                           \
    F(0, XFillPolygon)                                                                             \
    F(0, XFlush)                                                                                   \
    F(0, XFreeGC)                                                                                  \
    F(0, XGetDefault)                                                                              \
    F(0, XGrabKeyboard)                                                                            \
    F(0, XGrabPointer)                                                                             \
    F(0, XInternAtoms)                                                                             \
    F(0, XLookupString)                                                                            \
    F(0, XMapRaised)                                                                               \
    F(0, XNextEvent)                                                                               \
    F(0, XOpenDisplay)                                                                             \
    F(0, XPending)                                                                                 \
    F(0, XQueryExtension)                                                                          \
    F(0, XSetClassHint)                                                                            \
    F(0, XSetErrorHandler)                                                                         \
    F(0, XSetForeground)                                                                           \
    F(0, XSetIOErrorHandler)                                                                       \
    F(0, XStoreName)                                                                               \
    F(0, XSync)                                                                                    \
    F(0, XUngrabKeyboard)                                                                          \
    F(0, XUngrabPointer)                                                                           \
    F(0, XkbLookupKeySym)                                                                          \
    F(0, _XEatDataWords)                                                                           \
    F(0, _XGetRequest)                                                                             \
    F(0, _XRead)                                                                                   \
    F(0, _XReply)                                                                                  \
    F(1, XftCharExists)                                                                            \
    F(1, XftColorAllocValue)                                                                       \
    F(1, XftColorFree)                                                                             \
    F(1, XftDrawCreate)                                                                            \
    F(1, XftDrawDestroy)                                                                           \
    F(1, XftDrawRect)                                                                              \
    F(1, XftDrawString32)                                                                          \
    F(1, XftFontClose)                                                                             \
    F(1, XftFontMatch)                                                                             \
    F(1, XftFontOpenPattern)                                                                       \
    F(1, XftGetVersion)                                                                            \
    F(1, XftLockFace)                                                                              \
    F(1, XftUnlockFace)                                                                            \
    F(1, XftTextExtents32)                                                                         \
    F(2, FcCharSetAddChar)                                                                         \
    F(2, FcCharSetCreate)                                                                          \
    F(2, FcCharSetDestroy)                                                                         \
    F(2, FcConfigGetCacheDirs)                                                                     \
    F(2, FcConfigGetConfigDirs)                                                                    \
    F(2, FcConfigGetConfigFiles)                                                                   \
    F(2, FcConfigGetFontDirs)                                                                      \
    F(2, FcFreeTypeCharSet)                                                                        \
    F(2, FcGetVersion)                                                                             \
    F(2, FcPatternAdd)                                                                             \
    F(2, FcPatternAddCharSet)                                                                      \
    F(2, FcPatternAddDouble)                                                                       \
    F(2, FcPatternAddString)                                                                       \
    F(2, FcPatternCreate)                                                                          \
    F(2, FcPatternDestroy)                                                                         \
    F(2, FcPatternIterGetObject)                                                                   \
    F(2, FcPatternIterGetValue)                                                                    \
    F(2, FcPatternIterIsValid)                                                                     \
    F(2, FcPatternIterNext)                                                                        \
    F(2, FcPatternIterStart)                                                                       \
    F(2, FcPatternIterValueCount)                                                                  \
    F(2, FcStrListDone)                                                                            \
    F(2, FcStrListNext)                                                                            \
    F(3, FT_Get_Char_Index)

// The functions that only newer libraries have: null where the library lacks
// them, which the menu then does without.
#define VELMORA_X11_OPTIONAL_FUNCTIONS(F) F(0, XSetIOErrorExitHandler) // libX11 1.7

namespace velmora::x11 {

#define VELMORA_X11_DECLARE(library, name) extern decltype(&::name) name;
VELMORA_X11_FUNCTIONS(VELMORA_X11_DECLARE)
VELMORA_X11_OPTIONAL_FUNCTIONS(VELMORA_X11_DECLARE)
#undef VELMORA_X11_DECLARE

// Loads the libraries and resolves the functions above, once per process;
// the later calls return the first one's answer. False when any library or
// required function is missing: then there is no X11 menu to be had, as when no
// display can be opened. The libraries stay loaded until the process ends,
// as linked ones would.
bool loadX11Libraries();

} // namespace velmora::x11
