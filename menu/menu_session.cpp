#include "menu/menu_session.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace velmora {

MenuNavigator::MenuNavigator(std::vector<MenuTitle> titles, std::size_t visibleRows)
    : titles_(std::move(titles)), visibleRows_(std::max<std::size_t>(visibleRows, 1)),
      highlighted_(NONE) {}

void MenuNavigator::setVisibleRows(std::size_t rows) {
    visibleRows_ = std::max<std::size_t>(rows, 1);
    if (highlighted_ != NONE)
        moveTo(highlighted_);
    else
        keepFirstVisibleInRange();
}

void MenuNavigator::keepFirstVisibleInRange() {
    const std::size_t maxFirst = titles_.size() > visibleRows_ ? titles_.size() - visibleRows_ : 0;
    firstVisible_ = std::min(firstVisible_, maxFirst);
}

void MenuNavigator::moveTo(std::size_t index) {
    if (titles_.empty())
        return;
    highlighted_ = std::min(index, titles_.size() - 1);
    if (highlighted_ < firstVisible_)
        firstVisible_ = highlighted_;
    else if (highlighted_ >= firstVisible_ + visibleRows_)
        firstVisible_ = highlighted_ + 1 - visibleRows_;
    keepFirstVisibleInRange();
}

MenuNavigator::Result MenuNavigator::press(MenuKey key) {
    if (key == MenuKey::Cancel)
        return Result::Dismissed;
    if (titles_.empty())
        return Result::None;
    const std::size_t count = titles_.size();
    const bool none = highlighted_ == NONE;
    // The page keys count from the first item when nothing is highlighted.
    const std::size_t at = none ? 0 : highlighted_;
    switch (key) {
    case MenuKey::Up:
        moveTo(none || at == 0 ? count - 1 : at - 1);
        break;
    case MenuKey::Down:
        moveTo(none || at + 1 == count ? 0 : at + 1);
        break;
    case MenuKey::Home:
        moveTo(0);
        break;
    case MenuKey::End:
        moveTo(count - 1);
        break;
    case MenuKey::PageUp:
        moveTo(at > visibleRows_ ? at - visibleRows_ : 0);
        break;
    case MenuKey::PageDown:
        moveTo(std::min(at + visibleRows_, count - 1));
        break;
    case MenuKey::Enter:
        return none ? Result::Dismissed : Result::Picked;
    case MenuKey::Cancel:
        break;
    }
    return Result::None;
}

MenuNavigator::Result MenuNavigator::type(char32_t character) {
    const char32_t wanted = foldMnemonic(character);
    if (wanted == 0 || titles_.empty())
        return Result::None;
    std::vector<std::size_t> matches;
    for (std::size_t i = 0; i < titles_.size(); ++i) {
        if (titles_[i].mnemonic == wanted)
            matches.push_back(i);
    }
    if (matches.empty())
        return Result::None;
    if (matches.size() == 1) {
        moveTo(matches.front());
        return Result::Picked;
    }
    // Several items share the mnemonic: go to the next one after the
    // highlighted item (NONE sorts last: the first), wrapping.
    const auto next = std::upper_bound(matches.begin(), matches.end(), highlighted_);
    moveTo(next == matches.end() ? matches.front() : *next);
    return Result::None;
}

void MenuNavigator::point(std::size_t index) {
    if (index < titles_.size())
        moveTo(index);
}

void MenuNavigator::scroll(long rows) {
    if (titles_.empty())
        return;
    const std::size_t maxFirst = titles_.size() > visibleRows_ ? titles_.size() - visibleRows_ : 0;
    if (rows < 0) {
        const auto up = static_cast<std::size_t>(-(rows + 1)) + 1;
        firstVisible_ = firstVisible_ > up ? firstVisible_ - up : 0;
    } else {
        firstVisible_ = std::min(firstVisible_ + static_cast<std::size_t>(rows), maxFirst);
    }
}

std::vector<MenuRowText> menuRowTexts(const MenuNavigator& navigator) {
    std::vector<MenuRowText> rows;
    rows.reserve(navigator.itemCount());
    for (std::size_t i = 0; i < navigator.itemCount(); ++i)
        rows.push_back(menuRowText(navigator.title(i)));
    return rows;
}

namespace {

std::vector<unsigned int> commandsOf(const std::vector<MenuItem>& items) {
    std::vector<unsigned int> commands;
    commands.reserve(items.size());
    for (const MenuItem& item : items)
        commands.push_back(item.commandId);
    return commands;
}

} // namespace

MenuSession::MenuSession(const std::vector<MenuItem>& items)
    : commands_(commandsOf(items)), navigator_(parseMenuTitles(items), 1) {}

void MenuSession::setGeometry(const MenuGeometry& geometry) {
    geometry_ = geometry;
    navigator_.setVisibleRows(geometry.rows);
}

MenuHit MenuSession::hitTest(MenuPointer pointer) const {
    if (!pointer.onMenu)
        return MenuHit{};
    return hitTestMenu(geometry_, navigator_.firstVisible(), navigator_.itemCount(), pointer.x,
                       pointer.y);
}

