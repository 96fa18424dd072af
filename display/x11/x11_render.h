// The RENDER formats the menu draws with: its window's and the A8 coverage
// of glyphs. They are asked of the server as libXrender asks them, but without XRenderQueryFormats,
// which looks up every visual of every format in the reply among all of the display's visuals (the
// largest cost of a warm start on a server with many visuals).
#pragma once

#include "display/x11/x11_wire.h"

#include <optional>

namespace velmora::x11 {

struct RenderFormats {
    // RENDER's major opcode, which the menu's own requests carry.
    int opcode = 0;
    // Formats by their ids alone, which is all that RENDER's requests
    // carry of them.
    XRenderPictFormat window{};
    XRenderPictFormat coverage{}; // id 0 when the server has no A8
    // RENDER 0.10 or later: solid sources, as Xft then draws with.
    bool solidSources = false;
    // Whether glyphs can be composited as Xft composites grey-scale ones.
    bool drawsCoverage() const { return coverage.id != 0 && solidSources; }
};

// Nothing when the server refused the queries or has no format for
// `visual`; one round trip, which requests queued before share.
std::optional<RenderFormats> queryRenderFormats(Wire& wire, int opcode, VisualID visual);

} // namespace velmora::x11
