// The matrix on the Linux displays: a terminal, Xvfb, headless sway, Weston
// with Xwayland, KWin and GNOME Shell (the table: matrix_scenarios.h).
// GoogleTest (with the table) before the harness, whose X11 header defines None.
#include "tests/matrix/matrix_scenarios.h"

#include "tests/desktops/desktop_session.h"

namespace velmora::matrix {

std::unique_ptr<DisplayDriver> makeTerminalDriver();
std::unique_ptr<DisplayDriver> makeX11Driver();
std::unique_ptr<DisplayDriver> makeSwayDriver();
std::unique_ptr<DisplayDriver> makeWestonDriver();
std::unique_ptr<DisplayDriver> makeDesktopDriver(desktops::DesktopKind kind);

namespace {

MATRIX_DISPLAY(Terminal);
MATRIX_DISPLAY(X11);
MATRIX_DISPLAY(Sway);
MATRIX_DISPLAY(WestonXwayland);
MATRIX_DISPLAY(KWin);
MATRIX_DISPLAY(Gnome);

} // namespace

std::unique_ptr<DisplayDriver> makeDriver(DisplayId display) {
    switch (display) {
    case DisplayId::Terminal:
        return makeTerminalDriver();
    case DisplayId::X11:
        return makeX11Driver();
    case DisplayId::Sway:
        return makeSwayDriver();
    case DisplayId::WestonXwayland:
        return makeWestonDriver();
    case DisplayId::KWin:
        return makeDesktopDriver(desktops::DesktopKind::KWin);
    case DisplayId::Gnome:
        return makeDesktopDriver(desktops::DesktopKind::Gnome);
    case DisplayId::Wine:
        break;
    }
    throw std::logic_error("the Wine column is played by the Wine program");
}

} // namespace velmora::matrix
