// Helpers shared by the Windows test programs, beside the temporary folders
// and file bytes of every suite: the folder of the running test program, and
// a wait for a file that another process writes.
#pragma once

#include "tests/support/test_files.h"

#include <windows.h>

#include <filesystem>
#include <string>

namespace velmora::test {

// The full file name of the running program.
std::filesystem::path ownFile();

// The folder that holds the running program (the build folder, where the
// launcher and the helper programs are built too).
std::filesystem::path ownFolder();

// Waits until `file` exists, for at most `limitMs`, so that a fault shows as
// a failure instead of a hang. True when it appeared.
bool waitForFile(const std::filesystem::path& file, DWORD limitMs);

std::u16string toU16(const std::wstring& text);

} // namespace velmora::test
