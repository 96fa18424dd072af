// What the font-cache tests of both drawn menus share: fonts copied into the
// test's folder for fontconfig to find there, so that a remembered font file
// can be touched, and the checks on the cache file the launcher writes.
#pragma once

#include "display/fontcache/font_cache_format.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace velmora::test {

// Copies a Latin and a Japanese font into `folder`/fonts and writes a
// fontconfig configuration that finds them, in a folder of its own as
// /etc/fonts is: a file appearing beside a configuration file counts as a
// change of fonts. Returns the configuration file, for FONTCONFIG_FILE.
inline std::filesystem::path installTestFonts(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    static const char* const fonts[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                        "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"};
    const fs::path copies = folder / "fonts";
    fs::create_directories(copies);
    for (const char* font : fonts) {
        if (!fs::exists(font)) {
            ADD_FAILURE() << font << " is missing (fonts-dejavu-core, fonts-ipafont-gothic)";
            return {};
        }
        fs::copy_file(font, copies / fs::path(font).filename());
    }
    const fs::path config = folder / "fontconfig" / "fonts.conf";
    fs::create_directories(config.parent_path());
    writeFile(config, "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM "
                      "\"urn:fontconfig:fonts.dtd\">\n<fontconfig>\n"
                      "<include ignore_missing=\"yes\">/etc/fonts/conf.d</include>\n<dir>" +
                          copies.string() + "</dir>\n<cachedir>" +
                          (folder / "fontconfig-cache").string() + "</cachedir>\n</fontconfig>\n");
    return config;
}

// A file's identity and time of change: equal stamps mean it was not written
// anew.
struct FileStamp {
    ino_t inode = 0;
    timespec modified{};
    bool operator==(const FileStamp& o) const {
        return inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec;
    }
};

inline FileStamp fileStamp(const std::filesystem::path& file) {
    struct stat status {};
    EXPECT_EQ(lstat(file.c_str(), &status), 0) << file;
    return FileStamp{status.st_ino, status.st_mtim};
}

// The cache is a whole one of ours: a regular file of the user the launcher
// ran as (the owner of the cache home), private to it, that accounts for the
// titles' characters with more than one face (the Japanese titles need a
// second).
inline void expectSoundFontCache(const std::filesystem::path& file,
                                 const std::u32string& titleCharacters) {
    struct stat home {};
    ASSERT_EQ(lstat(file.parent_path().parent_path().c_str(), &home), 0);
    struct stat status {};
    ASSERT_EQ(lstat(file.parent_path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    ASSERT_EQ(lstat(file.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_uid, home.st_uid);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    const auto cache = fontcache::parse(readFile(file).value_or(""));
    ASSERT_TRUE(cache.has_value());
    EXPECT_TRUE(fontcache::accountsFor(*cache, titleCharacters));
    EXPECT_GE(cache->faces.size(), 2u) << "the Japanese titles need a second face";
}

} // namespace velmora::test
