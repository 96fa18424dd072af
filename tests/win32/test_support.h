// Helpers shared by the Windows test programs: a temporary folder that is
// removed with everything in it, the folder of the running test program, and
// a wait for a file that another process writes.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace velmora::test {

// A new, empty folder under the system's temporary folder, removed with its
// content when the object goes.
class TempFolder {
public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The full file name of the running program.
std::filesystem::path ownFile();

// The folder that holds the running program (the build folder, where the
// launcher and the helper programs are built too).
std::filesystem::path ownFolder();

// The bytes of a file; empty when it cannot be read.
std::string readBytes(const std::filesystem::path& file);
void writeBytes(const std::filesystem::path& file, const std::string& bytes);

// Waits until `file` exists, for at most `limitMs`, so that a fault shows as
// a failure instead of a hang. True when it appeared.
bool waitForFile(const std::filesystem::path& file, DWORD limitMs);

std::u16string toU16(const std::wstring& text);

} // namespace velmora::test
