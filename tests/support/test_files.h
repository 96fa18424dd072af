// Real files for the tests of every suite: a fresh temporary folder that is
// removed with all it holds, and whole-file reads and writes by bytes.
// Portable C++ only, so that the suites built for Windows use it too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace velmora::test {

namespace detail {

// Gives the owner back every right below `path`, so that a folder a test
// closed (mode 000) can still be emptied and removed.
inline void reopen(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    const fs::file_status status = fs::symlink_status(path, ignored);
    if (!fs::is_directory(status))
        return;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (fs::directory_iterator it(path, ignored), end; !ignored && it != end;
         it.increment(ignored))
        reopen(it->path());
}

} // namespace detail

// A new folder of the owner's alone (mode 0700) under the system's
// temporary folder (TMPDIR where set).
class TempFolder {
public:
    TempFolder() {
        namespace fs = std::filesystem;
        std::random_device seed;
        std::mt19937_64 random(seed());
        const fs::path base = fs::temp_directory_path();
        for (;;) {
            path_ = base / ("velmora-test-" + std::to_string(random()));
            if (fs::create_directory(path_))
                break;
        }
        fs::permissions(path_, fs::perms::owner_all);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        detail::reopen(path_);
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }
    // The path of `name` inside the folder, as text to build on.
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The file's bytes; nullopt when it cannot be read.
inline std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    // libstdc++ throws from the stream buffer when a read fails (a folder
    // opens, then EISDIR), whatever the stream's exception mask says.
    try {
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        return std::nullopt;
    }
}

// The file's bytes; "" when it cannot be read (for logs and records whose
// absence the caller reports otherwise).
inline std::string readText(const std::filesystem::path& path) {
    return readFile(path).value_or("");
}

// Creates or replaces the file with `bytes`; `mode` sets its permission bits
// (POSIX). Throws when the file cannot be written.
inline void writeFile(const std::filesystem::path& path, std::string_view bytes,
                      std::optional<unsigned> mode = std::nullopt) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    std::error_code error;
    if (out && mode)
        std::filesystem::permissions(path, static_cast<std::filesystem::perms>(*mode), error);
    if (!out || error)
        throw std::runtime_error("cannot write " + path.string());
}

// The names in `folder`, sorted; none when it cannot be read.
inline std::vector<std::string> folderNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace velmora::test
