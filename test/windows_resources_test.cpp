// What Windows reads from kestrave.exe without running it: the version
// information that Explorer shows under Properties > Details, and the
// manifest's settings. KESTRAVE names the executable.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring widen(const char* text)
{
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units > 0 ? units : 1), L'\0');
    (void)MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), units);
    wide.resize(wide.size() - 1);
    return wide;
}

std::wstring executable()
{
    const char* path = std::getenv("KESTRAVE");
    return path != nullptr ? widen(path) : std::wstring();
}

std::vector<unsigned char> versionInfo()
{
    const std::wstring path = executable();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<unsigned char> info(size);
    if (size == 0 || GetFileVersionInfoW(path.c_str(), 0, size, info.data()) == 0) {
        info.clear();
    }
    return info;
}

TEST(WindowsResources, VersionInformationNamesTheProgramAndItsVersion)
{
    std::vector<unsigned char> info = versionInfo();
    ASSERT_FALSE(info.empty()) << "kestrave.exe carries no version information";

    struct Field {
        const wchar_t* name;
        std::wstring expected;
    };
    const std::wstring version = widen(KESTRAVE_VERSION);
    const std::vector<Field> fields{
        {L"FileVersion", version},
        {L"ProductVersion", version},
        {L"ProductName", L"kestrave"},
        {L"OriginalFilename", L"kestrave.exe"},
        {L"FileDescription", widen(KESTRAVE_DESCRIPTION)},
        {L"LegalCopyright", L"Copyright (c) 2026 The kestrave developers"},
    };
    for (const Field& field : fields) {
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + field.name;
        wchar_t* value = nullptr;
        UINT length = 0;
        const bool found =
            VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) != 0;
        EXPECT_TRUE(found && value != nullptr && std::wstring(value) == field.expected)
            << "field " << std::string(field.name, field.name + std::wcslen(field.name));
    }

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_NE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length), 0);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS,
              static_cast<DWORD>(KESTRAVE_VERSION_MAJOR << 16 | KESTRAVE_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(KESTRAVE_VERSION_PATCH << 16));
}

TEST(WindowsResources, ManifestAsksForUtf8AndLongPaths)
{
    const std::wstring path = executable();
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    // Resource 1 of type RT_MANIFEST is the one the loader applies to a process.
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const char* bytes = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    const std::string manifest = bytes != nullptr ? std::string(bytes, SizeofResource(module, resource)) : "";
    (void)FreeLibrary(module);

    EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos) << manifest;
}

}  // namespace
