// The Windows backend against the real system (run under Wine): files by
// wide name, exclusive create, CR LF through the core's text layer, the ANSI
// code page for files that are not UTF-8, the instance mutex, the module
// file name and the shell.
#include "config/config_file.h"
#include "platform/platform.h"
#include "platform/win32/platform_win32.h"
#include "platform/win32/win32_handles.h"
#include "tests/win32/test_support.h"
#include "text/text_codec.h"

#include "tests/support/case_name.h"
#include "tests/support/default_file_bytes.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace velmora;
using velmora::test::TempFolder;
namespace fs = std::filesystem;

namespace {

std::u16string u16(const fs::path& path) {
    return test::toU16(path.wstring());
}

std::string readAll(ByteReader& reader) {
    std::string bytes;
    unsigned char chunk[7]; // small, so that reading takes several calls
    for (;;) {
        const std::ptrdiff_t n = reader.read(chunk, sizeof chunk);
        if (n <= 0)
            break;
        bytes.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(n));
    }
    return bytes;
}

// File names that a conversion to a narrow name would damage.
struct NamedFile {
    const char* name;
    const wchar_t* file;
};

class WideFileName : public ::testing::TestWithParam<NamedFile> {};

TEST_P(WideFileName, CreatesWritesAndReadsBack) {
    TempFolder folder;
    PlatformWin32 platform;
    const fs::path file = folder.path() / GetParam().file;

    ASSERT_TRUE(platform.createFileWithContent(u16(file), "first\r\nsecond"));
    ASSERT_TRUE(fs::exists(file)) << "the file is made under its exact wide name";
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        static_cast<void>(entry);
        ++entries;
    }
    EXPECT_EQ(entries, 1u) << "no temporary file stays behind";
    auto reader = platform.openFileForRead(u16(file));
    ASSERT_TRUE(reader);
    EXPECT_EQ(readAll(*reader), "first\r\nsecond");
}

INSTANTIATE_TEST_SUITE_P(
    Names, WideFileName,
    ::testing::Values(NamedFile{"Plain", L"plain.ini"}, NamedFile{"Blanks", L"with blanks .ini"},
                      NamedFile{"Japanese", L"\u8A2D\u5B9A\u30D5\u30A1\u30A4\u30EB.ini"},
                      NamedFile{"Accents", L"\u00FCml\u00E4ut \u0416 \u03A9.ini"},
                      NamedFile{"Astral", L"\U0001F600 astral.ini"}),
    velmora::test::CaseName());

TEST(ExclusiveCreate, NeverTouchesAnExistingFile) {
    TempFolder folder;
    PlatformWin32 platform;
    const fs::path file = folder.path() / L"velmora.ini";
    test::writeFile(file, "keep me");

    EXPECT_FALSE(platform.createFileWithContent(u16(file), "new"));
    EXPECT_EQ(test::readFile(file).value_or(""), "keep me");
}

TEST(ExclusiveCreate, FailsWhereNoFileCanBeMade) {
    TempFolder folder;
    PlatformWin32 platform;
    EXPECT_FALSE(
        platform.createFileWithContent(u16(folder.path() / L"no-such-folder" / L"a.ini"), "x"));
    EXPECT_FALSE(platform.createFileWithContent(u16(folder.path()), "x")) << "a folder is there";
}

TEST(OpenForRead, RefusesWhatIsNoReadableFile) {
    TempFolder folder;
    PlatformWin32 platform;
    EXPECT_FALSE(platform.openFileForRead(u16(folder.path() / L"missing.ini")));
    EXPECT_FALSE(platform.openFileForRead(u16(folder.path()))) << "a folder";
    EXPECT_FALSE(platform.openFileForRead(u""));

    // A character 0 would cut the name short and open another file.
    test::writeFile(folder.path() / L"a", "x");
    std::u16string cut = u16(folder.path() / L"a");
    cut += u'\0';
    cut += u"b.ini";
    EXPECT_FALSE(platform.openFileForRead(cut));
    EXPECT_FALSE(platform.createFileWithContent(cut, "x"));
}

