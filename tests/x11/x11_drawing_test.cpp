// What the X11 menu draws, read back from its window: glyphs of every
// script, the title conventions, rows cut to a narrowed menu, the sizes.
#include "x11_menu_fixture.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::x11test {
namespace {

// The ink of a window: pixels that differ clearly from its background (the
// colour most of it has).
class InkMap {
public:
    InkMap(Display* display, Window window, const Geometry& g)
        : width_(g.width), height_(g.height) {
        XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned int>(g.width),
                                  static_cast<unsigned int>(g.height), AllPlanes, ZPixmap);
        if (image == nullptr)
            throw std::runtime_error("cannot read the menu's pixels");
        std::vector<unsigned long> pixels;
        std::map<unsigned long, int> counts;
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                pixels.push_back(XGetPixel(image, x, y));
                ++counts[pixels.back()];
            }
        }
        XDestroyImage(image);
        const unsigned long background =
            std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                return a.second < b.second;
            })->first;
        auto channel = [](unsigned long p, int shift) {
            return static_cast<int>((p >> shift) & 0xFF);
        };
        for (unsigned long p : pixels) {
            int distance = 0;
            for (int shift : {0, 8, 16})
                distance += std::abs(channel(p, shift) - channel(background, shift));
            ink_.push_back(distance > 120);
        }
    }

    bool at(int x, int y) const { return ink_[static_cast<std::size_t>(y * width_ + x)]; }

    // The runs of pixel rows inside the frame that hold ink: one per item.
    std::vector<std::pair<int, int>> bands() const {
        std::vector<std::pair<int, int>> out;
        int start = -1;
        for (int y = 1; y < height_ - 1; ++y) {
            bool any = false;
            for (int x = 1; x < width_ - 1 && !any; ++x)
                any = at(x, y);
            if (any && start < 0)
                start = y;
            if (!any && start >= 0) {
                out.emplace_back(start, y);
                start = -1;
            }
        }
        if (start >= 0)
            out.emplace_back(start, height_ - 1);
        return out;
    }

    // The columns of one band as text ('#' ink, '.' none), blank columns left out.
    std::vector<std::string> columns(const std::pair<int, int>& band) const {
        std::vector<std::string> out;
        for (int x = 1; x < width_ - 1; ++x) {
            std::string column;
            for (int y = band.first; y < band.second; ++y)
                column += at(x, y) ? '#' : '.';
            if (column.find('#') != std::string::npos)
                out.push_back(column);
        }
        return out;
    }

    int width() const { return width_; }

    // The rightmost column of `band` that holds ink, or -1.
    int rightEdge(const std::pair<int, int>& band) const {
        for (int x = width_ - 2; x > 0; --x) {
            for (int y = band.first; y < band.second; ++y) {
                if (at(x, y))
                    return x;
            }
        }
        return -1;
    }

private:
    int width_;
    int height_;
    std::vector<bool> ink_;
};

std::size_t distinct(const std::vector<std::string>& columns) {
    return std::set<std::string>(columns.begin(), columns.end()).size();
}

// The menu's ink once it shows `bands` items: the window is drawn a moment
// after it is mapped.
InkMap drawnMenu(Display* display, Window menu, const Geometry& g, std::size_t bands) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    for (;;) {
        InkMap ink(display, menu, g);
        if (ink.bands().size() == bands || std::chrono::steady_clock::now() > deadline)
            return ink;
        std::this_thread::sleep_for(20ms);
    }
}

fs::path artifact(const char* name) {
    return fs::path(VELMORA_X11_ARTIFACTS) / name;
}

TEST_F(X11MenuTest, JapaneseTitlesDrawTheirGlyphs) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    // Two titles of as many different characters: drawn as glyphs they
    // differ; drawn as the empty boxes of a missing font they would match.
    installLauncher({"Web ブラウザ", "日本語入力", "漢字変換表"}, {0, -26, 1, 2});
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
    const InkMap ink = drawnMenu(watcher_->get(), menu, g, 3);
    saveScreenshot(display(), artifact("menu-japanese.png"));
    const auto bands = ink.bands();
    ASSERT_EQ(bands.size(), 3u) << "one band of ink per item";
    const auto first = ink.columns(bands[1]);
    const auto second = ink.columns(bands[2]);
    EXPECT_NE(first, second) << "different Japanese titles drew the same shapes";
    // A glyph of a kanji or kana has many different columns; a box has three.
    EXPECT_GE(distinct(first), 20u);
    EXPECT_GE(distinct(second), 20u);
    EXPECT_EQ(g.top + g.height, 294);
    xdotool(display(), {"key", "Escape"});
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
}
TEST_F(X11MenuTest, TitlesFollowTheWindowsMenuConventions) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"Plain", "&Open\tCtrl+O", "Open\tCtrl+O", "Open\tF12"}, {10, 10, 0, 0});
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
    const InkMap ink = drawnMenu(watcher_->get(), menu, g, 4);
    const auto bands = ink.bands();
    ASSERT_EQ(bands.size(), 4u);
    // "&Open" and "Open" differ by the mnemonic's underline alone: a line of
    // one pixel row under the left part. (Items are rows of equal height, so
    // the same offset from each band's top is the same place in each row.)
    std::set<int> rowsThatDiffer;
    int rightmostDifference = -1;
    const int height = std::max(bands[1].second - bands[1].first, bands[2].second - bands[2].first);
    for (int dy = 0; dy < height; ++dy) {
        for (int x = 1; x < g.width - 1; ++x) {
            const int y1 = bands[1].first + dy;
            const int y2 = bands[2].first + dy;
            const bool a = y1 < g.height && ink.at(x, y1);
            const bool b = y2 < g.height && ink.at(x, y2);
            if (a != b) {
                rowsThatDiffer.insert(dy);
                rightmostDifference = std::max(rightmostDifference, x);
            }
        }
    }
    EXPECT_GE(rowsThatDiffer.size(), 1u) << "no underline under the mnemonic";
    EXPECT_LE(rowsThatDiffer.size(), 2u) << "the titles differ by more than an underline";
    EXPECT_LT(rightmostDifference, g.width / 2) << "the underline is not under the first letter";
    // The parts after the tab end at the same right edge, near the frame.
    const int edge1 = ink.rightEdge(bands[2]);
    const int edge2 = ink.rightEdge(bands[3]);
    EXPECT_LE(std::abs(edge1 - edge2), 2) << "the right parts are not right-aligned";
    EXPECT_GT(edge2, g.width * 3 / 4);
    saveScreenshot(display(), artifact("menu-conventions.png"));
    xdotool(display(), {"key", "Escape"});
    expectLauncherEnds();
}

