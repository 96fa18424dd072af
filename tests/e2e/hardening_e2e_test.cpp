// The launcher in hostile surroundings: a full disk, folders it may not write,
// files it may not read, huge files and files that never end, folder names
// that are not UTF-8. Each case runs the real program from a copy in a fresh
// folder and checks what is left on disk and what the user is told.
#include "tests/e2e/e2e_support.h"

#include "tests/support/default_file_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace velmora::e2e;

namespace {

constexpr uid_t NOBODY = 65534;

// The names in a folder, "." and ".." left out.
std::vector<std::string> folderNames(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Hardening : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::chmod(temp_.path().c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(run_.c_str(), 0700), 0);
    }

    // A copy of the launcher in `folder` (made when missing).
    std::string install(const std::string& folder) {
        ::mkdir(folder.c_str(), 0755);
        copyFile(VELMORA_BINARY, folder + "/velmora", 0755);
        return folder + "/velmora";
    }

    std::vector<std::string> env() const { return launcherEnvironment(run_); }

    // Runs the launcher without terminal or display: it reads (and maybe
    // writes) its file, finds nowhere to show the menu and ends.
    Finished runLauncher(const std::string& program,
                         std::chrono::milliseconds limit = std::chrono::seconds(60)) const {
        return runDetached({program}, env(), limit);
    }

    // The same as the user nobody, with a runtime folder of nobody's own.
    Finished runAsNobody(const std::string& program) {
        if (::geteuid() != 0)
            return runLauncher(program);
        const std::string runtime = temp_ / "run-nobody";
        ::mkdir(runtime.c_str(), 0700);
        if (::chown(runtime.c_str(), NOBODY, NOBODY) != 0)
            throw std::runtime_error("cannot prepare a folder for nobody");
        return runDetached(
            {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", program},
            launcherEnvironment(runtime), std::chrono::seconds(30));
    }

    TempFolder temp_;
    std::string run_ = temp_ / "run";
};

// A small file system that is full: the default file cannot be written
// whole, so nothing is left where it belongs (no empty file that every later
// start would read as an empty menu), and the user is told why. Once there is
// room, the next start writes it.
TEST_F(Hardening, AFullDiskLeavesNoFileBehindAndTheNextStartWritesIt) {
    const std::string disk = temp_ / "disk";
    ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
    ASSERT_EQ(::mount("velmora-test", disk.c_str(), "tmpfs", 0, "size=8m,mode=0755"), 0)
        << "a full disk is made as a small tmpfs, which needs the right to mount "
           "(CI runs as root): "
        << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};

    const std::string program = install(disk + "/app");
    // Fill every block that is left.
    {
        const int fd = ::open((disk + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::fsync(fd);
        ::close(fd);
        ASSERT_LT(::write(::open((disk + "/filler2").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644),
                          "x", 1),
                  1)
            << "the disk is not full";
    }

    const Finished full = runLauncher(program);
    ASSERT_TRUE(full.ended);
    EXPECT_EQ(full.exitCode, 0);
    EXPECT_EQ(folderNames(disk + "/app"), std::vector<std::string>{"velmora"})
        << "neither the file nor a temporary one stays behind";
    EXPECT_NE(full.output.find("velmora: cannot write the default configuration file \"" + disk +
                               "/app/velmini\": No space left on device\n"),
              std::string::npos)
        << full.output;

    ASSERT_EQ(::unlink((disk + "/filler").c_str()), 0);
    const Finished room = runLauncher(program);
    ASSERT_TRUE(room.ended);
    EXPECT_EQ(room.exitCode, 0);
    EXPECT_EQ(room.output, "");
    EXPECT_EQ(readFile(disk + "/app/velmini"), velmora::test::DEFAULT_FILE_LF);
    EXPECT_EQ(folderNames(disk + "/app"), (std::vector<std::string>{"velmini", "velmora"}));
}

// Why the menu is empty is said once on standard error, naming the file; the
// run itself goes on as before (exit code 0, nothing replaced).
struct SilentCase {
    const char* name;
    const char* message; // after "velmora: "; the path follows in quotes
    const char* reason;
};

class HardeningSaysWhy : public Hardening, public testing::WithParamInterface<SilentCase> {};

TEST_P(HardeningSaysWhy, OneLineNamesThePathAndTheReason) {
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    const std::string config = app + "/velmini";
    const std::string kind = GetParam().name;
    if (kind == "ReadOnlyFolder") {
        ASSERT_EQ(::chmod(app.c_str(), 0555), 0);
    } else if (kind == "UnreadableFile") {
        writeFile(config, "[1]\ntitle=Secret\nexec=/bin/true\n", 0000);
    } else if (kind == "Folder") {
        ASSERT_EQ(::mkdir(config.c_str(), 0755), 0);
    } else {
        ASSERT_EQ(::mkfifo(config.c_str(), 0644), 0);
    }
    const Finished run = runAsNobody(program);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, std::string("velmora: ") + GetParam().message + " \"" + config +
                              "\": " + GetParam().reason + "\n");
    ::chmod(app.c_str(), 0755);
    if (kind == "ReadOnlyFolder") {
        EXPECT_FALSE(exists(config));
    }
    if (kind == "UnreadableFile") {
        ::chmod(config.c_str(), 0644);
        EXPECT_EQ(readFile(config), "[1]\ntitle=Secret\nexec=/bin/true\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HardeningSaysWhy,
    testing::Values(
        SilentCase{"ReadOnlyFolder", "cannot write the default configuration file",
                   "Permission denied"},
        SilentCase{"UnreadableFile", "cannot read the configuration file", "Permission denied"},
        SilentCase{"Folder", "cannot read the configuration file", "it is a folder"},
        SilentCase{"Fifo", "cannot read the configuration file", "it is not a regular file"}),
    [](const testing::TestParamInfo<SilentCase>& param) { return std::string(param.param.name); });

// Files far larger than any configuration, and one that never ends, are read
// to their end or to the read limit: the launcher ends normally with the
// configuration it found. (Their memory is measured by bench/memory_budget.py.)
struct HugeCase {
    const char* name;
    bool neverEnds;
};

class HardeningHugeFile : public Hardening, public testing::WithParamInterface<HugeCase> {};

TEST_P(HardeningHugeFile, EndsNormallyWithoutTouchingTheFile) {
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    const std::string config = app + "/velmini";
    if (GetParam().neverEnds) {
        ASSERT_EQ(::symlink("/proc/self/pagemap", config.c_str()), 0);
    } else {
        // 300 MiB of NUL bytes, sparse so that the disk is not filled.
        const int fd = ::open(config.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{300} << 20), 0);
        ::close(fd);
    }
    const Finished run = runLauncher(program, std::chrono::seconds(90));
    ASSERT_TRUE(run.ended) << "the launcher kept reading";
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(folderNames(app), (std::vector<std::string>{"velmini", "velmora"}));
}

INSTANTIATE_TEST_SUITE_P(Files, HardeningHugeFile,
                         testing::Values(HugeCase{"SparseNulBytes", false},
                                         HugeCase{"ProcPagemap", true}),
                         [](const testing::TestParamInfo<HugeCase>& param) {
                             return std::string(param.param.name);
                         });

} // namespace
