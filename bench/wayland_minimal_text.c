/* The font half of the Wayland yardstick with text: what any fcft client does
 * before its first frame, opening the desktop's sans-serif face (which loads
 * fontconfig) and drawing one string into the frame's pixels. C, because
 * fcft's header is C only. */
#include "wayland_minimal_text.h"

#include <fcft/fcft.h>
#include <pixman.h>

bool minimal_draw_text(uint32_t* pixels, int width, int height, int stride) {
    if (!fcft_init(FCFT_LOG_COLORIZE_NEVER, false, FCFT_LOG_CLASS_NONE))
        return false;
    const char* names[] = {"sans-serif"};
    struct fcft_font* font = fcft_from_name(1, names, "pixelsize=12");
    if (font == NULL)
        return false;
    pixman_image_t* image =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, width, height, pixels, stride);
    const pixman_color_t white = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    pixman_image_t* ink = pixman_image_create_solid_fill(&white);
    const char text[] = "Internet Explorer";
    int x = 10;
    for (const char* c = text; *c != '\0'; ++c) {
        const struct fcft_glyph* glyph =
            fcft_rasterize_char_utf32(font, (uint32_t)(unsigned char)*c, FCFT_SUBPIXEL_NONE);
        if (glyph == NULL)
            continue;
        pixman_image_composite32(PIXMAN_OP_OVER, ink, glyph->pix, image, 0, 0, 0, 0, x + glyph->x,
                                 10 + font->ascent - glyph->y, glyph->width, glyph->height);
        x += glyph->advance.x;
    }
    pixman_image_unref(ink);
    pixman_image_unref(image);
    fcft_destroy(font);
    return true;
}
