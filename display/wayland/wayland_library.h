// The client libraries of the Wayland menu, loaded only when the menu is tried.
//
// The launcher links none of libwayland-client, libxkbcommon, libpixman,
// libfcft, fontconfig and FreeType (nor what they pull in: HarfBuzz, GLib): a
// start that shows the terminal or X11 menu, or no menu, must not pay for
// loading them. Every function the menu calls is a pointer of the namespace
// velmora::wayland with the function's own name and type, resolved by
// loadWaylandLibraries() (the display's own: libwayland-client, xkbcommon
// and pixman) and loadWaylandFontLibraries() (fcft, fontconfig and FreeType,
// which a start drawing the glyphs the font cache remembers never needs);
// code in velmora with `using namespace wayland`
// calls the pointer where it names the function. The font calls, in C, keep
// their own pointers (wayland_font.c). The core protocol's interface
// descriptions are compiled into the launcher from wayland.xml, so that no
// data of the library is referenced either.
//
// The request wrappers that wayland-scanner generates call the library's
// proxy functions by name. This header must therefore come before every
// protocol header: it declares the library's functions as the library has
// them, then turns the names the wrappers use into the pointers.
#pragma once

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include <pixman.h>
#include <wayland-client-core.h>
#include <xkbcommon/xkbcommon.h>

#include <string>
#include <vector>

// Each function the menu calls, with the library (by index into the list in
// wayland_library.cpp) that holds it.
#define VELMORA_WAYLAND_FUNCTIONS(F)                                                               \
    F(0, wl_display_cancel_read)                                                                   \
    F(0, wl_display_connect)                                                                       \
    F(0, wl_display_disconnect)                                                                    \
    F(0, wl_display_dispatch_pending)                                                              \
    F(0, wl_display_flush)                                                                         \
    F(0, wl_display_get_error)                                                                     \
    F(0, wl_display_get_fd)                                                                        \
    F(0, wl_display_prepare_read)                                                                  \
    F(0, wl_display_read_events)                                                                   \
    F(0, wl_proxy_add_listener)                                                                    \
    F(0, wl_proxy_destroy)                                                                         \
    F(0, wl_proxy_get_version)                                                                     \
    F(0, wl_proxy_marshal_flags)                                                                   \
    F(1, xkb_context_new)                                                                          \
    F(1, xkb_context_unref)                                                                        \
    F(1, xkb_keymap_key_repeats)                                                                   \
    F(1, xkb_keymap_new_from_buffer)                                                               \
    F(1, xkb_keymap_unref)                                                                         \
    F(1, xkb_state_key_get_one_sym)                                                                \
    F(1, xkb_state_key_get_utf32)                                                                  \
    F(1, xkb_state_new)                                                                            \
    F(1, xkb_state_unref)                                                                          \
    F(1, xkb_state_update_mask)                                                                    \
    F(2, pixman_image_composite32)                                                                 \
    F(2, pixman_image_create_bits)                                                                 \
    F(2, pixman_image_create_solid_fill)                                                           \
    F(2, pixman_image_fill_rectangles)                                                             \
    F(2, pixman_image_get_data)                                                                    \
    F(2, pixman_image_get_format)                                                                  \
    F(2, pixman_image_get_stride)                                                                  \
    F(2, pixman_image_unref)

// The font libraries' functions, by index into the font libraries' list.
#define VELMORA_WAYLAND_FONT_FUNCTIONS(F)                                                          \
    F(1, FcCharSetHasChar)                                                                         \
    F(1, FcConfigGetCacheDirs)                                                                     \
    F(1, FcConfigGetConfigDirs)                                                                    \
    F(1, FcConfigGetConfigFiles)                                                                   \
    F(1, FcConfigGetFontDirs)                                                                      \
    F(1, FcConfigSubstitute)                                                                       \
    F(1, FcDefaultSubstitute)                                                                      \
    F(1, FcFontRenderPrepare)                                                                      \
    F(1, FcFontSetDestroy)                                                                         \
    F(1, FcFontSort)                                                                               \
    F(1, FcNameParse)                                                                              \
    F(1, FcPatternDestroy)                                                                         \
    F(1, FcPatternGetCharSet)                                                                      \
    F(1, FcPatternIterGetObject)                                                                   \
    F(1, FcPatternIterGetValue)                                                                    \
    F(1, FcPatternIterIsValid)                                                                     \
    F(1, FcPatternIterNext)                                                                        \
    F(1, FcPatternIterStart)                                                                       \
    F(1, FcPatternIterValueCount)                                                                  \
    F(1, FcStrListDone)                                                                            \
    F(1, FcStrListNext)                                                                            \
    F(2, FT_Done_Face)                                                                             \
    F(2, FT_Done_FreeType)                                                                         \
    F(2, FT_Get_Char_Index)                                                                        \
    F(2, FT_GlyphSlot_Embolden)                                                                    \
    F(2, FT_Init_FreeType)                                                                         \
    F(2, FT_Load_Glyph)                                                                            \
    F(2, FT_New_Face)                                                                              \
    F(2, FT_Render_Glyph)                                                                          \
    F(2, FT_Set_Pixel_Sizes)                                                                       \
    F(2, FT_Set_Transform)

namespace velmora::wayland {

#define VELMORA_WAYLAND_DECLARE(library, name) extern decltype(&::name) name;
VELMORA_WAYLAND_FUNCTIONS(VELMORA_WAYLAND_DECLARE)
VELMORA_WAYLAND_FONT_FUNCTIONS(VELMORA_WAYLAND_DECLARE)
#undef VELMORA_WAYLAND_DECLARE

// Loads the display's libraries and resolves their functions above, once
// per process; the later calls return the first one's answer. False when
// any library or function is missing: then there is no Wayland menu to be
// had, as when no compositor answers. The libraries stay loaded until the
// process ends, as linked ones would.
bool loadWaylandLibraries();

// The same for the font libraries and their functions, fcft's included
// (wayland_font.c); after loadWaylandLibraries().
bool loadWaylandFontLibraries();

// The files the font libraries were loaded from, once they are: what the
// glyphs they draw depend on besides the faces and settings.
std::vector<std::string> waylandFontLibraryFiles();

} // namespace velmora::wayland

// The proxy functions that the generated request wrappers call.
#define wl_proxy_add_listener ::velmora::wayland::wl_proxy_add_listener
#define wl_proxy_destroy ::velmora::wayland::wl_proxy_destroy
#define wl_proxy_get_version ::velmora::wayland::wl_proxy_get_version
#define wl_proxy_marshal_flags ::velmora::wayland::wl_proxy_marshal_flags