TEST(OpenForRead, SharesTheFileWithWritersAndReaders) {
    TempFolder folder;
    PlatformWin32 platform;
    const fs::path file = folder.path() / L"shared.ini";
    KernelHandle writer(::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    DWORD done = 0;
    ASSERT_TRUE(::WriteFile(writer.get(), "abc", 3, &done, nullptr));
    auto reader = platform.openFileForRead(u16(file));
    ASSERT_TRUE(reader) << "a file still open for writing can be read";
    auto second = platform.openFileForRead(u16(file));
    ASSERT_TRUE(second);
    EXPECT_EQ(readAll(*reader), "abc");
    EXPECT_EQ(readAll(*second), "abc");
}

TEST(DefaultFile, IsWrittenWithCrLfAndReadsBack) {
    TempFolder folder;
    PlatformWin32 platform;
    const fs::path file = folder.path() / L"\u30E9\u30F3\u30C1\u30E3.ini";

    ConfigFile config(platform, u16(file));
    ASSERT_TRUE(config.fileMissing());
    config.writeDefault();

    const std::string bytes = test::readFile(file).value_or("");
    EXPECT_EQ(bytes.size(), 284u);
    EXPECT_EQ(bytes, test::DEFAULT_FILE_CRLF);
    EXPECT_FALSE(config.fileMissing());
    ASSERT_EQ(config.sections().size(), 4u);
    EXPECT_EQ(config.getString(u"1", u"title"), u"Internet Explorer");
    EXPECT_EQ(config.getString(u"2", u"exec"), u"\\Program Files\\Opera\\Opera.exe");
    EXPECT_EQ(config.getString(u"3", u"title"), u"NetFront");
    EXPECT_EQ(config.getString(u"position", u"y"), u"0");
    EXPECT_EQ(config.sections().back().entries.front().key, u"xAlign");
}

TEST(DefaultFile, DoesNotReplaceAFileThatAppearedMeanwhile) {
    TempFolder folder;
    PlatformWin32 platform;
    const fs::path file = folder.path() / L"velmora.ini";
    ConfigFile config(platform, u16(file));
    ASSERT_TRUE(config.fileMissing());
    test::writeFile(file, "[1]\r\ntitle=mine\r\n");
    config.writeDefault();
    EXPECT_EQ(test::readFile(file).value_or(""), "[1]\r\ntitle=mine\r\n");
}

// Bytes that are not UTF-8, and the text that the ANSI code page makes of
// them. Each ctest run of this suite names its code page by the locale it
// gives Wine; the rows of the other code pages wait for their run.
struct LegacyCase {
    UINT codePage;
    const char* bytes;
    const char16_t* title;
};

const LegacyCase LEGACY_CASES[] = {
    // Shift_JIS, as a Japanese device writes it: "日本語メニュー".
    {932, "\x93\xfa\x96\x7b\x8c\xea\x83\x81\x83\x6a\x83\x85\x81\x5b", u"日本語メニュー"},
    // Half-width katakana are single bytes in Shift_JIS.
    {932, "\xb6\xc0\xb6\xc5 ok", u"\uFF76\uFF80\uFF76\uFF85 ok"},
    // Windows-1252: Latin text with typographic quotes.
    {1252,
     "\x93"
     "Caf\xe9\x94",
     u"\u201C"
     "Caf\u00E9\u201D"},
    {1252, "na\xefve \x80 5", u"na\u00EFve \u20AC 5"},
};

TEST(LegacyText, TitlesOfAFileInTheAnsiCodePageAreKept) {
    const UINT codePage = GetACP();
    int checked = 0;
    for (const LegacyCase& row : LEGACY_CASES) {
        if (row.codePage != codePage)
            continue;
        ++checked;
        TempFolder folder;
        PlatformWin32 platform;
        const fs::path file = folder.path() / L"velmora.ini";
        test::writeFile(file, std::string("[1]\r\ntitle=") + row.bytes + "\r\nexec=x.exe\r\n");

        ConfigFile config(platform, u16(file));
        EXPECT_EQ(config.getString(u"1", u"title"), row.title) << "code page " << codePage;
        EXPECT_EQ(config.getString(u"1", u"exec"), u"x.exe") << "CR LF still ends the lines";
    }
    ASSERT_GT(checked, 0) << "no rows for the ANSI code page " << codePage
                          << ": run this suite with LC_ALL=ja_JP.UTF-8 (932) or C.UTF-8 (1252)";
}

TEST(LegacyText, ValidUtf8IsNotReinterpreted) {
    TempFolder folder;
    PlatformWin32 platform;
    const fs::path file = folder.path() / L"velmora.ini";
    test::writeFile(file, "[1]\r\ntitle=\xE6\x97\xA5\xE6\x9C\xAC caf\xC3\xA9\r\n");
    ConfigFile config(platform, u16(file));
    EXPECT_EQ(config.getString(u"1", u"title"), u"日本 café");
}

// Names unique to this test process, so that parallel runs do not meet.
std::u16string uniqueName(const char16_t* what) {
    return u"velmora-test-" + test::toU16(std::to_wstring(GetCurrentProcessId())) + u"-" + what;
}

TEST(InstanceMarker, SecondHolderSeesTheFirstUntilItEnds) {
    const std::u16string name = uniqueName(u"marker");
    {
        PlatformWin32 first;
        EXPECT_EQ(first.createInstanceMarker(name), InstanceMarker::Created);
        {
            PlatformWin32 second;
            EXPECT_EQ(second.createInstanceMarker(name), InstanceMarker::AlreadyExists);
        }
        PlatformWin32 third;
        EXPECT_EQ(third.createInstanceMarker(name), InstanceMarker::AlreadyExists)
            << "the first still holds it";
    }
    PlatformWin32 later;
    EXPECT_EQ(later.createInstanceMarker(name), InstanceMarker::Created)
        << "every holder has gone, so the mutex has gone too";
}

TEST(InstanceMarker, ANameTakenByAnotherKindOfObjectLetsTheRunGoOn) {
    const std::u16string name = uniqueName(u"event");
    const KernelHandle event(
        CreateEventW(nullptr, TRUE, FALSE, reinterpret_cast<const wchar_t*>(name.c_str())));
    ASSERT_TRUE(event);
    PlatformWin32 platform;
    EXPECT_EQ(platform.createInstanceMarker(name), InstanceMarker::Failed);
}

// The test program, started again as a child with this argument, writes the
// configuration path that it computes for itself to the named file.
constexpr wchar_t REPORT_CONFIG_PATH[] = L"--report-config-path=";

class ModuleFileName : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ModuleFileName, IsReadWholeWhateverItsLength) {
    TempFolder folder;
    // Nested folders until the full name of the copy has the wanted length.
    const std::size_t wanted = GetParam();
    fs::path dir = folder.path();
    while (dir.wstring().size() + 20 < wanted) {
        const std::size_t room = wanted - dir.wstring().size() - 20;
        dir /= std::wstring(room < 100 ? room : 100, L'd');
    }
    fs::create_directories(dir);
    std::wstring base(wanted - dir.wstring().size() - 1 - 4, L'\u540D');
    const fs::path copy = dir / (base + L".EXE");
    ASSERT_EQ(copy.wstring().size(), wanted);

