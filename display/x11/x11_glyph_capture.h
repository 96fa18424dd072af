// The cold start's side of the remembered glyphs: the glyphs Xft drew for
// the titles' characters, read back from the server as they lie in Xft's
// glyph sets, with the metrics Xft gave them.
#pragma once

#include "display/fontcache/font_cache_format.h"
#include "display/x11/x11_handles.h"
#include "display/x11/x11_render.h"

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace velmora::x11 {

// The glyphs of `characters` (each once), each drawn by faces[faceOf(c)].
// Nothing when a face does not draw plain coverage through XRender (no
// RENDER, no anti-aliasing, sub-pixel or colour glyphs), a glyph is larger
// than a cache holds, or the server refuses.
std::optional<fontcache::CachedGlyphs>
captureGlyphs(Display* display, const RenderFormats& formats, const std::vector<XftFont*>& faces,
              std::u32string_view characters, const std::function<std::size_t(char32_t)>& faceOf);

} // namespace velmora::x11
