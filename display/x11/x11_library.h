// The display libraries of the X11 menu, loaded only when the menu is tried.
//
// The launcher links none of libxcb, libX11, libXrender, libXft,
// libfontconfig, FreeType and xkbcommon: a start that shows the terminal
// menu, or no menu, must not pay for loading them. Instead every function
// the menu calls is a pointer of this namespace with the function's own name
// and type, resolved by loadXcbLibrary() and loadXkbLibraries() (a start
// drawing remembered glyphs, which needs no Xlib), loadX11Libraries()
// (libX11) and loadX11FontLibraries() (Xft and what it draws with).
// libXrender the menu does without: it sends its requests itself
// (x11_core_requests.h, x11_render_requests.h), and Xft brings the library
// when Xft draws. Code in velmora::x11, or with
// `using namespace x11`, calls the pointer where it names the function, so
// the call sites read as plain Xlib.
#pragma once

#include <X11/XKBlib.h>
#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/Xresource.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrender.h>
#include <fontconfig/fcfreetype.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>
#include FT_FREETYPE_H
// Xlibint.h's own helpers, which would hide std::min and std::max.
#undef min
#undef max

#include <string>
#include <vector>

// Each function the menu calls, with the library (by index into the lists
// in x11_library.cpp) that holds it: first those of every start, libX11's.
#define VELMORA_X11_FUNCTIONS(F)                                                                   \
    F(0, XCloseDisplay)                                                                            \
    F(0, XCreatePixmap)                                                                            \
    F(0, XFlush)                                                                                   \
    F(0, XFreePixmap)                                                                              \
    F(0, XGetDefault)                                                                              \
    F(0, XGetImage)                                                                                \
    F(0, XLookupString)                                                                            \
    F(0, XNextEvent)                                                                               \
    F(0, XOpenDisplay)                                                                             \
    F(0, XPending)                                                                                 \
    F(0, XSetErrorHandler)                                                                         \
    F(0, XSetIOErrorHandler)                                                                       \
    F(0, XSync)                                                                                    \
    F(0, XkbIgnoreExtension)                                                                       \
    F(0, XkbLookupKeySym)                                                                          \
    F(0, XkbUseExtension)                                                                          \
    F(0, XrmGetDatabase)                                                                           \
    F(0, _XDeqAsyncHandler)                                                                        \
    F(0, _XEventToWire)                                                                            \
    F(0, _XGetRequest)                                                                             \
    F(0, _XSend)

// Those that open faces and draw glyphs: libXft, fontconfig and FreeType.
#define VELMORA_X11_FONT_FUNCTIONS(F)                                                              \
    F(0, XftCharExists)                                                                            \
    F(0, XftCharIndex)                                                                             \
    F(0, XftColorAllocValue)                                                                       \
    F(0, XftColorFree)                                                                             \
    F(0, XftDrawCreate)                                                                            \
    F(0, XftDrawCreateAlpha)                                                                       \
    F(0, XftDrawDestroy)                                                                           \
    F(0, XftDrawGlyphs)                                                                            \
    F(0, XftDrawRect)                                                                              \
    F(0, XftDrawString32)                                                                          \
    F(0, XftFontClose)                                                                             \
    F(0, XftFontMatch)                                                                             \
    F(0, XftFontOpenPattern)                                                                       \
    F(0, XftGetVersion)                                                                            \
    F(0, XftGlyphExtents)                                                                          \
    F(0, XftLockFace)                                                                              \
    F(0, XftTextExtents32)                                                                         \
    F(0, XftUnlockFace)                                                                            \
    F(1, FcCharSetAddChar)                                                                         \
    F(1, FcCharSetCreate)                                                                          \
    F(1, FcCharSetDestroy)                                                                         \
    F(1, FcConfigGetCacheDirs)                                                                     \
    F(1, FcConfigGetConfigDirs)                                                                    \
    F(1, FcConfigGetConfigFiles)                                                                   \
    F(1, FcConfigGetFontDirs)                                                                      \
    F(1, FcFreeTypeCharSet)                                                                        \
    F(1, FcGetVersion)                                                                             \
    F(1, FcPatternAdd)                                                                             \
    F(1, FcPatternAddCharSet)                                                                      \
    F(1, FcPatternAddDouble)                                                                       \
    F(1, FcPatternAddString)                                                                       \
    F(1, FcPatternCreate)                                                                          \
    F(1, FcPatternDestroy)                                                                         \
    F(1, FcPatternGetBool)                                                                         \
    F(1, FcPatternGetInteger)                                                                      \
    F(1, FcPatternIterGetObject)                                                                   \
    F(1, FcPatternIterGetValue)                                                                    \
    F(1, FcPatternIterIsValid)                                                                     \
    F(1, FcPatternIterNext)                                                                        \
    F(1, FcPatternIterStart)                                                                       \
    F(1, FcPatternIterValueCount)                                                                  \
    F(1, FcStrListDone)                                                                            \
    F(1, FcStrListNext)                                                                            \
    F(2, FT_Get_Char_Index)