    ASSERT_TRUE(CopyFileW(test::ownFile().c_str(), copy.c_str(), TRUE));

    const fs::path report = folder.path() / L"report.txt";
    std::wstring commandLine =
        L"\"" + copy.wstring() + L"\" " + REPORT_CONFIG_PATH + L"\"" + report.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(copy.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process))
        << "error " << GetLastError();
    const KernelHandle thread(process.hThread);
    const KernelHandle child(process.hProcess);
    ASSERT_EQ(WaitForSingleObject(child.get(), 60000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(child.get(), &code);
    ASSERT_EQ(code, 0u);

    std::wstring expected = copy.wstring();
    expected.replace(expected.size() - 3, 3, L"ini");
    const std::string bytes = test::readFile(report).value_or("");
    const std::u16string got(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
    EXPECT_EQ(got, test::toU16(expected));
}

// Up to the longest name that fits MAX_PATH with its terminating zero. (Wine
// does not start programs whose names are longer, so the growing buffer is
// not reached from here.)
INSTANTIATE_TEST_SUITE_P(Lengths, ModuleFileName, ::testing::Values(80, 200, 259),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                             return "Chars" + std::to_string(param.param);
                         });

// Libraries may lie deeper than MAX_PATH: their names reach the buffer's
// growth, which a program's own name cannot under Wine.
class LongModuleFileName : public ::testing::TestWithParam<std::size_t> {};

TEST_P(LongModuleFileName, IsReadWholeAndGivesTheConfigPath) {
    TempFolder folder;
    const std::size_t wanted = GetParam();
    std::wstring dir = L"\\\\?\\" + folder.path().wstring();
    const std::size_t prefix = 4;
    while (dir.size() - prefix + 1 + 20 < wanted) {
        const std::size_t room = wanted - (dir.size() - prefix) - 1 - 20;
        dir += L"\\" + std::wstring(room < 120 ? room : 120, L'\u76EE');
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr)) << "error " << GetLastError();
    }
    const std::size_t baseLength = wanted - (dir.size() - prefix) - 1 - 4;
    const std::wstring file = dir + L"\\" + std::wstring(baseLength, L'm') + L".dll";
    const std::wstring plain = file.substr(prefix);
    ASSERT_EQ(plain.size(), wanted);
    ASSERT_TRUE(CopyFileW((test::ownFolder() / L"velmora_probe.dll").c_str(), file.c_str(), TRUE))
        << "error " << GetLastError();

    const LibraryHandle library(LoadLibraryW(file.c_str()));
    ASSERT_NE(library.get(), nullptr) << "error " << GetLastError();
    PlatformWin32 platform;
    EXPECT_EQ(platform.getModuleFileName(library.get()), test::toU16(plain));
    std::wstring ini = plain;
    ini.replace(ini.size() - 3, 3, L"ini");
    EXPECT_EQ(makeConfigPath(platform, library.get()), test::toU16(ini));
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongModuleFileName,
                         ::testing::Values(259, 260, 261, 519, 520, 521, 1500),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                             return "Chars" + std::to_string(param.param);
                         });

