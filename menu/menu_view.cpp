#include "menu/menu_view.h"

#include "menu/launcher_menu.h"
#include "text/text_codec.h"

#include <algorithm>
#include <cstdint>
#include <utility>

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

char32_t foldMnemonic(char32_t c) {
    if (c >= U'A' && c <= U'Z')
        return c - U'A' + U'a';
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2))
        return c + 0x20;
    if (c >= 0x410 && c <= 0x42F)
        return c + 0x20;
    if (c >= U'Ａ' && c <= U'Ｚ')
        return c - U'Ａ' + U'ａ';
    return c;
}

MenuTitle parseMenuTitle(std::u16string_view title) {
    MenuTitle parsed;
    std::u16string* part = &parsed.left;
    for (std::size_t i = 0; i < title.size(); ++i) {
        const char16_t c = title[i];
        if (c == u'\t' && part == &parsed.left) {
            part = &parsed.right;
            continue;
        }
        if (c == u'&' && i + 1 < title.size()) {
            const char16_t next = title[i + 1];
            ++i;
            if (next == u'&') {
                part->push_back(u'&');
                continue;
            }
            if (next == u'\t' && part == &parsed.left) {
                part = &parsed.right;
                continue;
            }
            if (parsed.mnemonic == 0 && part == &parsed.left) {
                std::size_t units = 0;
                const char32_t cp = codePointAt(title, i, units);
                parsed.mnemonicIndex = part->size();
                parsed.mnemonic = foldMnemonic(cp);
            }
            part->push_back(next);
            continue;
        }
        if (c == u'&')
            continue; // a trailing "&" marks nothing
        part->push_back(c);
    }
    return parsed;
}

std::vector<MenuTitle> parseMenuTitles(const std::vector<MenuItem>& items) {
    std::vector<MenuTitle> titles;
    titles.reserve(items.size());
    for (const MenuItem& item : items)
        titles.push_back(parseMenuTitle(item.text));
    return titles;
}

unsigned int pickedCommand(const std::vector<MenuItem>& items, std::size_t index) {
    return index < items.size() ? items[index].commandId : 0;
}

namespace {

std::u32string codePoints(std::u16string_view text, std::size_t mnemonicIndex,
                          std::size_t* mnemonic) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0, units = 0; i < text.size(); i += units) {
        if (mnemonic != nullptr && i == mnemonicIndex)
            *mnemonic = out.size();
        const char32_t c = codePointAt(text, i, units);
        out.push_back(isSurrogate(c) ? 0xFFFD : c);
    }
    return out;
}

} // namespace

MenuRowText menuRowText(const MenuTitle& title) {
    MenuRowText row;
    row.left = codePoints(title.left, title.mnemonicIndex, &row.mnemonic);
    row.right = codePoints(title.right, std::u16string::npos, nullptr);
    return row;
}

long long widestMenuRow(const std::vector<MenuRowText>& rows, long long gap,
                        const std::function<long long(const std::u32string&)>& measure) {
    long long widest = 0;
    for (const MenuRowText& row : rows) {
        const long long right = measure(row.right);
        const long long left = measure(row.left);
        widest = std::max(widest, right > 0 ? left + gap + right : left);
    }
    return widest;
}

MenuNavigator::MenuNavigator(std::vector<MenuTitle> titles, std::size_t visibleRows)
    : titles_(std::move(titles)), visibleRows_(std::max<std::size_t>(visibleRows, 1)),
      highlighted_(0) {}

void MenuNavigator::setVisibleRows(std::size_t rows) {
    visibleRows_ = std::max<std::size_t>(rows, 1);
    moveTo(highlighted_);
}

void MenuNavigator::moveTo(std::size_t index) {
    if (titles_.empty())
        return;
    highlighted_ = std::min(index, titles_.size() - 1);
    if (highlighted_ < firstVisible_)
        firstVisible_ = highlighted_;
    else if (highlighted_ >= firstVisible_ + visibleRows_)
        firstVisible_ = highlighted_ + 1 - visibleRows_;
    const std::size_t maxFirst = titles_.size() > visibleRows_ ? titles_.size() - visibleRows_ : 0;
    firstVisible_ = std::min(firstVisible_, maxFirst);
}

MenuNavigator::Result MenuNavigator::press(MenuKey key) {
    if (key == MenuKey::Cancel)
        return Result::Dismissed;
    if (titles_.empty())
        return Result::None;
    const std::size_t count = titles_.size();
    switch (key) {
    case MenuKey::Up:
        moveTo(highlighted_ == 0 ? count - 1 : highlighted_ - 1);
        break;
    case MenuKey::Down:
        moveTo(highlighted_ + 1 == count ? 0 : highlighted_ + 1);
        break;
    case MenuKey::Home:
        moveTo(0);
        break;
    case MenuKey::End:
        moveTo(count - 1);
        break;
    case MenuKey::PageUp:
        moveTo(highlighted_ > visibleRows_ ? highlighted_ - visibleRows_ : 0);
        break;
    case MenuKey::PageDown:
        moveTo(std::min(highlighted_ + visibleRows_, count - 1));
        break;
    case MenuKey::Enter:
        return Result::Picked;
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
    // highlighted item, wrapping.
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

long long MenuGeometry::rowTop(std::size_t row) const {
    return static_cast<long long>(border) + margin + arrowHeight +
           static_cast<long long>(row) * rowHeight;
}

MenuHit hitTestMenu(const MenuGeometry& geometry, const MenuNavigator& navigator, int x, int y) {
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
    const auto index =
        navigator.firstVisible() + static_cast<std::size_t>((py - top) / geometry.rowHeight);
    if (index < navigator.itemCount()) {
        hit.kind = MenuHit::Kind::Item;
        hit.item = index;
    }
    return hit;
}

} // namespace velmora