// libxcb's, for a start whose menu needs no Xlib (x11_wire_xcb.h).
#define VELMORA_XCB_FUNCTIONS(F)                                                                   \
    F(0, xcb_connect)                                                                              \
    F(0, xcb_connection_has_error)                                                                 \
    F(0, xcb_depth_next)                                                                           \
    F(0, xcb_depth_visuals_iterator)                                                               \
    F(0, xcb_disconnect)                                                                           \
    F(0, xcb_flush)                                                                                \
    F(0, xcb_generate_id)                                                                          \
    F(0, xcb_get_extension_data)                                                                   \
    F(0, xcb_get_file_descriptor)                                                                  \
    F(0, xcb_get_setup)                                                                            \
    F(0, xcb_poll_for_event)                                                                       \
    F(0, xcb_screen_allowed_depths_iterator)                                                       \
    F(0, xcb_screen_next)                                                                          \
    F(0, xcb_send_request)                                                                         \
    F(0, xcb_setup_roots_iterator)                                                                 \
    F(0, xcb_wait_for_reply)

// xkbcommon's, which read keys on such a connection as the Wayland menu
// reads them: libxkbcommon, then libxkbcommon-x11.
#define VELMORA_XKB_FUNCTIONS(F)                                                                   \
    F(0, xkb_context_new)                                                                          \
    F(0, xkb_context_set_log_fn)                                                                   \
    F(0, xkb_context_unref)                                                                        \
    F(0, xkb_keymap_unref)                                                                         \
    F(0, xkb_state_key_get_one_sym)                                                                \
    F(0, xkb_state_key_get_utf8)                                                                   \
    F(0, xkb_state_unref)                                                                          \
    F(0, xkb_state_update_mask)                                                                    \
    F(1, xkb_x11_get_core_keyboard_device_id)                                                      \
    F(1, xkb_x11_keymap_new_from_device)                                                           \
    F(1, xkb_x11_setup_xkb_extension)                                                              \
    F(1, xkb_x11_state_new_from_device)

// The functions that only newer libraries have: null where the library lacks
// them, which the menu then does without.
#define VELMORA_X11_OPTIONAL_FUNCTIONS(F) F(0, XSetIOErrorExitHandler) // libX11 1.7

namespace velmora::x11 {

#define VELMORA_X11_DECLARE(library, name) extern decltype(&::name) name;
VELMORA_X11_FUNCTIONS(VELMORA_X11_DECLARE)
VELMORA_X11_FONT_FUNCTIONS(VELMORA_X11_DECLARE)
VELMORA_XCB_FUNCTIONS(VELMORA_X11_DECLARE)
VELMORA_XKB_FUNCTIONS(VELMORA_X11_DECLARE)
VELMORA_X11_OPTIONAL_FUNCTIONS(VELMORA_X11_DECLARE)
#undef VELMORA_X11_DECLARE

// Loads the libraries and resolves the functions above, once per process;
// the later calls return the first one's answer. False when any library or
// required function is missing: then there is no X11 menu to be had, as when no
// display can be opened. The libraries stay loaded until the process ends,
// as linked ones would.
bool loadX11Libraries();

// Loads libxcb and resolves its functions, once per process, as above.
bool loadXcbLibrary();

// Loads libxkbcommon and libxkbcommon-x11, once per process, as above.
bool loadXkbLibraries();

// Loads libXft, fontconfig and FreeType and resolves their functions, once
// per process, as above; after loadX11Libraries().
bool loadX11FontLibraries();

// The files the font libraries were loaded from, when they are: what the
// glyphs they draw depend on besides the faces and settings.
std::vector<std::string> x11FontLibraryFiles();

} // namespace velmora::x11
