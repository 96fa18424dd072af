// The X11 menu's font cache through the real launcher: the first start
// writes it, the next draws the very pixels of the first from the glyphs it
// remembers, without loading Xft, fontconfig or FreeType, and a cache that is garbage, cut short,
// of another version, a link, not ours, stale or lying is passed over and written anew, the menu
// drawn as before. fontconfig is pointed at fonts copied into the test's folder, so that a
// remembered font file can be touched.
#include "x11_menu_fixture.h"

#include "tests/support/font_cache_checks.h"

#include <X11/Xutil.h>

#include <functional>
#include <set>
#include <stdexcept>
#include <sys/stat.h>

namespace velmora::x11test {
namespace {

const std::vector<std::string> TITLES = {"&Web ブラウザ", "日本語入力", "漢字変換表"};
const std::u32string TITLE_CHARACTERS = U"Web ブラウザ日本語入力漢字変換表";

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<unsigned long> values;
    bool operator==(const Pixels& other) const {
        return width == other.width && height == other.height && values == other.values;
    }
};

Pixels readPixels(Display* display, Window window, const Geometry& g) {
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned int>(g.width),
                              static_cast<unsigned int>(g.height), AllPlanes, ZPixmap);
    if (image == nullptr)
        throw std::runtime_error("cannot read the menu's pixels");
    Pixels pixels{g.width, g.height, {}};
    for (int y = 0; y < g.height; ++y) {
        for (int x = 0; x < g.width; ++x)
            pixels.values.push_back(XGetPixel(image, x, y));
    }
    XDestroyImage(image);
    return pixels;
}

// Whether `pid` sleeps (in its wait for events, once it has drawn), not
// runs or waits to run.
bool sleeping(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat").value_or("");
    const std::size_t end = stat.rfind(") ");
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] == 'S';
}

// The menu is drawn a moment after its window is mapped: its pixels once
// anti-aliased text (many shades) shows and two reads agree while the
// launcher sleeps throughout, so that no half-drawn menu is taken, however
// slowly the machine lets the launcher run.
Pixels drawnPixels(Display* display, Window window, const Geometry& g, pid_t launcher) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    for (;;) {
        const bool before = sleeping(launcher);
        const Pixels first = readPixels(display, window, g);
        std::this_thread::sleep_for(20ms);
        Pixels second = readPixels(display, window, g);
        const std::set<unsigned long> shades(second.values.begin(), second.values.end());
        if ((before && first == second && shades.size() > 8 && sleeping(launcher)) ||
            std::chrono::steady_clock::now() > deadline)
            return second;
    }
}

// Whether `pid` has any of Xft, fontconfig, FreeType and libXrender mapped:
// a start drawing remembered glyphs needs none of them.
bool fontLibrariesLoaded(pid_t pid) {
    const std::string maps = readFile("/proc/" + std::to_string(pid) + "/maps").value_or("");
    return maps.find("/libXft.so") != std::string::npos ||
           maps.find("/libXrender.so") != std::string::npos ||
           maps.find("/libfontconfig.so") != std::string::npos ||
           maps.find("/libfreetype.so") != std::string::npos;
}

std::string differences(const Pixels& a, const Pixels& b) {
    if (a.width != b.width || a.height != b.height)
        return std::to_string(a.width) + "x" + std::to_string(a.height) + " against " +
               std::to_string(b.width) + "x" + std::to_string(b.height);
    std::size_t count = 0;
    std::size_t firstAt = 0;
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        if (a.values[i] != b.values[i] && count++ == 0)
            firstAt = i;
    }
    return std::to_string(count) + " pixels differ, the first at (" +
           std::to_string(firstAt % static_cast<std::size_t>(a.width)) + ", " +
           std::to_string(firstAt / static_cast<std::size_t>(a.width)) + ")";
}

class X11FontCacheTest : public X11MenuTest {
protected:
    void SetUp() override {
        const fs::path config = test::installTestFonts(folder_.path());
        ASSERT_FALSE(config.empty());
        extraEnvironment_.push_back("FONTCONFIG_FILE=" + config.string());
    }

    fs::path cacheFile() const { return cacheHome() / "velmora" / "x11-fonts"; }

    // One start of the menu, dismissed once drawn: its pixels.
    Pixels show() {
        const Window menu = launchAndWaitForMenu();
        if (menu == None)
            return {};
        const Pixels pixels =
            drawnPixels(watcher_->get(), menu, windowGeometry(display(), menu), launcher_.pid());
        fontLibrariesLoaded_ = fontLibrariesLoaded(launcher_.pid());
        xlibLoaded_ = readFile("/proc/" + std::to_string(launcher_.pid()) + "/maps")
                          .value_or("")
                          .find("/libX11.so") != std::string::npos;
        xdotool(display(), {"key", "Escape"});
        expectLauncherEnds();
        return pixels;
    }

    test::FileStamp stamp() const { return test::fileStamp(cacheFile()); }

    // The cache is a sound one that accounts for `characters`, and holds
    // their glyphs when `glyphs`.
    void expectSoundCache(const std::u32string& characters = TITLE_CHARACTERS, bool glyphs = true) {
        test::expectSoundFontCache(cacheFile(), characters);
        const auto cache = fontcache::parse(readFile(cacheFile()).value_or(""));
        ASSERT_TRUE(cache.has_value());
        EXPECT_EQ(cache->glyphs.has_value(), glyphs) << "whether the titles' glyphs are remembered";
    }

