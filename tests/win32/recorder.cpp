// A stand-in for a launched program: writes the arguments part of the
// command line it was started with (its own name and the blanks after it
// left out, as the runtime does for WinMain) to "<own name>.txt" beside
// itself, in UTF-8. The file is written under a temporary name and then
// renamed, so that a reader never sees it half written.
#include "platform/win32/win32_handles.h"

#include <windows.h>

#include <string>

namespace {

std::wstring argumentsPart(const wchar_t* line) {
    if (*line == L'"') {
        ++line;
        while (*line != L'\0' && *line != L'"')
            ++line;
        if (*line == L'"')
            ++line;
    } else {
        while (*line > L' ')
            ++line;
    }
    while (*line != L'\0' && *line <= L' ')
        ++line;
    return line;
}

std::wstring ownName() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(name.size());
        const DWORD length = GetModuleFileNameW(nullptr, &name[0], size);
        if (length == 0)
            return {};
        if (length < size) {
            name.resize(length);
            return name;
        }
        name.resize(name.size() * 2);
    }
}

bool writeAll(HANDLE file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                       nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    const std::wstring arguments = argumentsPart(GetCommandLineW());
    std::string utf8;
    if (!arguments.empty()) {
        const int length =
            WideCharToMultiByte(CP_UTF8, 0, arguments.data(), static_cast<int>(arguments.size()),
                                nullptr, 0, nullptr, nullptr);
        if (length <= 0)
            return 2;
        utf8.resize(static_cast<std::size_t>(length));
        WideCharToMultiByte(CP_UTF8, 0, arguments.data(), static_cast<int>(arguments.size()),
                            &utf8[0], length, nullptr, nullptr);
    }
    const std::wstring target = ownName() + L".txt";
    const std::wstring partial = target + L".part";
    bool written = false;
    {
        const velmora::KernelHandle file(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr,
                                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                     nullptr));
        if (!file)
            return 3;
        written = writeAll(file.get(), utf8);
    }
    if (!written || !MoveFileW(partial.c_str(), target.c_str()))
        return 4;
    return 0;
}
