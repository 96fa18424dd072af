// Acts as the user on a running desktop, one command a line on standard
// input, each answered on standard output by "ok" or "error: WHY":
//   key NAME          press and release the key whose keysym is NAME
//   down NAME / up NAME
//   text TEXT         type TEXT (UTF-8), a key a character
//   move X Y          the pointer to (X, Y), logical pixels
//   click N           press and release button N (1 left, 2 middle, 3 right)
//   screenshot FILE   the screen as a binary PPM in device pixels
//   overview shown|hidden
//                     wait until GNOME Shell's overview is so (GNOME only)
// It prints "ready" once the desktop's interfaces answer, or "error: WHY"
// and ends when they did not within the time given.
//
//   velmora_desktop_driver kwin|gnome WIDTH HEIGHT
#include "driver.h"

#include <linux/input-event-codes.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

namespace {

using velmora::desktops::Desktop;
using Clock = std::chrono::steady_clock;

// Interfaces appear one after another while a desktop starts: tried again
// until all are there, for up to this long.
constexpr auto CONNECT_LIMIT = std::chrono::seconds(30);

std::unique_ptr<Desktop> connect(const std::string& kind, int width, int height) {
    const auto deadline = Clock::now() + CONNECT_LIMIT;
    for (;;) {
        try {
            if (kind == "kwin")
                return velmora::desktops::connectKWin();
            if (kind == "gnome")
                return velmora::desktops::connectGnome(width, height);
            throw std::invalid_argument("unknown desktop " + kind);
        } catch (const std::runtime_error&) {
            if (Clock::now() > deadline)
                throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
}

xkb_keysym_t keysym(const std::string& name) {
    const xkb_keysym_t sym = xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_NO_FLAGS);
    if (sym == XKB_KEY_NoSymbol)
        throw std::runtime_error("no keysym is named " + name);
    return sym;
}

// The code points of UTF-8 `text`.
std::vector<std::uint32_t> codePoints(const std::string& text) {
    std::vector<std::uint32_t> points;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::uint32_t point = length == 1 ? lead : lead & (0x7Fu >> length);
        for (int k = 1; k < length && i + k < text.size(); ++k)
            point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        points.push_back(point);
        i += static_cast<std::size_t>(length);
    }
    return points;
}

void writePpm(const velmora::desktops::Pixels& image, const std::string& file) {
    std::ofstream out(file, std::ios::binary);
    out << "P6\n" << image.width << ' ' << image.height << "\n255\n";
    for (const std::uint32_t p : image.rgb) {
        const char bytes[3] = {static_cast<char>(p >> 16), static_cast<char>(p >> 8),
                               static_cast<char>(p)};
        out.write(bytes, 3);
    }
    if (!out)
        throw std::runtime_error("cannot write " + file);
}

void tap(Desktop& desktop, xkb_keysym_t sym) {
    desktop.key(sym, true);
    desktop.key(sym, false);
}

void perform(Desktop& desktop, const std::string& line) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    std::string rest;
    std::getline(in >> std::ws, rest);
    if (command == "key") {
        tap(desktop, keysym(rest));
    } else if (command == "down" || command == "up") {
        desktop.key(keysym(rest), command == "down");
    } else if (command == "text") {
        for (const std::uint32_t point : codePoints(rest))
            tap(desktop, xkb_utf32_to_keysym(point));
    } else if (command == "move") {
        double x = 0;
        double y = 0;
        if (!(std::istringstream(rest) >> x >> y))
            throw std::runtime_error("move takes X Y");
        desktop.move(x, y);
    } else if (command == "click") {
        static const std::uint32_t codes[] = {BTN_LEFT, BTN_MIDDLE, BTN_RIGHT};
        const int n = std::atoi(rest.c_str());
        if (n < 1 || n > 3)
            throw std::runtime_error("click takes 1, 2 or 3");
        desktop.button(codes[n - 1], true);
        desktop.button(codes[n - 1], false);
    } else if (command == "overview" && (rest == "shown" || rest == "hidden")) {
        desktop.awaitOverview(rest == "shown");
    } else if (command == "screenshot") {
        writePpm(desktop.screenshot(), rest);
    } else {
        throw std::runtime_error("unknown command " + command);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: velmora_desktop_driver kwin|gnome WIDTH HEIGHT\n");
        return 2;
    }
    std::unique_ptr<Desktop> desktop;
    try {
        desktop = connect(argv[1], std::atoi(argv[2]), std::atoi(argv[3]));
    } catch (const std::exception& error) {
        std::cout << "error: " << error.what() << std::endl;
        return 1;
    }
    std::cout << "ready" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
        try {
            perform(*desktop, line);
            std::cout << "ok" << std::endl;
        } catch (const std::exception& error) {
            std::cout << "error: " << error.what() << std::endl;
        }
    }
    return 0;
}