// A menu narrowed to a small screen: the title is cut short (with an
// ellipsis) a gap before the part after the tab, which stays where a row of
// that part alone puts it; the two never overlap.
TEST_F(X11MenuTest, NarrowedMenuKeepsTheTabPartClearOfTheTitle) {
    startScreen(160, 240);
    ASSERT_FALSE(HasFatalFailure());
    // The first row is left out of the comparison.
    installLauncher({"Plain", "Supercalifragilistic editor of texts\tCtrl+E", "\tCtrl+E",
                     "Supercalifragilistic editor of texts"},
                    {0, 0, 0, 0});
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
    EXPECT_EQ(g.width, 160) << "the menu is not narrowed to the screen";
    const InkMap ink = drawnMenu(watcher_->get(), menu, g, 4);
    auto bands = ink.bands();
    ASSERT_EQ(bands.size(), 4u);
    bands.erase(bands.begin());
    const auto inkAt = [&ink](const std::pair<int, int>& band, int x) {
        for (int y = band.first; y < band.second; ++y) {
            if (ink.at(x, y))
                return true;
        }
        return false;
    };
    int tabPartStart = -1;
    for (int x = 1; x < g.width - 1 && tabPartStart < 0; ++x) {
        if (inkAt(bands[1], x))
            tabPartStart = x;
    }
    ASSERT_GT(tabPartStart, g.width / 3) << "the tab part is not at the right";
    int columnsApart = 0;
    for (int x = 1; x < g.width - 1; ++x) {
        if (x >= tabPartStart) {
            EXPECT_EQ(inkAt(bands[0], x), inkAt(bands[1], x))
                << "column " << x << ": the title reaches into the tab part";
        } else if (x >= tabPartStart - 6) {
            EXPECT_FALSE(inkAt(bands[0], x)) << "column " << x << ": no gap before the tab part";
        } else if (inkAt(bands[0], x)) {
            ++columnsApart;
        }
    }
    EXPECT_GT(columnsApart, 20) << "the title is not drawn";
    // A title alone is cut at the row's right edge.
    EXPECT_LT(ink.rightEdge(bands[2]), g.width - 2);
    saveScreenshot(display(), artifact("menu-narrowed.png"));
    xdotool(display(), {"key", "Escape"});
    expectLauncherEnds();
}

TEST_F(X11MenuTest, EmptyMenuIsShownAndDismissed) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    // Numbered sections that do not start at 1 give no items; the menu is
    // still tracked, and Enter has nothing to pick.
    copyLauncher();
    writeFile(folder_.path() / "velmini",
              "[2]\ntitle=Two\nexec=" + writeRecorder("item2").string() + "\n");
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
    EXPECT_EQ(g.left, 0);
    EXPECT_EQ(g.top, 0);
    EXPECT_TRUE(InkMap(watcher_->get(), menu, g).bands().empty());
    xdotool(display(), {"key", "Return", "Escape"});
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
}

TEST_F(X11MenuTest, FirstRunShowsTheDefaultMenuAtTheTopLeft) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    copyLauncher();
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
    EXPECT_EQ(drawnMenu(watcher_->get(), menu, g, 3).bands().size(), 3u) << "three browsers";
    saveScreenshot(display(), artifact("menu-default.png"));
    EXPECT_EQ(g.left, 0);
    EXPECT_EQ(g.top, 0);
    EXPECT_TRUE(fs::exists(folder_.path() / "velmini"));
    xdotool(display(), {"key", "Escape"});
    expectLauncherEnds();
}

TEST_F(X11MenuTest, SizesFollowTheXftDpiResource) {
    startScreen(1024, 768);
    ASSERT_FALSE(HasFatalFailure());
    const std::vector<std::string> titles{"&Alpha", "&Bravo", "&Charlie"};
    const Geometry normal = showAndMeasure(titles, {0, 0, 0, 0});
    watcher_->setResources("Xft.dpi:\t192\n");
    const Geometry doubled = showAndMeasure(titles, {0, 0, 0, 0});
    ASSERT_GT(normal.height, 0);
    ASSERT_GT(normal.width, 0);
    // Text and spacing both scale; rounding keeps it near, not at, twice.
    EXPECT_GE(doubled.height * 10, normal.height * 18);
    EXPECT_LE(doubled.height * 10, normal.height * 22);
    EXPECT_GE(doubled.width * 10, normal.width * 18);
    EXPECT_LE(doubled.width * 10, normal.width * 22);
}

} // namespace
} // namespace velmora::x11test