template <typename Change> MenuUpdate MenuSession::track(Change change) {
    if (closed_) {
        MenuUpdate update;
        update.closed = true;
        update.command = command_;
        return update;
    }
    const std::size_t highlight = navigator_.highlighted();
    const std::size_t first = navigator_.firstVisible();
    MenuUpdate update = change();
    if (update.closed)
        return update;
    if (navigator_.firstVisible() != first) {
        update.repaint = MenuUpdate::Repaint::Everything;
    } else if (navigator_.highlighted() != highlight) {
        update.repaint = MenuUpdate::Repaint::Rows;
        update.rows[1] = navigator_.highlighted();
        update.rows[0] = highlight != MenuNavigator::NONE ? highlight : update.rows[1];
    }
    return update;
}

MenuUpdate MenuSession::close(unsigned int command) {
    closed_ = true;
    command_ = command;
    autoScroll_ = 0;
    MenuUpdate update;
    update.closed = true;
    update.command = command;
    return update;
}

MenuUpdate MenuSession::finish(MenuNavigator::Result result) {
    if (result == MenuNavigator::Result::Dismissed)
        return close(0);
    if (result == MenuNavigator::Result::Picked) {
        const std::size_t index = navigator_.highlighted();
        return close(index < commands_.size() ? commands_[index] : 0);
    }
    return {};
}

MenuUpdate MenuSession::key(MenuKey key) {
    return track([&] { return finish(navigator_.press(key)); });
}

MenuUpdate MenuSession::type(char32_t character) {
    return track([&] { return finish(navigator_.type(character)); });
}

void MenuSession::restOn(const MenuHit& hit) {
    const int direction = hit.kind == MenuHit::Kind::ScrollUp     ? -1
                          : hit.kind == MenuHit::Kind::ScrollDown ? 1
                                                                  : 0;
    if (direction != autoScroll_)
        tickScheduled_ = false;
    autoScroll_ = direction;
}

MenuUpdate MenuSession::motion(MenuPointer pointer, bool buttonHeld) {
    return track([&] {
        dragged_ = dragged_ || buttonHeld;
        const MenuHit hit = hitTest(pointer);
        restOn(hit);
        if (hit.kind == MenuHit::Kind::Item)
            navigator_.point(hit.item);
        return MenuUpdate{};
    });
}

MenuUpdate MenuSession::press(MenuButton button, MenuPointer pointer) {
    return track([&] {
        const MenuHit hit = hitTest(pointer);
        if (hit.kind == MenuHit::Kind::Outside)
            return close(0);
        sawPress_ = true;
        leftDown_ = button == MenuButton::Left;
        if (hit.kind == MenuHit::Kind::Item)
            navigator_.point(hit.item);
        else if (hit.kind == MenuHit::Kind::ScrollUp || hit.kind == MenuHit::Kind::ScrollDown)
            navigator_.scroll(hit.kind == MenuHit::Kind::ScrollUp ? -1 : 1);
        return MenuUpdate{};
    });
}

MenuUpdate MenuSession::release(MenuButton button, MenuPointer pointer) {
    return track([&] {
        if (button != MenuButton::Left)
            return MenuUpdate{};
        const bool picks = sawPress_ ? leftDown_ : dragged_;
        sawPress_ = true; // the opening press is over
        leftDown_ = false;
        const MenuHit hit = hitTest(pointer);
        if (!picks || hit.kind != MenuHit::Kind::Item)
            return MenuUpdate{};
        navigator_.point(hit.item);
        return finish(MenuNavigator::Result::Picked);
    });
}

MenuUpdate MenuSession::wheel(long notches) {
    return track([&] {
        navigator_.scroll(notches * MENU_WHEEL_ROWS);
        return MenuUpdate{};
    });
}

MenuUpdate MenuSession::dismiss() {
    return track([&] { return close(0); });
}

int MenuSession::tickTimeout(std::int64_t nowMs) {
    if (closed_ || autoScroll_ == 0)
        return -1;
    if (!tickScheduled_) {
        tickScheduled_ = true;
        nextTickMs_ = nowMs + MENU_SCROLL_REPEAT_MILLISECONDS;
    }
    const std::int64_t left = nextTickMs_ - nowMs;
    return static_cast<int>(std::clamp<std::int64_t>(left, 0, MENU_SCROLL_REPEAT_MILLISECONDS));
}

MenuUpdate MenuSession::tick(std::int64_t nowMs) {
    return track([&] {
        if (tickTimeout(nowMs) == 0) {
            navigator_.scroll(autoScroll_);
            nextTickMs_ += MENU_SCROLL_REPEAT_MILLISECONDS;
            if (nextTickMs_ <= nowMs) // the display kept us waiting: no catching up
                nextTickMs_ = nowMs + MENU_SCROLL_REPEAT_MILLISECONDS;
        }
        return MenuUpdate{};
    });
}

std::int64_t MenuSession::clockMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace velmora
