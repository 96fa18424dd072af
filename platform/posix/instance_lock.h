// The single-instance marker on Linux: a lock file, one per user.
//
// The file lies in the user's runtime folder ($XDG_RUNTIME_DIR) when that is
// a folder of the user's own, else in a private folder /tmp/velmora-<uid>
// that is created with mode 0700 and used only when it is a real folder
// owned by the user and closed to everybody else; when another user holds
// that name, $TMPDIR/velmora-<uid> is tried the same way. Another user can thus
// neither take the lock nor plant a file in its place. The lock is an
// exclusive flock on a file opened with O_CLOEXEC | O_NOFOLLOW, so a
// launched program never inherits it and it goes with the process.
#pragma once

#include "platform/platform.h"
#include "platform/file_descriptor.h"

#include <string>
#include <sys/types.h>

namespace velmora {

struct InstanceLock {
    InstanceMarker marker = InstanceMarker::Failed;
    // The locked file while this process holds the lock.
    FileDescriptor file;
};

// Opens the folder at `path` for the lock file, creating it with mode 0700
// when `create` is set and it is missing. The result is a descriptor of the
// folder only when it is a real folder (no symbolic link) owned by `owner`
// and closed to group and others; otherwise it is empty.
FileDescriptor openPrivateFolder(const std::string& path, uid_t owner, bool create);

// Takes the lock file `fileName` in `folder` (an open folder descriptor).
InstanceLock lockInstanceFile(int folder, const std::string& fileName);

// The folder the lock file of user `owner` lies in: `runtimeDir` when it is
// set, absolute and private to the user, else `tmpBase`/velmora-<owner>, else
// `tmpDir`/velmora-<owner> (the user's $TMPDIR), when that is usable.
FileDescriptor openLockFolder(const char* runtimeDir, uid_t owner,
                              const std::string& tmpBase = "/tmp", const char* tmpDir = nullptr);

// The marker named `name` for the current user: Created, AlreadyExists when
// another process holds it, Failed when no lock could be made at all.
InstanceLock takeInstanceLock(const std::u16string& name);

} // namespace velmora
