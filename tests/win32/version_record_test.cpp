// The version record of the built launcher, read back from the executable
// the way Windows' own property pages read it, and its manifest, read the way
// the loader reads it when the program starts.
#include "platform/win32/win32_handles.h"
#include "tests/support/case_name.h"
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

// One of each: the version record and the manifest, both number 1.
TEST(Resources, TheVersionRecordAndTheManifestOnly) {
    // The executable, loaded as data only.
    const velmora::LibraryHandle module(
        LoadLibraryExW(launcherFile().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_NE(module.get(), nullptr);
    std::vector<ULONG_PTR> types;
    EnumResourceTypesW(module.get(), collectType, reinterpret_cast<LONG_PTR>(&types));
    EXPECT_EQ(types, (std::vector<ULONG_PTR>{reinterpret_cast<ULONG_PTR>(RT_VERSION),
                                             reinterpret_cast<ULONG_PTR>(RT_MANIFEST)}));
    for (const LPCWSTR type : {RT_VERSION, RT_MANIFEST}) {
        std::vector<ULONG_PTR> names;
        EnumResourceNamesW(module.get(), type, collectName, reinterpret_cast<LONG_PTR>(&names));
        EXPECT_EQ(names, std::vector<ULONG_PTR>{1u})
            << "type " << reinterpret_cast<ULONG_PTR>(type);
    }
}

// The activation context that the loader makes of the executable's manifest.
class ManifestContext {
public:
    ManifestContext() {
        const std::wstring file = launcherFile();
        ACTCTXW request{};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpSource = file.c_str();
        request.lpResourceName = MAKEINTRESOURCEW(1);
        context_ = CreateActCtxW(&request);
    }
    ManifestContext(const ManifestContext&) = delete;
    ManifestContext& operator=(const ManifestContext&) = delete;
    ~ManifestContext() {
        if (context_ != INVALID_HANDLE_VALUE)
            ReleaseActCtx(context_);
    }
    bool ok() const { return context_ != INVALID_HANDLE_VALUE; }
    // The value of a windowsSettings element; "?" when it has none.
    std::wstring setting(const wchar_t* nameSpace, const wchar_t* name) const {
        std::wstring value(256, L'\0');
        SIZE_T written = 0;
        if (!QueryActCtxSettingsW(0, context_, nameSpace, name, &value[0], value.size(),
                                  &written) ||
            written == 0)
            return L"?";
        value.resize(written - 1); // without the terminating character
        return value;
    }

private:
    HANDLE context_ = INVALID_HANDLE_VALUE;
};

struct DpiSetting {
    const char* name;
    const wchar_t* nameSpace;
    const wchar_t* setting;
    const wchar_t* value;
};

class Manifest : public ::testing::TestWithParam<DpiSetting> {};

// Aware of each monitor's resolution, in the words of every Windows version
// that reads one of them.
TEST_P(Manifest, DeclaresPerMonitorDpiAwareness) {
    const ManifestContext context;
    ASSERT_TRUE(context.ok()) << "the loader cannot read the manifest: error " << GetLastError();
    EXPECT_EQ(context.setting(GetParam().nameSpace, GetParam().setting), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    WindowsSettings, Manifest,
    ::testing::Values(DpiSetting{"dpiAwareness",
                                 L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                                 L"dpiAwareness", L"PerMonitorV2, PerMonitor"},
                      DpiSetting{"dpiAware",
                                 L"http://schemas.microsoft.com/SMI/2005/WindowsSettings",
                                 L"dpiAware", L"true/pm"}),
    velmora::test::CaseName());

} // namespace
