// The Wayland menu's font cache through the real launcher on headless sway:
// the first start draws with fcft and writes the cache once its menu is
// shown; the next draws from the remembered faces with FreeType alone, the
// very pixels of the first; a cache that is garbage or a link, or whose
// remembered font file was touched, is passed over and written anew, the
// menu drawn as before. fontconfig is pointed at fonts copied into the
// test's folder, so that a remembered font file can be touched.
#include "wayland_menu_fixture.h"

#include "display/fontcache/font_cache_format.h"

#include <sys/stat.h>

namespace velmora::wltest {
namespace {

const std::vector<std::string> TITLES = {"&Web ブラウザ", "日本語入力", "漢字変換表\tCtrl+K"};
const std::u32string TITLE_CHARACTERS = U"Web ブラウザ日本語入力漢字変換表Ctrl+K";
const char* const FONTS[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                             "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"};

struct Stamp {
    ino_t inode = 0;
    timespec modified{};
    bool operator==(const Stamp& o) const {
        return inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec;
    }
};

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

class WaylandFontCache : public WaylandMenuTest, public ::testing::WithParamInterface<Tampering> {
protected:
    void SetUp() override {
        WaylandMenuTest::SetUp();
        const fs::path fonts = folder() / "fonts";
        fs::create_directories(fonts);
        for (const char* font : FONTS) {
            ASSERT_TRUE(fs::exists(font)) << font << " is missing (fonts-dejavu-core, "
                                          << "fonts-ipafont-gothic)";
            fs::copy_file(font, fonts / fs::path(font).filename());
        }
        const fs::path config = folder() / "fontconfig" / "fonts.conf";
        fs::create_directories(config.parent_path());
        writeFile(config, "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM "
                          "\"urn:fontconfig:fonts.dtd\">\n<fontconfig>\n"
                          "<include ignore_missing=\"yes\">/etc/fonts/conf.d</include>\n<dir>" +
                              fonts.string() + "</dir>\n<cachedir>" +
                              (folder() / "fontconfig-cache").string() +
                              "</cachedir>\n</fontconfig>\n");
        for (const fs::path& path : {fonts, config.parent_path(), cacheHome()}) {
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
        std::vector<std::uint32_t> pixels;
        for (int y = menu.top * scale_; y < (menu.top + menu.height) * scale_; ++y) {
            for (int x = menu.left * scale_; x < (menu.left + menu.width) * scale_; ++x)
                pixels.push_back(shot_.at(x, y));
        }
        compositor_->type({"-k", "Escape"});
        expectLauncherEnds();
        return pixels;
    }

    Stamp stamp() const {
        struct stat status {};
        EXPECT_EQ(lstat(cacheFile().c_str(), &status), 0);
        return Stamp{status.st_ino, status.st_mtim};
    }

    // The cache is a whole one of ours that accounts for the titles.
    void expectSoundCache() {
        struct stat status {};
        ASSERT_EQ(lstat(cacheFile().c_str(), &status), 0);
        EXPECT_TRUE(S_ISREG(status.st_mode));
        EXPECT_EQ(status.st_mode & 07777, 0600u);
        const auto cache = fontcache::parse(test::readText(cacheFile()));
        ASSERT_TRUE(cache.has_value());
        EXPECT_TRUE(fontcache::accountsFor(*cache, TITLE_CHARACTERS));
        EXPECT_GE(cache->faces.size(), 2u) << "the Japanese titles need a second face";
    }

    std::vector<std::string> environment_;
};

TEST_P(WaylandFontCache, DrawsTheColdStartsPixels) {
    const Tampering& tampering = GetParam();
    startSway(tampering.scale);
    ASSERT_FALSE(HasFatalFailure());
    installLauncher(TITLES, {0, -26, 1, 2});
    const std::vector<std::uint32_t> cold = show();
    ASSERT_GT(std::set<std::uint32_t>(cold.begin(), cold.end()).size(), 8u)
        << "no anti-aliased text was drawn";
    expectSoundCache();
    if (tampering.apply)
        tampering.apply(cacheFile(), folder());
    const Stamp before = stamp();
    const std::vector<std::uint32_t> again = show();
    EXPECT_TRUE(again == cold) << "the second start drew other pixels";
    if (tampering.apply == nullptr) {
        EXPECT_TRUE(stamp() == before) << "the warm start did not trust the cache it wrote";
    } else {
        expectSoundCache();
        EXPECT_FALSE(stamp() == before) << "the cache was not written anew";
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

} // namespace
} // namespace velmora::wltest
