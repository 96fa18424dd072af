/* Whether FreeType alone, given the faces fontconfig resolved and the way fcft
 * opens them, draws a menu's glyphs exactly as fcft does, and what each way
 * costs: the question behind a warm start of the Wayland menu that skips
 * fontconfig.
 *
 *     velmora_wayland_warm_glyphs PIXEL_SIZE TITLE...
 *
 * fcft opens "sans-serif" at the size and draws every character of the
 * titles; fontconfig's sorted answer for the same pattern then tells which
 * face fcft took for each character (the first whose character set holds it,
 * else the first face), and a FreeType library of its own opens those faces
 * from their files with fcft's load flags, render mode, size and metrics and
 * draws the characters again. Prints one line per character that differs in
 * placement, advance or any coverage byte, the two costs, and exits 0 only
 * when every glyph and the ascent and descent are identical. */
#include <fcft/fcft.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include <locale.h>
#include <math.h>
#include <pixman.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wchar.h>

struct face {
    FcPattern* pattern; /* prepared as fcft prepares it */
    FT_Face ft;         /* opened by the FreeType-only side, NULL until needed */
    FT_Int32 load_flags;
    FT_Render_Mode render_mode;
    bool embolden;
};

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static FcBool get_bool(FcPattern* p, const char* object, FcBool fallback) {
    FcBool value;
    return FcPatternGetBool(p, object, 0, &value) == FcResultMatch ? value : fallback;
}

static int get_int(FcPattern* p, const char* object, int fallback) {
    int value;
    return FcPatternGetInteger(p, object, 0, &value) == FcResultMatch ? value : fallback;
}

/* fcft's rules for one face, read from its prepared pattern. False when the
 * face needs what a warm start would not do (scaled bitmap faces). */
static bool open_face(FT_Library library, struct face* face) {
    FcChar8* file = NULL;
    double pixel_size = 0;
    if (FcPatternGetString(face->pattern, FC_FILE, 0, &file) != FcResultMatch ||
        FcPatternGetDouble(face->pattern, FC_PIXEL_SIZE, 0, &pixel_size) != FcResultMatch)
        return false;
    if (FT_New_Face(library, (const char*)file, get_int(face->pattern, FC_INDEX, 0), &face->ft) ||
        FT_Set_Pixel_Sizes(face->ft, 0, (FT_UInt)round(pixel_size)))
        return false;
    const FcBool outline = get_bool(face->pattern, FC_OUTLINE, FcTrue);
    double fixup;
    if (FcPatternGetDouble(face->pattern, "pixelsizefixupfactor", 0, &fixup) == FcResultMatch ||
        (get_bool(face->pattern, FC_SCALABLE, FcTrue) && !outline))
        return false;
    const FcBool hinting = get_bool(face->pattern, FC_HINTING, FcTrue);
    const FcBool antialias = get_bool(face->pattern, FC_ANTIALIAS, FcTrue);
    const int style = get_int(face->pattern, FC_HINT_STYLE, FC_HINT_SLIGHT);
    const int rgba = get_int(face->pattern, FC_RGBA, FC_RGBA_UNKNOWN);
    FT_Int32 flags = FT_LOAD_DEFAULT;
    FT_Int32 target = FT_LOAD_TARGET_NORMAL;
    if (!hinting || style == FC_HINT_NONE)
        flags |= FT_LOAD_NO_HINTING;
    else if (!antialias)
        target = FT_LOAD_TARGET_MONO;
    else if (style == FC_HINT_SLIGHT)
        target = FT_LOAD_TARGET_LIGHT;
    else if (style != FC_HINT_MEDIUM && (rgba == FC_RGBA_RGB || rgba == FC_RGBA_BGR))
        target = FT_LOAD_TARGET_LCD;
    else if (style != FC_HINT_MEDIUM && (rgba == FC_RGBA_VRGB || rgba == FC_RGBA_VBGR))
        target = FT_LOAD_TARGET_LCD_V;
    if (!antialias)
        flags |= FT_LOAD_MONOCHROME;
    if (!get_bool(face->pattern, FC_EMBEDDED_BITMAP, FcTrue) && outline)
        flags |= FT_LOAD_NO_BITMAP;
    if (get_bool(face->pattern, FC_AUTOHINT, FcFalse))
        flags |= FT_LOAD_FORCE_AUTOHINT;
    face->load_flags = target | flags | FT_LOAD_COLOR;
    face->render_mode = antialias ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO;
    face->embolden = get_bool(face->pattern, FC_EMBOLDEN, FcFalse);
    FcMatrix* m;
    if (FcPatternGetMatrix(face->pattern, FC_MATRIX, 0, &m) == FcResultMatch) {
        FT_Matrix matrix = {(FT_Fixed)(m->xx * 0x10000), (FT_Fixed)(m->xy * 0x10000),
                            (FT_Fixed)(m->yx * 0x10000), (FT_Fixed)(m->yy * 0x10000)};
        FT_Set_Transform(face->ft, &matrix, NULL);
    }
    return true;
}

