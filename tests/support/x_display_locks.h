// The lock files by which X servers on this machine claim their display
// numbers (/tmp/.X<n>-lock, holding the server's process id).
#pragma once

#include "tests/support/test_files.h"

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace velmora::test {

struct XDisplayLock {
    std::filesystem::path file;
    std::string number; // "1" for the display ":1"
    long owner = 0;     // 0 when the file names no process
};

inline std::vector<XDisplayLock> xDisplayLocks() {
    std::vector<XDisplayLock> locks;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/tmp", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".X", 0) != 0 || name.size() < 8 ||
            name.compare(name.size() - 5, 5, "-lock") != 0)
            continue;
        XDisplayLock lock{entry.path(), name.substr(2, name.size() - 7)};
        std::istringstream text(readText(entry.path()));
        if (!(text >> lock.owner) || lock.owner < 0)
            lock.owner = 0;
        locks.push_back(lock);
    }
    return locks;
}

} // namespace velmora::test
