#include "wayland_font.h"

#include <dlfcn.h>
#include <fcft/fcft.h>
#include <stdio.h>
#include <string.h>

/* fcft is loaded with the other client libraries (wayland_library.cpp), not
 * linked: its functions, and the one pixman function used here, are these
 * pointers. */
static struct {
    __typeof__(&fcft_init) init;
    __typeof__(&fcft_fini) fini;
    __typeof__(&fcft_from_name) from_name;
    __typeof__(&fcft_destroy) destroy;
    __typeof__(&fcft_rasterize_char_utf32) rasterize_char_utf32;
    __typeof__(&pixman_image_get_format) image_get_format;
} fcft;

/* dlsym's object pointer as a function pointer: POSIX guarantees that the
 * two convert, ISO C does not, hence the copy. */
static void resolve(void* library, const char* name, void* pointer, size_t size) {
    void* symbol = dlsym(library, name);
    memcpy(pointer, &symbol, size);
}

bool velmora_font_library_resolve(void* fcft_library, void* pixman_library) {
    resolve(fcft_library, "fcft_init", &fcft.init, sizeof fcft.init);
    resolve(fcft_library, "fcft_fini", &fcft.fini, sizeof fcft.fini);
    resolve(fcft_library, "fcft_from_name", &fcft.from_name, sizeof fcft.from_name);
    resolve(fcft_library, "fcft_destroy", &fcft.destroy, sizeof fcft.destroy);
    resolve(fcft_library, "fcft_rasterize_char_utf32", &fcft.rasterize_char_utf32,
            sizeof fcft.rasterize_char_utf32);
    resolve(pixman_library, "pixman_image_get_format", &fcft.image_get_format,
            sizeof fcft.image_get_format);
    return fcft.init != NULL && fcft.fini != NULL && fcft.from_name != NULL &&
           fcft.destroy != NULL && fcft.rasterize_char_utf32 != NULL &&
           fcft.image_get_format != NULL;
}

static bool initialised;

bool velmora_font_library_init(void) {
    if (!initialised)
        initialised = fcft.init(FCFT_LOG_COLORIZE_NEVER, false, FCFT_LOG_CLASS_NONE);
    return initialised;
}

void velmora_font_library_fini(void) {
    if (initialised)
        fcft.fini();
    initialised = false;
}

void velmora_font_attributes(double pixel_size, char attributes[VELMORA_FONT_ATTRIBUTES]) {
    snprintf(attributes, VELMORA_FONT_ATTRIBUTES, "pixelsize=%.2f", pixel_size);
}

struct fcft_font* velmora_font_open(double pixel_size) {
    if (!velmora_font_library_init())
        return NULL;
    char attributes[VELMORA_FONT_ATTRIBUTES];
    velmora_font_attributes(pixel_size, attributes);
    const char* names[] = {VELMORA_FONT_FAMILY};
    return fcft.from_name(1, names, attributes);
}

void velmora_font_close(struct fcft_font* font) {
    if (font != NULL)
        fcft.destroy(font);
}

int velmora_font_ascent(const struct fcft_font* font) {
    return font->ascent;
}

int velmora_font_descent(const struct fcft_font* font) {
    return font->descent;
}

bool velmora_font_glyph(struct fcft_font* font, uint32_t cp, struct velmora_glyph* glyph) {
    const struct fcft_glyph* g = fcft.rasterize_char_utf32(font, cp, FCFT_SUBPIXEL_NONE);
    if (g == NULL || g->pix == NULL)
        return false;
    glyph->image = g->pix;
    glyph->color = fcft.image_get_format(g->pix) == PIXMAN_a8r8g8b8;
    glyph->x = g->x;
    glyph->y = g->y;
    glyph->width = g->width;
    glyph->height = g->height;
    glyph->advance = g->advance.x;
    return true;
}
