/* One string drawn with fcft into 32-bit pixels (wayland_minimal_text.c). */
#pragma once

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

bool minimal_draw_text(uint32_t* pixels, int width, int height, int stride);

#ifdef __cplusplus
}
#endif
