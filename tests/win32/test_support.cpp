#include "tests/win32/test_support.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace velmora::test {

std::filesystem::path ownFile() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(name.size());
        const DWORD length = GetModuleFileNameW(nullptr, &name[0], size);
        if (length < size) {
            name.resize(length);
            return name;
        }
        name.resize(name.size() * 2);
    }
}

std::filesystem::path ownFolder() {
    return ownFile().parent_path();
}

bool waitForFile(const std::filesystem::path& file, DWORD limitMs) {
    const ULONGLONG start = GetTickCount64();
    while (!std::filesystem::exists(file)) {
        if (GetTickCount64() - start > limitMs)
            return false;
        Sleep(50);
    }
    return true;
}

std::u16string toU16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}

} // namespace velmora::test
