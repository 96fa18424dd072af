#include "menu/menu_title.h"

#include "text/text_codec.h"

#include <algorithm>

namespace velmora {

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
                        const MeasureText& measure) {
    long long widest = 0;
    for (const MenuRowText& row : rows) {
        const long long right = measure(row.right);
        const long long left = measure(row.left);
        widest = std::max(widest, right > 0 ? left + gap + right : left);
    }
    return widest;
}

std::u32string elideText(std::u32string_view text, long long room, const MeasureText& measure) {
    if (measure(text) <= room)
        return std::u32string(text);
    const std::u32string ellipsis(1, MENU_ELLIPSIS);
    const long long ellipsisWidth = measure(ellipsis);
    if (ellipsisWidth > room)
        return {};
    // The longest start that fits beside the ellipsis; a start is never
    // wider than a longer one, so it is found by halving.
    std::size_t low = 0;
    std::size_t high = text.size();
    while (low < high) {
        const std::size_t mid = low + (high - low + 1) / 2;
        if (measure(text.substr(0, mid)) + ellipsisWidth <= room)
            low = mid;
        else
            high = mid - 1;
    }
    return std::u32string(text.substr(0, low)) + ellipsis;
}

MenuRowText fitMenuRow(const MenuRowText& row, long long room, long long gap,
                       const MeasureText& measure) {
    room = std::max(room, 0LL);
    const long long leftWidth = measure(row.left);
    const long long rightWidth = measure(row.right);
    if (leftWidth + (rightWidth > 0 ? gap + rightWidth : 0) <= room)
        return row;
    MenuRowText fitted;
    if (rightWidth > 0)
        fitted.right = elideText(row.right, std::min(rightWidth, room / 2), measure);
    const long long rightRoom = fitted.right.empty() ? 0 : measure(fitted.right) + gap;
    fitted.left = elideText(row.left, room - rightRoom, measure);
    const bool cut = fitted.left != row.left;
    const std::size_t letters = cut && !fitted.left.empty() ? fitted.left.size() - 1 : 0;
    const std::size_t kept = cut ? letters : row.left.size();
    if (row.mnemonic < kept)
        fitted.mnemonic = row.mnemonic;
    return fitted;
}

} // namespace velmora
