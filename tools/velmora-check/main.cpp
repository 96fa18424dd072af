// velmora-check: shows how the launcher reads a configuration file and warns
// about the traps of the format. Writes nothing and launches nothing.
#include "check_report.h"
#include "text/text_codec.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/posix/command_line.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
std::string whyNotOpened(const std::u16string& path) {
    const auto* name = reinterpret_cast<const wchar_t*>(path.c_str());
    const DWORD attributes = ::GetFileAttributesW(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return "it is a folder";
    const HANDLE file = ::CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        return {};
    }
    switch (const DWORD error = ::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "no such file";
    case ERROR_ACCESS_DENIED:
        return "permission denied";
    case ERROR_SHARING_VIOLATION:
        return "another program holds it open";
    default:
        return "Windows error " + std::to_string(error);
    }
}
#else
std::string whyNotOpened(const std::u16string& path) {
    const std::string native = velmora::argumentBytes(path);
    struct stat info {};
    if (::stat(native.c_str(), &info) != 0)
        return errno == ENOENT ? "no such file" : std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return "it is a folder";
    if (S_ISFIFO(info.st_mode))
        return "it is a FIFO (named pipe), not a regular file";
    if (!S_ISREG(info.st_mode))
        return "it is a device or socket, not a regular file";
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    ::close(fd);
    return {};
}
#endif

int run(const std::vector<std::string>& args) {
    const std::unique_ptr<velmora::Platform> host = velmora::createHostPlatform();
    return velmora::check::runChecker(args, *host, std::cout, std::cerr, whyNotOpened);
}

} // namespace

#ifdef _WIN32
// Windows hands the arguments over as UTF-16; they go on as UTF-8.
int wmain(int argc, wchar_t** argv) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg(argv[i]);
        args.push_back(velmora::utf16ToUtf8(std::u16string(arg.begin(), arg.end())));
    }
    return run(args);
}
#else
int main(int argc, char** argv) {
    return run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
