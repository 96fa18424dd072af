#include "menu/menu_layout.h"

#include "menu/track_flags.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace velmora {

namespace {

// Places one axis: the start of a span of `size` anchored at `at` (start,
// centre or end per `anchor`), kept within [0, screen).
int placeAxis(int anchor, std::int64_t at, std::int64_t size, std::int64_t screen) {
    std::int64_t start = at;
    if (anchor == 1)
        start = at - size / 2;
    else if (anchor == 2)
        start = at - size;
    if (start + size > screen)
        start = screen - size;
    if (start < 0)
        start = 0;
    return static_cast<int>(start);
}

} // namespace

MenuRect placeMenuRect(unsigned int flags, int x, int y, int width, int height, int screenWidth,
                       int screenHeight) {
    const int xAnchor = (flags & TPM_RIGHTALIGN) != 0 ? 2 : (flags & TPM_CENTERALIGN) != 0 ? 1 : 0;
    const int yAnchor = (flags & TPM_BOTTOMALIGN) != 0    ? 2
                        : (flags & TPM_VCENTERALIGN) != 0 ? 1
                                                          : 0;
    width = std::max(width, 0);
    height = std::max(height, 0);
    MenuRect rect;
    rect.width = width;
    rect.height = height;
    rect.left = placeAxis(xAnchor, x, width, std::max(screenWidth, 0));
    rect.top = placeAxis(yAnchor, y, height, std::max(screenHeight, 0));
    return rect;
}

long long MenuGeometry::rowTop(std::size_t row) const {
    return static_cast<long long>(border) + margin + arrowHeight +
           static_cast<long long>(row) * rowHeight;
}

MenuGeometry layoutPixelMenu(const MenuMetrics& metrics, long long textWidth, int fontHeight,
                             std::size_t items, long long screenWidth, long long screenHeight) {
    MenuGeometry geometry;
    geometry.border = metrics.border;
    geometry.margin = metrics.margin;
    geometry.rowHeight = std::max(fontHeight + 2 * metrics.rowPad, 1);
    const long long frame = 2LL * metrics.border;
    const long long inside = frame + 2LL * metrics.margin;
    // More rows than any screen holds count as that many: the sums stay small.
    const auto count = static_cast<long long>(std::min<std::size_t>(items, 1u << 20));
    long long width = std::max<long long>(frame + metrics.padLeft + textWidth + metrics.padRight,
                                          metrics.minWidth);
    long long height = inside + count * geometry.rowHeight;
    geometry.rows = std::max<std::size_t>(items, 1);
    if (items > 0 && screenHeight > 0 && height > screenHeight) {
        geometry.arrowHeight = metrics.arrowHeight;
        const long long room = screenHeight - inside - 2LL * metrics.arrowHeight;
        const long long shown = std::max<long long>(room / geometry.rowHeight, 1);
        geometry.rows = static_cast<std::size_t>(shown);
        height = inside + 2LL * metrics.arrowHeight + shown * geometry.rowHeight;
    }
    if (screenWidth > 0)
        width = std::min(width, screenWidth);
    constexpr long long largest = std::numeric_limits<short>::max();
    geometry.frame.width = static_cast<int>(std::min(width, largest));
    geometry.frame.height = static_cast<int>(std::min(height, largest));
    return geometry;
}

MenuHit hitTestMenu(const MenuGeometry& geometry, std::size_t firstVisible, std::size_t itemCount,
                    int x, int y) {
    const long long px = static_cast<long long>(x) - geometry.frame.left;
    const long long py = static_cast<long long>(y) - geometry.frame.top;
    MenuHit hit;
    if (px < 0 || py < 0 || px >= geometry.frame.width || py >= geometry.frame.height)
        return hit;
    hit.kind = MenuHit::Kind::Frame;
    if (px < geometry.border ||
        px >= static_cast<long long>(geometry.frame.width) - geometry.border)
        return hit;
    const long long top = geometry.rowTop(0);
    const long long bottom = geometry.rowsBottom();
    if (geometry.scrolls()) {
        if (py >= static_cast<long long>(geometry.border) + geometry.margin && py < top) {
            hit.kind = MenuHit::Kind::ScrollUp;
            return hit;
        }
        if (py >= bottom && py < bottom + geometry.arrowHeight) {
            hit.kind = MenuHit::Kind::ScrollDown;
            return hit;
        }
    }
    if (py < top || py >= bottom || geometry.rowHeight <= 0)
        return hit;
    const auto index = firstVisible + static_cast<std::size_t>((py - top) / geometry.rowHeight);
    if (index < itemCount) {
        hit.kind = MenuHit::Kind::Item;
        hit.item = index;
    }
    return hit;
}

} // namespace velmora
