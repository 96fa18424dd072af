// One open menu's behaviour, the same for every drawn menu: the rules of the
// native pop-up menu that the Windows build shows. A drawn menu turns its
// events into the calls below and draws what the answers say changed; it
// does no deciding of its own.
//
// - The menu opens with nothing highlighted. The keys move the highlight
//   (wrapping at either end; Down from nothing is the first item, Up the
//   last), Enter picks the highlighted item and with nothing highlighted
//   closes, Escape closes; a typed character picks the one item
//   whose mnemonic it is, or steps through several that share it.
// - The pointer over an item highlights it. The left button's release over
//   an item picks it: after a press in the menu (also one on another item,
//   dragged), and after the press that opened the menu when the pointer was
//   dragged before the release. The right and middle buttons never pick.
// - A press of any button outside the menu closes it.
// - A press on a scroll arrow moves one row; while the pointer rests on one,
//   the rows move every MENU_SCROLL_REPEAT_MILLISECONDS; a wheel notch moves
//   MENU_WHEEL_ROWS rows.
//
// What a display cannot report, the menu there lacks: the terminal reports
// the pointer only while a button is held (no hover, and its rows have no
// scroll arrows: its border shows whether more lies either way), and on
// Wayland the press that opened the menu belongs to another surface.
#pragma once

#include "menu/menu_layout.h"
#include "menu/menu_title.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora {

enum class MenuKey { Up, Down, Home, End, PageUp, PageDown, Enter, Cancel };

constexpr int MENU_SCROLL_REPEAT_MILLISECONDS = 60;
constexpr long MENU_WHEEL_ROWS = 1;

// The keyboard's hold on an open menu: the highlighted item and the first
// visible row of a menu that scrolls.
class MenuNavigator {
public:
    enum class Result { None, Picked, Dismissed };

    MenuNavigator(std::vector<MenuTitle> titles, std::size_t visibleRows);

    std::size_t itemCount() const { return titles_.size(); }
    const MenuTitle& title(std::size_t index) const { return titles_[index]; }
    // No item: the menu has just opened, or it is empty.
    static constexpr std::size_t NONE = static_cast<std::size_t>(-1);

    // The highlighted item, or NONE.
    std::size_t highlighted() const { return highlighted_; }
    std::size_t firstVisible() const { return firstVisible_; }
    std::size_t visibleRows() const { return visibleRows_; }
    void setVisibleRows(std::size_t rows);

    // A navigation key. Enter on an item picks it; Cancel dismisses.
    Result press(MenuKey key);
    // A typed character: picks the item whose mnemonic it is, or moves to
    // the next of several items that share it.
    Result type(char32_t character);
    // Highlights `index`.
    void point(std::size_t index);
    // Scrolls by `rows` without moving past either end.
    void scroll(long rows);

private:
    void moveTo(std::size_t index);
    void keepFirstVisibleInRange();

    std::vector<MenuTitle> titles_;
    std::size_t visibleRows_;
    std::size_t highlighted_;
    std::size_t firstVisible_ = 0;
};

// The row text (menuRowText) of every item.
std::vector<MenuRowText> menuRowTexts(const MenuNavigator& navigator);

enum class MenuButton { Left, Middle, Right };

// Where the pointer is: on the menu's surface at (x, y), in the units and
// coordinates of the session's geometry, or somewhere else altogether.
struct MenuPointer {
    bool onMenu = false;
    int x = 0;
    int y = 0;

    static MenuPointer at(int x, int y) { return MenuPointer{true, x, y}; }
    static MenuPointer elsewhere() { return MenuPointer{}; }
};

// What an input did to the menu.
struct MenuUpdate {
    enum class Repaint { Nothing, Rows, Everything };
    Repaint repaint = Repaint::Nothing;
    // With Rows: the two items to draw again (the old and the new highlight;
    // the same item twice when nothing was highlighted).
    std::size_t rows[2] = {0, 0};
    bool closed = false;
    // Once closed: the picked item's command identifier, 0 when dismissed.
    unsigned int command = 0;
};

class MenuSession {
public:
    explicit MenuSession(const std::vector<MenuItem>& items);

    const MenuNavigator& navigator() const { return navigator_; }
    const MenuGeometry& geometry() const { return geometry_; }
    // The menu's layout, also after the display changed size or scale.
    void setGeometry(const MenuGeometry& geometry);
    MenuHit hitTest(MenuPointer pointer) const;

    MenuUpdate key(MenuKey key);
    MenuUpdate type(char32_t character);
    // The pointer moved; `buttonHeld` while any button is down.
    MenuUpdate motion(MenuPointer pointer, bool buttonHeld);
    MenuUpdate press(MenuButton button, MenuPointer pointer);
    MenuUpdate release(MenuButton button, MenuPointer pointer);
    // Wheel notches, positive downwards.
    MenuUpdate wheel(long notches);
    // The display closed the menu (another program took the input, the
    // terminal hung up, a signal).
    MenuUpdate dismiss();

    // Milliseconds until tick() is due at `nowMs` (clockMilliseconds()): 0
    // when due, -1 while the pointer rests on no scroll arrow.
    int tickTimeout(std::int64_t nowMs);
    MenuUpdate tick(std::int64_t nowMs);
    // The steady clock that displays read for tick() and tickTimeout().
    static std::int64_t clockMilliseconds();

    bool closed() const { return closed_; }
    unsigned int command() const { return command_; }

private:
    // Runs `change` and answers what it changed.
    template <typename Change> MenuUpdate track(Change change);
    MenuUpdate close(unsigned int command);
    MenuUpdate finish(MenuNavigator::Result result);
    void restOn(const MenuHit& hit);

    std::vector<unsigned int> commands_;
    MenuNavigator navigator_;
    MenuGeometry geometry_;
    bool closed_ = false;
    unsigned int command_ = 0;
    bool sawPress_ = false; // a press of the menu's own, not the opening one
    bool leftDown_ = false; // the left button went down in the menu
    bool dragged_ = false;  // the pointer moved with a button held
    int autoScroll_ = 0;    // -1 or 1 while the pointer rests on an arrow
    bool tickScheduled_ = false;
    std::int64_t nextTickMs_ = 0;
};

} // namespace velmora
