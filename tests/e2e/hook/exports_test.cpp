// The library's file as the controller and the loader see it: the export table, the import
// table and the version resource.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "child.h"
#include "hook/version.h"

using mk::test::BinPath;

namespace {

class PeFile {
public:
    explicit PeFile(const std::wstring& path) {
        HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
        if (f == INVALID_HANDLE_VALUE)
            return;
        DWORD size = GetFileSize(f, nullptr), n = 0;
        bytes_.resize(size);
        ReadFile(f, bytes_.data(), size, &n, nullptr);
        CloseHandle(f);
    }
    bool ok() const { return bytes_.size() > sizeof(IMAGE_DOS_HEADER); }
    // The headers of the build's own kind (PE32 or PE32+): the library is built with the test.
    const IMAGE_NT_HEADERS* nt() const {
        auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes_.data());
        return reinterpret_cast<const IMAGE_NT_HEADERS*>(bytes_.data() + dos->e_lfanew);
    }
    // File offset of a relative virtual address.
    const BYTE* At(DWORD rva) const {
        auto sec = IMAGE_FIRST_SECTION(nt());
        for (int i = 0; i < nt()->FileHeader.NumberOfSections; ++i, ++sec) {
            if (rva >= sec->VirtualAddress && rva < sec->VirtualAddress + sec->Misc.VirtualSize)
                return bytes_.data() + sec->PointerToRawData + (rva - sec->VirtualAddress);
        }
        return nullptr;
    }
    const IMAGE_DATA_DIRECTORY& Dir(int i) const { return nt()->OptionalHeader.DataDirectory[i]; }

private:
    std::vector<BYTE> bytes_;
};

}  // namespace

TEST(LibraryFile, ExportsExactlyTheSevenNamesAtTheirOrdinals) {
    PeFile pe(BinPath(L"mkhook.dll"));
    ASSERT_TRUE(pe.ok());
    // The machine of the build: the test and the library are built for the same one.
#ifdef _WIN64
    EXPECT_EQ(pe.nt()->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
#else
    EXPECT_EQ(pe.nt()->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
#endif
    EXPECT_TRUE(pe.nt()->FileHeader.Characteristics & IMAGE_FILE_DLL);
    auto exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
        pe.At(pe.Dir(IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress));
    ASSERT_NE(exp, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(pe.At(exp->Name)), "mkhook.dll");
    auto names = reinterpret_cast<const DWORD*>(pe.At(exp->AddressOfNames));
    auto ordinals = reinterpret_cast<const WORD*>(pe.At(exp->AddressOfNameOrdinals));
    auto functions = reinterpret_cast<const DWORD*>(pe.At(exp->AddressOfFunctions));
    std::map<std::string, DWORD> found;
    for (DWORD i = 0; i < exp->NumberOfNames; ++i)
        found[reinterpret_cast<const char*>(pe.At(names[i]))] = exp->Base + ordinals[i];
    std::map<std::string, DWORD> expected = {
        {"HookStart", 1},    {"HookExit", 2},      {"MKRefresh", 3},  {"InMKRefresh", 4},
        {"MKGetVersion", 5}, {"MKShowVersion", 6}, {"MKShowMKIOK", 7}};
    EXPECT_EQ(found, expected);
    // No export by ordinal only.
    DWORD used = 0;
    for (DWORD i = 0; i < exp->NumberOfFunctions; ++i)
        used += functions[i] != 0;
    EXPECT_EQ(used, 7u);
}

TEST(LibraryFile, ImportsOnlyFromKernelUserAndShell) {
    PeFile pe(BinPath(L"mkhook.dll"));
    ASSERT_TRUE(pe.ok());
    auto imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
        pe.At(pe.Dir(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress));
    ASSERT_NE(imp, nullptr);
    std::set<std::string> dlls;
    for (; imp->Name; ++imp) {
        std::string name = reinterpret_cast<const char*>(pe.At(imp->Name));
        for (auto& c : name)
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        dlls.insert(name);
    }
    for (const auto& d : dlls)
        EXPECT_TRUE(d == "KERNEL32.DLL" || d == "USER32.DLL" || d == "SHELL32.DLL") << d;
    EXPECT_TRUE(dlls.count("KERNEL32.DLL"));
    EXPECT_TRUE(dlls.count("USER32.DLL"));
    // No thread-local storage and no static constructors that the loader would have to run.
    EXPECT_EQ(pe.Dir(IMAGE_DIRECTORY_ENTRY_TLS).VirtualAddress, 0u);
}

TEST(LibraryFile, ExportsResolveByUndecoratedNameWithStdcall) {
    HMODULE m = LoadLibraryW(BinPath(L"mkhook.dll").c_str());
    ASSERT_NE(m, nullptr);
    FARPROC byName = GetProcAddress(m, "MKGetVersion");
    ASSERT_NE(byName, nullptr);
    // Through void(*)(): FARPROC's own type does not match, and GCC says so.
    auto ver = reinterpret_cast<int(WINAPI*)()>(reinterpret_cast<void (*)()>(byName));
    EXPECT_EQ(ver(), 120);  // also before HookStart
    EXPECT_EQ(GetProcAddress(m, MAKEINTRESOURCEA(5)), byName);
    EXPECT_EQ(GetProcAddress(m, "_MKGetVersion@0"), nullptr);
    EXPECT_EQ(GetProcAddress(m, "DllMain"), nullptr);
    FreeLibrary(m);
}

TEST(LibraryFile, VersionResourceInJapaneseUnicodeTable) {
    std::wstring path = BinPath(L"mkhook.dll");
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    const DWORD ms = MKHOOK_VERSION_MAJOR << 16 | MKHOOK_VERSION_MINOR;
    const DWORD ls = MKHOOK_VERSION_PATCH << 16 | MKHOOK_VERSION_BUILD;
    EXPECT_EQ(fixed->dwFileVersionMS, ms);
    EXPECT_EQ(fixed->dwFileVersionLS, ls);
    EXPECT_EQ(fixed->dwProductVersionMS, ms);
    EXPECT_EQ(fixed->dwProductVersionLS, ls);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &len));
    ASSERT_EQ(len, 4u);
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 1200);

    std::map<std::wstring, std::wstring> expected = {{L"FileVersion", L"" MKHOOK_VERSION_TEXT},
                                                     {L"ProductVersion", L"" MKHOOK_VERSION_TEXT},
                                                     {L"FileDescription", L"mkhook"},
                                                     {L"InternalName", L"mkhook"},
                                                     {L"OriginalFilename", L"mkhook.dll"},
                                                     {L"ProductName", L"Mirekko"},
                                                     {L"CompanyName", L"Orbel"},
                                                     {L"Comments", L"" MKHOOK_COMMENTS_TEXT}};
    for (const auto& [key, value] : expected) {
        wchar_t* text = nullptr;
        std::wstring q = L"\\StringFileInfo\\041104b0\\" + key;
        ASSERT_TRUE(VerQueryValueW(info.data(), q.c_str(), reinterpret_cast<void**>(&text), &len))
            << std::string(key.begin(), key.end());
        EXPECT_EQ(std::wstring(text), value);
    }
}
