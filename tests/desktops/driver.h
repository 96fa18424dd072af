// The user's hands and eyes on one desktop, through that desktop's own
// remote-control interfaces: KWin's fake input protocol and screenshot
// D-Bus interface, GNOME's RemoteDesktop and Screenshot D-Bus interfaces.
#pragma once

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::desktops {

// A screenshot in device pixels: 0xRRGGBB, row by row.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> rgb;
};

class Desktop {
public:
    virtual ~Desktop() = default;
    // One key, pressed or released, named by its keysym.
    virtual void key(xkb_keysym_t keysym, bool pressed) = 0;
    // The pointer to (x, y) in logical pixels of the whole desktop.
    virtual void move(double x, double y) = 0;
    // A button (evdev code: BTN_LEFT...) pressed or released.
    virtual void button(std::uint32_t code, bool pressed) = 0;
    virtual Pixels screenshot() = 0;
    // Returns once GNOME Shell's overview is shown (or hidden), or throws
    // when it is not within a few seconds; other desktops have none.
    virtual void awaitOverview(bool /*shown*/) {
        throw std::runtime_error("this desktop has no overview");
    }
};

// Each throws std::runtime_error saying what is missing when the desktop's
// interfaces are not there (yet).
std::unique_ptr<Desktop> connectKWin();
std::unique_ptr<Desktop> connectGnome(int width, int height);

} // namespace velmora::desktops
