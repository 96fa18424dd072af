// The version record of the built launcher, read back from the executable
// the way Windows' own property pages read it.
#include "platform/win32/win32_handles.h"
#include "tests/win32/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <winver.h>

#include <string>
#include <vector>

namespace {

std::wstring launcherFile() {
    return (velmora::test::ownFolder() / L"velmora.exe").wstring();
}

std::vector<unsigned char> versionBlock() {
    const std::wstring file = launcherFile();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    std::vector<unsigned char> block(size);
    if (size == 0 || !GetFileVersionInfoW(file.c_str(), 0, size, block.data()))
        block.clear();
    return block;
}

TEST(VersionRecord, FixedPart) {
    auto block = versionBlock();
    ASSERT_FALSE(block.empty()) << "no version record in velmora.exe";
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x0000000Cu); // 0.12
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000003u); // .0.3
    EXPECT_EQ(fixed->dwProductVersionMS, 0x0000000Cu);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000003u);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0x17u);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, 0x4u);
    EXPECT_EQ(fixed->dwFileType, 0x1u);
    EXPECT_EQ(fixed->dwFileSubtype, 0u);
}

TEST(VersionRecord, Translation) {
    auto block = versionBlock();
    ASSERT_FALSE(block.empty());
    WORD* pair = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&pair), &length));
    ASSERT_EQ(length, 4u) << "one language and code page pair";
    EXPECT_EQ(pair[0], 0x0411);
    EXPECT_EQ(pair[1], 0x04B0);
}

struct StringValue {
    const wchar_t* key;
    const wchar_t* value;
};

class VersionString : public ::testing::TestWithParam<StringValue> {};

TEST_P(VersionString, InTheJapaneseUtf16Table) {
    auto block = versionBlock();
    ASSERT_FALSE(block.empty());
    const std::wstring query = std::wstring(L"\\StringFileInfo\\041104b0\\") + GetParam().key;
    wchar_t* text = nullptr;
    UINT length = 0;
    ASSERT_TRUE(
        VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(std::wstring(text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Table, VersionString,
                         ::testing::Values(StringValue{L"FileDescription", L"メニュー型ランチャ"},
                                           StringValue{L"FileVersion", L"0, 12, 0, 3"},
                                           StringValue{L"InternalName", L"velmora"},
                                           StringValue{L"OriginalFilename", L"velmora.exe"},
                                           StringValue{L"ProductName", L"Velmora"},
                                           StringValue{L"ProductVersion", L"0, 12, 0, 3"}),
                         [](const ::testing::TestParamInfo<StringValue>& param) {
                             return std::string(param.param.key,
                                                param.param.key + wcslen(param.param.key));
                         });

// Resource types and names found in the executable.
BOOL CALLBACK collectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) {
    reinterpret_cast<std::vector<ULONG_PTR>*>(list)->push_back(reinterpret_cast<ULONG_PTR>(name));
    return TRUE;
}

BOOL CALLBACK collectType(HMODULE, LPWSTR type, LONG_PTR list) {
    reinterpret_cast<std::vector<ULONG_PTR>*>(list)->push_back(reinterpret_cast<ULONG_PTR>(type));
    return TRUE;
}

// The executable, loaded as data only.
class DataModule {
public:
    explicit DataModule(const std::wstring& file)
        : module_(LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
    DataModule(const DataModule&) = delete;
    DataModule& operator=(const DataModule&) = delete;
    ~DataModule() {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

TEST(VersionRecord, IsTheOnlyResource) {
    const DataModule module(launcherFile());
    ASSERT_NE(module.get(), nullptr);
    std::vector<ULONG_PTR> types;
    EnumResourceTypesW(module.get(), collectType, reinterpret_cast<LONG_PTR>(&types));
    ASSERT_EQ(types.size(), 1u);
    EXPECT_EQ(types[0], reinterpret_cast<ULONG_PTR>(RT_VERSION));
    std::vector<ULONG_PTR> names;
    EnumResourceNamesW(module.get(), RT_VERSION, collectName, reinterpret_cast<LONG_PTR>(&names));
    EXPECT_EQ(names.size(), 1u);
}

} // namespace
