// Starts a program with a command line given exactly, waits for it and ends
// with its exit code. Used by the end-to-end tests, which could not control
// the command-line text of a Windows program started from Linux otherwise.
//
//   starter.exe <file>   the file holds the whole command line in UTF-8,
//                        program name included; it is used unchanged.
//   starter.exe --probe-mutex <name>
//                        tries to take the named mutex without waiting and
//                        ends with 10 when there is none, 11 when another
//                        process owns it, 12 when it was free (13 when its
//                        owner had ended without releasing it), 14 when it
//                        cannot be opened.
#include "platform/win32/win32_handles.h"

#include <windows.h>

#include <string>

namespace {

bool readFile(const wchar_t* name, std::string& bytes) {
    const velmora::KernelHandle file(CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    char chunk[4096];
    DWORD got = 0;
    bool ok = true;
    for (;;) {
        if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        bytes.append(chunk, got);
    }
    return ok;
}

int probeMutex(const wchar_t* name) {
    const velmora::KernelHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, name));
    if (!mutex)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? 10 : 14;
    switch (WaitForSingleObject(mutex.get(), 0)) {
    case WAIT_TIMEOUT:
        return 11;
    case WAIT_OBJECT_0:
        ReleaseMutex(mutex.get());
        return 12;
    case WAIT_ABANDONED:
        ReleaseMutex(mutex.get());
        return 13;
    default:
        return 14;
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--probe-mutex")
        return probeMutex(argv[2]);
    if (argc != 2)
        return 101;
    std::string bytes;
    if (!readFile(argv[1], bytes))
        return 102;
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                           static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0)
        return 103;
    std::wstring commandLine(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                        &commandLine[0], length);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 104;
    const velmora::KernelHandle thread(process.hThread);
    const velmora::KernelHandle child(process.hProcess);
    WaitForSingleObject(child.get(), INFINITE);
    DWORD code = 105;
    GetExitCodeProcess(child.get(), &code);
    return static_cast<int>(code);
}
