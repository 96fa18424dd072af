#include "wayland_font.h"

#include <fcft/fcft.h>
#include <stdio.h>

bool velmora_font_library_init(void) {
    return fcft_init(FCFT_LOG_COLORIZE_NEVER, false, FCFT_LOG_CLASS_NONE);
}

void velmora_font_library_fini(void) {
    fcft_fini();
}

struct fcft_font* velmora_font_open(double pixel_size) {
    char attributes[64];
    snprintf(attributes, sizeof attributes, "pixelsize=%.2f", pixel_size);
    const char* names[] = {"sans-serif"};
    return fcft_from_name(1, names, attributes);
}

void velmora_font_close(struct fcft_font* font) {
    if (font != NULL)
        fcft_destroy(font);
}

int velmora_font_ascent(const struct fcft_font* font) {
    return font->ascent;
}

int velmora_font_descent(const struct fcft_font* font) {
    return font->descent;
}

bool velmora_font_glyph(struct fcft_font* font, uint32_t cp, struct velmora_glyph* glyph) {
    const struct fcft_glyph* g = fcft_rasterize_char_utf32(font, cp, FCFT_SUBPIXEL_NONE);
    if (g == NULL || g->pix == NULL)
        return false;
    glyph->image = g->pix;
    glyph->color = pixman_image_get_format(g->pix) == PIXMAN_a8r8g8b8;
    glyph->x = g->x;
    glyph->y = g->y;
    glyph->width = g->width;
    glyph->height = g->height;
    glyph->advance = g->advance.x;
    return true;
}
