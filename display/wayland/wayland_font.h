/* The font calls of the Wayland menu: fcft (fontconfig + FreeType) behind a
 * few plain functions, because fcft's header is C only. The face is the
 * desktop's "sans-serif" at a pixel size, with fontconfig's fallback faces
 * for characters it lacks (Japanese on a Latin-only default face). */
#pragma once

#include <pixman.h>
#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct fcft_font;

struct velmora_glyph {
    pixman_image_t* image; /* the coverage mask, or the colour image (emoji) */
    bool color;
    int x; /* from the pen position to the image's left edge */
    int y; /* from the baseline up to the image's top edge */
    int width;
    int height;
    int advance;
};

/* Resolves the font functions from the loaded fcft and pixman libraries;
 * false when one is missing. */
bool velmora_font_library_resolve(void* fcft_library, void* pixman_library);

/* fcft (and with it fontconfig) set up, quiet (fcft logs nothing): done by
 * the first velmora_font_open, so that a start whose font cache holds never
 * pays for it; the later calls return the first one's answer. Fini undoes
 * it, when it was done. */
bool velmora_font_library_init(void);
void velmora_font_library_fini(void);

/* The face asked of fontconfig, and the attributes fcft gets with it for a
 * pixel size ("pixelsize=12.00"): fcft asks fontconfig for the two joined by
 * a colon. */
#define VELMORA_FONT_FAMILY "sans-serif"
#define VELMORA_FONT_ATTRIBUTES 64
void velmora_font_attributes(double pixel_size, char attributes[VELMORA_FONT_ATTRIBUTES]);

/* A font of `pixel_size` pixels, or NULL. */
struct fcft_font* velmora_font_open(double pixel_size);
void velmora_font_close(struct fcft_font* font);
int velmora_font_ascent(const struct fcft_font* font);
int velmora_font_descent(const struct fcft_font* font);

/* The glyph of `cp`; false when no installed face has one. The image
 * belongs to the font. */
bool velmora_font_glyph(struct fcft_font* font, uint32_t cp, struct velmora_glyph* glyph);

#ifdef __cplusplus
}
#endif