TEST(ModuleFileName, OfALoadedLibrary) {
    PlatformWin32 platform;
    const std::u16string name = platform.getModuleFileName(GetModuleHandleW(L"kernel32.dll"));
    ASSERT_GT(name.size(), 13u);
    std::u16string tail = name.substr(name.size() - 13);
    for (char16_t& c : tail)
        c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
    EXPECT_EQ(tail, u"\\kernel32.dll");
}

// Parameters that the shell must hand over untouched.
struct ShellCase {
    const char* name;
    const char16_t* parameters;
};

class ShellLaunch : public ::testing::TestWithParam<ShellCase> {};

TEST_P(ShellLaunch, StartsTheProgramWithTheParametersUnchanged) {
    TempFolder folder;
    const fs::path recorder = folder.path() / L"recorder with blank.exe";
    ASSERT_TRUE(fs::copy_file(test::ownFolder() / L"velmora_recorder.exe", recorder));
    const fs::path record = recorder.wstring() + L".txt";

    PlatformWin32 platform;
    ShellExecuteRequest request;
    request.verb = u"Open";
    request.file = u16(recorder);
    request.parameters = GetParam().parameters;
    ASSERT_TRUE(platform.shellExecuteEx(request));
    ASSERT_TRUE(test::waitForFile(record, 60000)) << "the recorder never wrote its record";

    EXPECT_EQ(test::readFile(record).value_or(""), utf16ToUtf8(GetParam().parameters));
    // Shown as a program started normally, in this program's current
    // directory: no folder of its own is chosen for it.
    EXPECT_EQ(test::readFile(recorder.wstring() + L".startup.txt").value_or(""),
              "dwFlags=" + std::to_string(STARTF_USESHOWWINDOW) +
                  "\nwShowWindow=" + std::to_string(SW_SHOWNORMAL) +
                  "\ndirectory=" + utf16ToUtf8(u16(fs::current_path())) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Parameters, ShellLaunch,
    ::testing::Values(ShellCase{"Empty", u""}, ShellCase{"One", u"one"},
                      ShellCase{"QuotesAndTwoBlanks", u"\"quoted arg\" two  blanks"},
                      ShellCase{"Backslashes", u"a\\\"b\" \"\" \\\\server"},
                      ShellCase{"TrailingBlank", u"trailing blank "},
                      ShellCase{"Japanese", u"\u65E5\u672C\u8A9E \"\u30E1 \u30CB\""},
                      ShellCase{"Tab", u"tab\there"}),
    velmora::test::CaseName());

} // namespace

int main(int argc, char** argv) {
    // Child mode of the module-name test.
    int wideCount = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wide != nullptr && wideCount == 2 &&
        std::wstring(wide[1]).rfind(REPORT_CONFIG_PATH, 0) == 0) {
        const std::wstring report = std::wstring(wide[1]).substr(wcslen(REPORT_CONFIG_PATH));
        LocalFree(wide);
        PlatformWin32 platform;
        const std::u16string path = makeConfigPath(platform, GetModuleHandleW(nullptr));
        test::writeFile(report, std::string(reinterpret_cast<const char*>(path.data()),
                                            path.size() * sizeof(char16_t)));
        return path.empty() ? 1 : 0;
    }
    LocalFree(wide);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
