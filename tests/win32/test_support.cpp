#include "tests/win32/test_support.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace velmora::test {

TempFolder::TempFolder() {
    const auto base = std::filesystem::temp_directory_path();
    for (unsigned int attempt = 0;; ++attempt) {
        auto candidate = base / (L"velmora-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(attempt));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

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

std::string readBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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