    // Whether the last start shown had Xft, fontconfig or FreeType loaded;
    // and libX11, which a start drawing remembered glyphs does without.
    bool fontLibrariesLoaded_ = false;
    bool xlibLoaded_ = false;
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

struct Tampering {
    const char* name;
    std::function<void(const fs::path& cache, const fs::path& folder)> apply;
};

const Tampering TAMPERINGS[] = {
    {"garbage", [](const fs::path& c, const fs::path&) { writeFile(c, "\x01\x02 x\n\n"); }},
    {"cut short",
     [](const fs::path& c, const fs::path&) {
         const std::string bytes = readFile(c).value_or("");
         writeFile(c, bytes.substr(0, bytes.size() / 2));
     }},
    {"another version",
     [](const fs::path& c, const fs::path&) {
         writeFile(
             c, replaced(readFile(c).value_or(""), "velmora-font-cache ", "velmora-font-cache 9"));
     }},
    {"larger than a cache is",
     [](const fs::path& c, const fs::path&) {
         writeFile(c, readFile(c).value_or("") + std::string(70000, '#'));
     }},
    {"a symbolic link to another file",
     [](const fs::path& c, const fs::path& folder) {
         fs::rename(c, folder / "elsewhere");
         fs::create_symlink(folder / "elsewhere", c);
     }},
    {"a FIFO",
     [](const fs::path& c, const fs::path&) {
         fs::remove(c);
         ASSERT_EQ(mkfifo(c.c_str(), 0600), 0);
     }},
    {"another user's",
     [](const fs::path& c, const fs::path&) {
         if (geteuid() == 0) {
             ASSERT_EQ(chown(c.c_str(), 65534, 65534), 0);
         }
     }},
    {"a remembered font file touched",
     [](const fs::path&, const fs::path& folder) {
         const fs::path font = folder / "fonts" / "DejaVuSans.ttf";
         fs::last_write_time(font, fs::last_write_time(font) + 1h);
     }},
    {"a face said to hold what its file lacks",
     [](const fs::path& c, const fs::path&) {
         const std::string bytes = readFile(c).value_or("");
         const std::size_t first = bytes.find("\ncovers");
         writeFile(c, bytes.substr(0, first) + "\ncovers 65e5" + bytes.substr(first + 7));
     }},
    {"a title character it does not know",
     [](const fs::path& c, const fs::path&) {
         writeFile(c, replaced(readFile(c).value_or(""), " 65e5", ""));
     }},
};

TEST_F(X11FontCacheTest, WarmStartsAndTamperedCachesDrawAsTheFirstStart) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher(TITLES, {0, -26, 1, 2});
    const Pixels first = show();
    ASSERT_FALSE(first.values.empty());
    expectSoundCache();
    const test::FileStamp written = stamp();
    EXPECT_TRUE(fontLibrariesLoaded_) << "the cold start drew without Xft";
    EXPECT_TRUE(show() == first) << "the warm start drew other pixels";
    EXPECT_TRUE(stamp() == written) << "the warm start did not use the cache";
    EXPECT_FALSE(fontLibrariesLoaded_) << "the warm start loaded the font libraries";
    EXPECT_FALSE(xlibLoaded_) << "the warm start loaded Xlib";

    for (const Tampering& tampering : TAMPERINGS) {
        SCOPED_TRACE(tampering.name);
        const std::string before = readFile(cacheFile()).value_or("");
        tampering.apply(cacheFile(), folder_.path());
        const Pixels shown = show();
        EXPECT_TRUE(shown == first)
            << "a tampered cache changed the pixels: " << differences(shown, first);
        EXPECT_TRUE(fontLibrariesLoaded_) << "a tampered cache was drawn from";
        expectSoundCache();
        const test::FileStamp rewritten = stamp();
        EXPECT_TRUE(show() == first);
        EXPECT_TRUE(stamp() == rewritten) << "the rewritten cache was not used";
        EXPECT_FALSE(fontLibrariesLoaded_) << "the rewritten cache's glyphs were not drawn";
        EXPECT_FALSE(xlibLoaded_) << "the rewritten cache's start loaded Xlib";
    }
    EXPECT_EQ(readFile(folder_.path() / "elsewhere").value_or("").substr(0, 19),
              "velmora-font-cache ")
        << "the link's target was written through";
}

// Titles of more characters than their glyphs fit in a cache: the faces are
// remembered without them, and the warm start opens the faces, as the cache
// did before it held glyphs, drawing the same pixels.
TEST_F(X11FontCacheTest, GlyphsTooManyForTheCacheLeaveTheFacesRemembered) {
    std::vector<std::string> titles;
    std::u32string characters;
    for (char32_t c = U'\u4E00'; c < U'\u4E00' + 12 * 24; ++c)
        characters += c;
    for (std::size_t at = 0; at < characters.size(); at += 24) {
        std::string title;
        for (const char32_t c : characters.substr(at, 24))
            title += std::string{static_cast<char>(0xE0 | (c >> 12)),
                                 static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                                 static_cast<char>(0x80 | (c & 0x3F))};
        titles.push_back(title);
    }
    startScreen(1024, 768);
    ASSERT_FALSE(HasFatalFailure());
    installLauncher(titles, {0, 0, 1, 1});
    const Pixels first = show();
    ASSERT_FALSE(first.values.empty());
    expectSoundCache(characters, false);
    const test::FileStamp written = stamp();
    EXPECT_TRUE(show() == first) << "the warm start drew other pixels";
    EXPECT_TRUE(stamp() == written) << "the warm start did not use the cache";
    EXPECT_TRUE(fontLibrariesLoaded_) << "the warm start drew glyphs the cache could not hold";
}

} // namespace
} // namespace velmora::x11test
