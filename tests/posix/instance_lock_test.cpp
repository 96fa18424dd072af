// The per-user lock file that keeps one launcher running.
#include "platform/posix/instance_lock.h"
#include "platform/posix/platform_posix.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmora;
using velmora::test::TempFolder;

namespace {

constexpr uid_t OTHER_USER = 65534; // nobody

mode_t modeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

TEST(LockFolder, CreatesAPrivateFolderWhenMissing) {
    TempFolder temp;
    const FileDescriptor folder = openPrivateFolder(temp / "new", ::geteuid(), true);
    ASSERT_TRUE(folder);
    EXPECT_TRUE(S_ISDIR(modeOf(temp / "new")));
    EXPECT_EQ(modeOf(temp / "new") & 07777, 0700u);
}

enum class Planted { OpenToGroup, OpenToAll, SymbolicLink, PlainFile, OtherOwner, RelativePath };

class UnsafeFolder : public testing::TestWithParam<Planted> {};

TEST_P(UnsafeFolder, IsRefused) {
    TempFolder temp;
    const std::string path = temp / "planted";
    std::string asked = path;
    switch (GetParam()) {
    case Planted::OpenToGroup:
        ASSERT_EQ(::mkdir(path.c_str(), 0750), 0);
        ASSERT_EQ(::chmod(path.c_str(), 0750), 0);
        break;
    case Planted::OpenToAll:
        ASSERT_EQ(::mkdir(path.c_str(), 0777), 0);
        ASSERT_EQ(::chmod(path.c_str(), 01777), 0);
        break;
    case Planted::SymbolicLink:
        ASSERT_EQ(::mkdir((temp / "real").c_str(), 0700), 0);
        ASSERT_EQ(::symlink((temp / "real").c_str(), path.c_str()), 0);
        break;
    case Planted::PlainFile:
        ASSERT_GE(::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600), 0);
        break;
    case Planted::OtherOwner:
        ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(path.c_str(), OTHER_USER, OTHER_USER), 0);
        }
        break;
    case Planted::RelativePath:
        asked = "relative/folder";
        break;
    }
    // Ownership is checked against a user other than the folder's owner.
    const uid_t owner =
        GetParam() == Planted::OtherOwner && ::geteuid() != 0 ? ::geteuid() + 1 : ::geteuid();
    EXPECT_FALSE(openPrivateFolder(asked, owner, true));
}

INSTANTIATE_TEST_SUITE_P(Planted, UnsafeFolder,
                         testing::Values(Planted::OpenToGroup, Planted::OpenToAll,
                                         Planted::SymbolicLink, Planted::PlainFile,
                                         Planted::OtherOwner, Planted::RelativePath));

// Reports which folder openLockFolder chose, by its inode.
ino_t inodeOf(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 ? info.st_ino : 0;
}

TEST(LockFolder, PrefersTheRuntimeFolderAndFallsBackToAPrivateTmpFolder) {
    TempFolder temp;
    const std::string runtime = temp / "run";
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    const std::string fallback = temp / ("velmora-" + std::to_string(::geteuid()));

    FileDescriptor chosen = openLockFolder(runtime.c_str(), ::geteuid(), temp.path());
    ASSERT_TRUE(chosen);
    struct stat runtimeInfo {};
    ASSERT_EQ(::stat(runtime.c_str(), &runtimeInfo), 0);
    EXPECT_EQ(inodeOf(chosen.get()), runtimeInfo.st_ino);
    EXPECT_EQ(modeOf(fallback), 0u) << "no fallback folder while the runtime folder serves";

    for (const char* runtimeDir :
         {static_cast<const char*>(nullptr), "", "relative", "/nonexistent/velmora-run"}) {
        chosen = openLockFolder(runtimeDir, ::geteuid(), temp.path());
        ASSERT_TRUE(chosen);
        struct stat fallbackInfo {};
        ASSERT_EQ(::stat(fallback.c_str(), &fallbackInfo), 0);
        EXPECT_EQ(inodeOf(chosen.get()), fallbackInfo.st_ino);
        EXPECT_EQ(fallbackInfo.st_mode & 07777, 0700u);
    }

    ASSERT_EQ(::chmod(runtime.c_str(), 0755), 0); // not private: not used
    chosen = openLockFolder(runtime.c_str(), ::geteuid(), temp.path());
    ASSERT_TRUE(chosen);
    EXPECT_NE(inodeOf(chosen.get()), runtimeInfo.st_ino);
}

