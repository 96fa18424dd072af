// A fresh folder under the system's temporary folder, removed with all it
// holds when the owner goes.
#pragma once

#include <cstdlib>
#include <ftw.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::testing_support {

class TempFolder {
public:
    TempFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/velmora-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create a temporary folder");
        path_ = pattern;
    }
    ~TempFolder() {
        ::nftw(
            path_.c_str(),
            [](const char* path, const struct stat*, int, struct FTW*) {
                ::chmod(path, 0700); // a folder closed by a test must still be emptied
                return 0;
            },
            16, FTW_PHYS);
        ::nftw(
            path_.c_str(),
            [](const char* path, const struct stat*, int type, struct FTW*) {
                return type == FTW_DP ? ::rmdir(path) : ::unlink(path);
            },
            16, FTW_DEPTH | FTW_PHYS);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace velmora::testing_support
