// The Wayland menu's font cache through the real launcher on headless sway:
// the first start draws with fcft and writes the cache once its menu is
// shown; the next draws the glyphs it remembers with pixman alone, without
// fcft, fontconfig or FreeType mapped, the very pixels of the first; a cache
// that is garbage or a link, or whose remembered font file was touched, is
// passed over and written anew, the menu drawn as before, and the start
// after that draws from the new cache. fontconfig is pointed at fonts copied into the
// test's folder, so that a remembered font file can be touched.
#include "wayland_menu_fixture.h"

#include "tests/support/font_cache_checks.h"

#include <sys/stat.h>

namespace velmora::wltest {
namespace {

// Whether `pid` has any of fcft, fontconfig and FreeType mapped.
bool fontLibrariesLoaded(pid_t pid) {
    const std::string maps = test::readFile("/proc/" + std::to_string(pid) + "/maps").value_or("");
    return maps.find("/libfcft.so") != std::string::npos ||
           maps.find("/libfontconfig.so") != std::string::npos ||
           maps.find("/libfreetype.so") != std::string::npos;
}

const std::vector<std::string> TITLES = {"&Web ブラウザ", "日本語入力", "漢字変換表\tCtrl+K"};
const std::u32string TITLE_CHARACTERS = U"Web ブラウザ日本語入力漢字変換表Ctrl+K";

struct Tampering {
    const char* name;
    std::function<void(const fs::path& cache, const fs::path& folder)> apply;
    int scale = 1;
};

const Tampering TAMPERINGS[] = {
    {"none", nullptr},
    {"none at scale 2", nullptr, 2},
    {"garbage", [](const fs::path& c, const fs::path&) { writeFile(c, "\x01\x02 x\n\n"); }},
    {"a symbolic link to another file",
     [](const fs::path& c, const fs::path& folder) {
         fs::rename(c, folder / "elsewhere");
         fs::create_symlink(folder / "elsewhere", c);
     }},
    {"a remembered font file touched",
     [](const fs::path&, const fs::path& folder) {
         const fs::path font = folder / "fonts" / "ipag.ttf";
         ASSERT_EQ(utimensat(AT_FDCWD, font.c_str(), nullptr, 0), 0);
     }},
};

class WaylandFontCacheTest : public WaylandMenuTest {
protected:
    void SetUp() override {
        WaylandMenuTest::SetUp();
        const fs::path config = test::installTestFonts(folder());
        ASSERT_FALSE(config.empty());
        for (const fs::path& path : {folder() / "fonts", config.parent_path(), cacheHome()}) {
            fs::create_directories(path);
            giveToUser(path);
        }
        environment_.push_back("FONTCONFIG_FILE=" + config.string());
        environment_.push_back("XDG_CACHE_HOME=" + cacheHome().string());
    }

    fs::path cacheHome() const { return folder() / "cache"; }
    fs::path cacheFile() const { return cacheHome() / "velmora" / "wayland-fonts"; }

    // One start of the menu, dismissed once drawn: its pixels. A frame is
    // shown whole, so the screenshot that found the menu holds all of it.
    std::vector<std::uint32_t> show() {
        auto environment = compositor_->clientEnvironment();
        environment.insert(environment.end(), environment_.begin(), environment_.end());
        launch(environment);
        const Rect menu = waitForMenu();
        fontLibrariesLoaded_ = fontLibrariesLoaded(launcher_.pid());
        std::vector<std::uint32_t> pixels;
        for (int y = menu.top * scale_; y < (menu.top + menu.height) * scale_; ++y) {
            for (int x = menu.left * scale_; x < (menu.left + menu.width) * scale_; ++x)
                pixels.push_back(shot_.at(x, y));
        }
        compositor_->type({"-k", "Escape"});
        expectLauncherEnds();
        return pixels;
    }

    test::FileStamp stamp() const { return test::fileStamp(cacheFile()); }
    // A sound cache that accounts for `characters`, and holds their glyphs
    // when `glyphs`.
    void expectSoundCache(const std::u32string& characters = TITLE_CHARACTERS, bool glyphs = true) {
        test::expectSoundFontCache(cacheFile(), characters);
        const auto cache = fontcache::parse(test::readFile(cacheFile()).value_or(""));
        ASSERT_TRUE(cache.has_value());
        EXPECT_EQ(cache->glyphs.has_value(), glyphs) << "whether the titles' glyphs are remembered";
    }

