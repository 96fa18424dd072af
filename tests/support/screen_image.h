// A screenshot as the display suites read it back: 0xRRGGBB pixels, row by
// row, and the rectangles found in it; and waiting for what a display does.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace velmora::test {

// A rectangle of the screen, in its pixels.
struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
};

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }

    // How many pixels have `color`.
    std::size_t count(std::uint32_t color) const {
        return static_cast<std::size_t>(std::count(pixels.begin(), pixels.end(), color));
    }

    // The smallest rectangle holding every horizontal run of at least
    // `shortest` pixels of `color` (a longer run passes over a few pixels of
    // that colour in the pointer's image); empty when there is none.
    Rect bounds(std::uint32_t color, int shortest = 1) const {
        int left = width, top = height, right = -1, bottom = -1;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width;) {
                int end = x;
                while (end < width && at(end, y) == color)
                    ++end;
                if (end > x && end - x >= shortest) {
                    left = std::min(left, x);
                    right = std::max(right, end - 1);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
                x = std::max(end, x + 1);
            }
        }
        if (right < 0)
            return {};
        return {left, top, right - left + 1, bottom - top + 1};
    }

    // Writes a PPM file (for the test's artifacts).
    void save(const std::filesystem::path& file) const {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out << "P6\n" << width << ' ' << height << "\n255\n";
        for (const std::uint32_t p : pixels) {
            const char rgb[3] = {static_cast<char>(p >> 16), static_cast<char>(p >> 8),
                                 static_cast<char>(p)};
            out.write(rgb, 3);
        }
    }
};

// A binary PPM (P6, maxval 255), as grim and the desktops' driver write it;
// throws when `data` is none or is cut short.
inline Image parsePpm(const std::string& data) {
    std::istringstream in(data);
    std::string magic;
    int width = 0;
    int height = 0;
    int maxval = 0;
    in >> magic >> width >> height >> maxval;
    in.get();
    if (magic != "P6" || width <= 0 || height <= 0 || maxval != 255)
        throw std::runtime_error("not a PPM image");
    const auto offset = static_cast<std::size_t>(in.tellg());
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (data.size() < offset + count * 3)
        throw std::runtime_error("the PPM image is cut short");
    Image image;
    image.width = width;
    image.height = height;
    image.pixels.resize(count);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data() + offset);
    for (std::size_t i = 0; i < count; ++i)
        image.pixels[i] = (std::uint32_t{bytes[3 * i]} << 16) |
                          (std::uint32_t{bytes[3 * i + 1]} << 8) | bytes[3 * i + 2];
    return image;
}

// Waits up to `limit` for `done`, looking every 20 ms.
template <typename Done> bool waitFor(Done done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace velmora::test
