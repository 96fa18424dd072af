// A stand-in for a launched program: writes the arguments part of the
// command line it was started with (its own name and the blanks after it
// left out, as the runtime does for WinMain) to "<own name>.txt" beside
// itself, in UTF-8. Before that it writes what its starter handed it besides
// to "<own name>.startup.txt", one "name=value" line each:
//
//   dwFlags=<decimal>       STARTUPINFO's flags (STARTF_USESHOWWINDOW is 1)
//   wShowWindow=<decimal>   the show command (SW_SHOWNORMAL is 1, SW_HIDE 0)
//   directory=<path>        the current directory it started in
//
// Each file is written under a temporary name and then renamed, so that a
// reader never sees it half written; once the command line's file is there,
// the other one is too.
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

std::string utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length,
                        nullptr, nullptr);
    return bytes;
}

std::wstring currentDirectory() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0)
        return {};
    std::wstring folder(size, L'\0');
    const DWORD length = GetCurrentDirectoryW(size, &folder[0]);
    folder.resize(length < size ? length : 0);
    return folder;
}

// Writes `bytes` to `target` through a temporary file renamed into place.
bool writeRecord(const std::wstring& target, const std::string& bytes) {
    const std::wstring partial = target + L".part";
    bool written = false;
    {
        const velmora::KernelHandle file(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr,
                                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                     nullptr));
        if (!file)
            return false;
        written = writeAll(file.get(), bytes);
    }
    return written && MoveFileW(partial.c_str(), target.c_str());
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    const std::string given = "dwFlags=" + std::to_string(startup.dwFlags) +
                              "\nwShowWindow=" + std::to_string(startup.wShowWindow) +
                              "\ndirectory=" + utf8(currentDirectory()) + "\n";
    const std::wstring own = ownName();
    if (!writeRecord(own + L".startup.txt", given))
        return 3;
    if (!writeRecord(own + L".txt", utf8(argumentsPart(GetCommandLineW()))))
        return 4;
    return 0;
}