/* The face fcft takes for `cp`: the first whose character set holds it. */
static size_t face_for(struct face* faces, size_t count, uint32_t cp) {
    for (size_t i = 0; i < count; ++i) {
        FcCharSet* set;
        if (FcPatternGetCharSet(faces[i].pattern, FC_CHARSET, 0, &set) == FcResultMatch &&
            FcCharSetHasChar(set, cp))
            return i;
    }
    return 0;
}

/* Compares FreeType's rendering of `cp` with fcft's glyph; prints a line
 * when they differ. */
static bool same_glyph(const struct face* face, uint32_t cp, const struct fcft_glyph* g) {
    FT_GlyphSlot slot = face->ft->glyph;
    if (FT_Load_Glyph(face->ft, FT_Get_Char_Index(face->ft, cp), face->load_flags))
        return printf("U+%04X: FreeType cannot load it\n", cp), false;
    if (face->embolden && slot->format == FT_GLYPH_FORMAT_OUTLINE)
        FT_GlyphSlot_Embolden(slot);
    if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, face->render_mode))
        return printf("U+%04X: FreeType cannot render it\n", cp), false;
    const FT_Bitmap* b = &slot->bitmap;
    if (g == NULL || b->pixel_mode != FT_PIXEL_MODE_GRAY ||
        pixman_image_get_format(g->pix) != PIXMAN_a8)
        return printf("U+%04X: not a plain coverage glyph on both sides\n", cp), false;
    const int advance = (int)(slot->advance.x / 64.);
    if (g->x != slot->bitmap_left || g->y != slot->bitmap_top || g->width != (int)b->width ||
        g->height != (int)b->rows || g->advance.x != advance)
        return printf("U+%04X: fcft %d,%d %dx%d +%d, FreeType %d,%d %ux%u +%d\n", cp, g->x, g->y,
                      g->width, g->height, g->advance.x, slot->bitmap_left, slot->bitmap_top,
                      b->width, b->rows, advance),
               false;
    const uint8_t* pixels = (const uint8_t*)pixman_image_get_data(g->pix);
    const int stride = pixman_image_get_stride(g->pix);
    for (unsigned r = 0; r < b->rows; ++r) {
        if (memcmp(pixels + (size_t)r * (size_t)stride, b->buffer + (long)r * b->pitch, b->width))
            return printf("U+%04X: coverage differs in row %u\n", cp, r), false;
    }
    return true;
}