    std::vector<std::string> environment_;
    // Whether the last start shown had fcft, fontconfig or FreeType mapped.
    bool fontLibrariesLoaded_ = false;
};

class WaylandFontCache : public WaylandFontCacheTest,
                         public ::testing::WithParamInterface<Tampering> {};

TEST_P(WaylandFontCache, DrawsTheColdStartsPixels) {
    const Tampering& tampering = GetParam();
    startSway(tampering.scale);
    ASSERT_FALSE(HasFatalFailure());
    installLauncher(TITLES, {0, -26, 1, 2});
    const std::vector<std::uint32_t> cold = show();
    ASSERT_GT(std::set<std::uint32_t>(cold.begin(), cold.end()).size(), 8u)
        << "no anti-aliased text was drawn";
    expectSoundCache();
    EXPECT_TRUE(fontLibrariesLoaded_) << "the cold start drew without fcft";
    if (tampering.apply)
        tampering.apply(cacheFile(), folder());
    const test::FileStamp before = stamp();
    const std::vector<std::uint32_t> again = show();
    EXPECT_TRUE(again == cold) << "the second start drew other pixels";
    if (tampering.apply == nullptr) {
        EXPECT_TRUE(stamp() == before) << "the warm start did not trust the cache it wrote";
        EXPECT_FALSE(fontLibrariesLoaded_) << "the warm start loaded the font libraries";
    } else {
        EXPECT_TRUE(fontLibrariesLoaded_) << "a tampered cache was drawn from";
        expectSoundCache();
        const test::FileStamp rewritten = stamp();
        EXPECT_FALSE(rewritten == before) << "the cache was not written anew";
        EXPECT_TRUE(show() == cold) << "the rewritten cache drew other pixels";
        EXPECT_TRUE(stamp() == rewritten) << "the rewritten cache was not used";
        EXPECT_FALSE(fontLibrariesLoaded_) << "the rewritten cache's glyphs were not drawn";
    }
    EXPECT_EQ(launcherErrors(), "");
}

INSTANTIATE_TEST_SUITE_P(Tamperings, WaylandFontCache, ::testing::ValuesIn(TAMPERINGS),
                         [](const auto& test) {
                             std::string name;
                             for (const char* c = test.param.name; *c != '\0'; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

// The pixel size follows the output's scale: a cache written at one scale
// holds glyphs of another size once the scale has changed, and is written
// anew.
TEST_F(WaylandFontCacheTest, ACacheOfAnotherScaleIsWrittenAnew) {
    startSway(1);
    ASSERT_FALSE(HasFatalFailure());
    installLauncher(TITLES, {0, -26, 1, 2});
    show();
    const test::FileStamp atOne = stamp();
    compositor_->rescale(SCREEN_WIDTH, SCREEN_HEIGHT, 2);
    scale_ = 2;
    const std::vector<std::uint32_t> atTwo = show();
    EXPECT_TRUE(fontLibrariesLoaded_) << "the cache written at scale 1 was drawn from at 2";
    EXPECT_FALSE(stamp() == atOne) << "the cache was not written anew";
    fs::remove(cacheFile());
    EXPECT_TRUE(show() == atTwo) << "a cold start at scale 2 drew other pixels";
    EXPECT_EQ(launcherErrors(), "");
}

// Titles of more characters than their glyphs fit in a cache: the faces are
// remembered without them, and the warm start opens the faces with FreeType,
// drawing the same pixels.
TEST_F(WaylandFontCacheTest, GlyphsTooManyForTheCacheLeaveTheFacesRemembered) {
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
    startSway(1);
    ASSERT_FALSE(HasFatalFailure());
    installLauncher(titles, {0, 0, 1, 1});
    const std::vector<std::uint32_t> cold = show();
    expectSoundCache(characters, false);
    const test::FileStamp written = stamp();
    EXPECT_TRUE(show() == cold) << "the warm start drew other pixels";
    EXPECT_TRUE(stamp() == written) << "the warm start did not use the cache";
    EXPECT_TRUE(fontLibrariesLoaded_) << "the warm start drew glyphs the cache could not hold";
    EXPECT_EQ(launcherErrors(), "");
}

} // namespace
} // namespace velmora::wltest
