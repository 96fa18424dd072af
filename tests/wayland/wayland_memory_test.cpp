// The keymap file the compositor hands the Wayland menu: read up to the size
// it announces, and refused when that size passes the file's end (mapping
// past the end and reading there kills the process with SIGBUS).
#include "display/wayland/wayland_memory.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace velmora::wayland {
namespace {

struct KeymapCase {
    const char* name;
    std::string file;      // what the file holds
    std::size_t announced; // the size the compositor announces
    bool readable;
    std::string text; // what is read of it
};

const KeymapCase keymapCases[] = {
    {"AsAnnounced", std::string("xkb_keymap {};\0", 15), 15, true, "xkb_keymap {};"},
    {"LargerFileReadToTheAnnouncedSize", "xkb_keymap {}; and more", 14, true, "xkb_keymap {};"},
    // Without a NUL in its one page, reading went on into the next.
    {"AnnouncedPastTheEnd", std::string(4096, 'x'), 8192, false, ""},
    {"EmptyFile", "", 4096, false, ""},
    {"NothingAnnounced", "xkb_keymap {};", 0, false, ""},
};

class KeymapFile : public ::testing::TestWithParam<KeymapCase> {};

TEST_P(KeymapFile, IsReadWithinItsSize) {
    const KeymapCase& c = GetParam();
    const FileDescriptor fd(::memfd_create("keymap", MFD_CLOEXEC));
    ASSERT_TRUE(fd);
    ASSERT_TRUE(writeAll(fd.get(), c.file.data(), c.file.size()));
    const KeymapText keymap(fd.get(), c.announced);
    EXPECT_EQ(static_cast<bool>(keymap), c.readable);
    EXPECT_EQ(std::string(keymap.text()), c.text);
}

INSTANTIATE_TEST_SUITE_P(Keymaps, KeymapFile, ::testing::ValuesIn(keymapCases),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
} // namespace velmora::wayland