TEST(LockFile, OneHolderAtATimeAndFreeAgainWhenReleased) {
    TempFolder temp;
    const FileDescriptor folder = openPrivateFolder(temp.path(), ::geteuid(), false);
    ASSERT_TRUE(::chmod(temp.path().c_str(), 0700) == 0 && folder);

    InstanceLock first = lockInstanceFile(folder.get(), "velmora-x.lock");
    ASSERT_EQ(first.marker, InstanceMarker::Created);
    EXPECT_NE(::fcntl(first.file.get(), F_GETFD) & FD_CLOEXEC, 0) << "a launched program must "
                                                                     "not inherit the lock";
    EXPECT_EQ(modeOf(temp / "velmora-x.lock") & 0777, 0600u);

    InstanceLock second = lockInstanceFile(folder.get(), "velmora-x.lock");
    EXPECT_EQ(second.marker, InstanceMarker::AlreadyExists);
    EXPECT_FALSE(second.file);
    EXPECT_EQ(lockInstanceFile(folder.get(), "velmora-y.lock").marker, InstanceMarker::Created);

    first.file.reset();
    EXPECT_EQ(lockInstanceFile(folder.get(), "velmora-x.lock").marker, InstanceMarker::Created);
}

TEST(LockFile, APlantedLinkOrFolderIsNotFollowed) {
    TempFolder temp;
    ASSERT_EQ(::chmod(temp.path().c_str(), 0700), 0);
    const FileDescriptor folder = openPrivateFolder(temp.path(), ::geteuid(), false);
    ASSERT_TRUE(folder);
    ASSERT_EQ(::symlink((temp / "target").c_str(), (temp / "link.lock").c_str()), 0);
    ASSERT_EQ(::mkdir((temp / "dir.lock").c_str(), 0700), 0);
    EXPECT_EQ(lockInstanceFile(folder.get(), "link.lock").marker, InstanceMarker::Failed);
    EXPECT_EQ(modeOf(temp / "target"), 0u) << "the link's target was created";
    EXPECT_EQ(lockInstanceFile(folder.get(), "dir.lock").marker, InstanceMarker::Failed);
    EXPECT_EQ(lockInstanceFile(folder.get(), "a/b").marker, InstanceMarker::Failed);
}

TEST(PlatformMarker, SecondPlatformSeesTheFirstUntilItEnds) {
    TempFolder temp;
    ASSERT_EQ(::chmod(temp.path().c_str(), 0700), 0);
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string restore = saved != nullptr ? saved : "";
    ASSERT_EQ(::setenv("XDG_RUNTIME_DIR", temp.path().c_str(), 1), 0);
    const std::u16string name = u"{6286FEE8-242F-4db1-B21A-D8B004526EED}";
    {
        auto first = std::make_unique<PlatformPosix>();
        EXPECT_EQ(first->createInstanceMarker(name), InstanceMarker::Created);
        EXPECT_EQ(modeOf(temp / "velmora-{6286FEE8-242F-4db1-B21A-D8B004526EED}.lock") & S_IFMT,
                  static_cast<mode_t>(S_IFREG));
        PlatformPosix second;
        EXPECT_EQ(second.createInstanceMarker(name), InstanceMarker::AlreadyExists);
        first.reset();
        PlatformPosix third;
        EXPECT_EQ(third.createInstanceMarker(name), InstanceMarker::Created);
    }
    if (saved != nullptr)
        ::setenv("XDG_RUNTIME_DIR", restore.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

} // namespace