int main(int argc, char** argv) {
    if (argc < 3)
        return fprintf(stderr, "usage: %s PIXEL_SIZE TITLE...\n", argv[0]), 2;
    setlocale(LC_CTYPE, "C.UTF-8");
    uint32_t text[4096];
    size_t length = 0;
    for (int a = 2; a < argc; ++a) {
        mbstate_t state;
        memset(&state, 0, sizeof state);
        const char* s = argv[a];
        wchar_t wc;
        size_t n;
        while (length < sizeof text / sizeof text[0] && (n = mbrtowc(&wc, s, 16, &state)) > 0 &&
               n < (size_t)-2) {
            text[length++] = (uint32_t)wc;
            s += n;
        }
    }
    char attributes[64];
    snprintf(attributes, sizeof attributes, "pixelsize=%s", argv[1]);

    double start = now_ms();
    fcft_init(FCFT_LOG_COLORIZE_NEVER, false, FCFT_LOG_CLASS_NONE);
    const char* names[] = {"sans-serif"};
    struct fcft_font* font = fcft_from_name(1, names, attributes);
    if (font == NULL)
        return fprintf(stderr, "fcft found no font\n"), 1;
    const struct fcft_glyph** glyphs = calloc(length, sizeof *glyphs);
    for (size_t i = 0; i < length; ++i)
        glyphs[i] = fcft_rasterize_char_utf32(font, text[i], FCFT_SUBPIXEL_NONE);
    const double fcft_ms = now_ms() - start;

    /* fcft's own resolution of the same name. */
    char name[96];
    snprintf(name, sizeof name, "sans-serif:%s", attributes);
    FcPattern* base = FcNameParse((const FcChar8*)name);
    FcConfigSubstitute(NULL, base, FcMatchPattern);
    FcDefaultSubstitute(base);
    FcResult result;
    FcFontSet* set = FcFontSort(NULL, base, FcTrue, NULL, &result);
    if (set == NULL || set->nfont == 0)
        return fprintf(stderr, "fontconfig found no font\n"), 1;
    struct face* faces = calloc((size_t)set->nfont, sizeof *faces);
    for (int i = 0; i < set->nfont; ++i)
        faces[i].pattern = FcFontRenderPrepare(NULL, base, set->fonts[i]);
    size_t* chosen = calloc(length, sizeof *chosen);
    for (size_t i = 0; i < length; ++i)
        chosen[i] = face_for(faces, (size_t)set->nfont, text[i]);

    /* The FreeType-only side, from its own library. */
    start = now_ms();
    FT_Library library;
    if (FT_Init_FreeType(&library))
        return fprintf(stderr, "no FreeType\n"), 1;
    bool identical = true;
    for (size_t i = 0; i < length; ++i) {
        struct face* face = &faces[chosen[i]];
        if (face->ft == NULL && !open_face(library, face)) {
            printf("U+%04X: its face is not one a warm start would open\n", text[i]);
            identical = false;
            continue;
        }
        identical = same_glyph(face, text[i], glyphs[i]) && identical;
    }
    const double freetype_ms = now_ms() - start;
    if (faces[0].ft == NULL && !open_face(library, &faces[0]))
        return printf("the first face cannot be opened\n"), 1;
    const int ascent = (int)ceil(faces[0].ft->size->metrics.ascender / 64.);
    const int descent = (int)ceil(-faces[0].ft->size->metrics.descender / 64.);
    if (ascent != font->ascent || descent != font->descent) {
        printf("metrics: fcft ascent %d descent %d, FreeType %d %d\n", font->ascent, font->descent,
               ascent, descent);
        identical = false;
    }
    size_t used = 0;
    for (int i = 0; i < set->nfont; ++i)
        used += faces[i].ft != NULL;
    printf("%zu characters, %zu faces: fcft %.2f ms, FreeType only %.2f ms, %s\n", length, used,
           fcft_ms, freetype_ms, identical ? "identical" : "DIFFERENT");

    for (int i = 0; i < set->nfont; ++i) {
        if (faces[i].ft != NULL)
            FT_Done_Face(faces[i].ft);
        FcPatternDestroy(faces[i].pattern);
    }
    FT_Done_FreeType(library);
    FcFontSetDestroy(set);
    FcPatternDestroy(base);
    free(chosen);
    free(faces);
    free(glyphs);
    fcft_destroy(font);
    fcft_fini();
    return identical ? 0 : 1;
}
