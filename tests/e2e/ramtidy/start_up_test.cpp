// Start-up: silent ends without a usable command line, error stops, and the program file's
// resources.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <cwctype>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mkplugin/Memory/version.h"
#include "ramtidy_e2e.h"
#include "winutil.h"

namespace ramtidy_e2e {
namespace {

TEST(RamtidyStartUp, EndsSilentlyWithoutArgumentsOrBlank) {
    MascotSink sink;
    std::wstring h = std::to_wstring(sink.handle());
    for (const std::wstring& args :
         {std::wstring(), std::wstring(L"     "), L"MK" + h + L"/MEMSTATUS", L"MK" + h}) {
        auto child = StartRamtidy(args);
        ASSERT_TRUE(child);
        EXPECT_EQ(child->Wait(), 0u) << Narrow(args);
    }
    EXPECT_TRUE(sink.Requests().empty());
}

struct ErrorCase {
    std::wstring args;
    std::optional<std::wstring> stored;
    unsigned code;
    const char* says;
    std::optional<std::string> stored_bytes = std::nullopt;  // the value's bytes as given
    DWORD stored_type = REG_SZ;
};

void ExpectErrorStop(const ErrorCase& c, MascotSink& sink) {
    SettingGuard guard;
    if (c.stored)
        SettingGuard::Set(*c.stored);
    if (c.stored_bytes)
        SettingGuard::SetRaw(*c.stored_bytes, c.stored_type);
    auto child = StartRamtidy(c.args);
    ASSERT_TRUE(child);
    std::optional<std::wstring> box = TakeErrorBox(child->pid());
    ASSERT_TRUE(box) << Narrow(c.args);
    std::string text = Narrow(*box);
    EXPECT_EQ(text.rfind("ramtidy|", 0), 0u) << text;
    EXPECT_NE(text.find("Run-time error '" + std::to_string(c.code) + "'"), std::string::npos)
        << text;
    EXPECT_NE(text.find(c.says), std::string::npos) << text;
    EXPECT_EQ(child->Wait(), c.code);
    EXPECT_TRUE(sink.Requests().empty()) << text;
}

TEST(RamtidyStartUp, ErrorStopsShowTheirBoxAndSendNothing) {
    MascotSink sink;
    std::wstring h = std::to_wstring(sink.handle());
    std::vector<ErrorCase> cases = {
        {L"M /MEMSTATUS", std::nullopt, 5, "no room for the mascot window handle"},
        {L"MK" + std::wstring(mk::test::kHandleFarBeyondRange) + L" /MEMSTATUS", std::nullopt, 6,
         "Overflow"},
        {L"MK" + h + L" /MEMSTATUS", L"Maybe", 13, "ShowWnd"},
        {L"MK" + h + L" /" + std::wstring(400, L'9'), L"False", 6, "Overflow"},
        // Neither "True" nor "False": an odd count cut into the last character, a text longer
        // than any the plug-in writes, a value of another type.
        {L"MK" + h + L" /MEMSTATUS", std::nullopt, 13, "ShowWnd", std::string("T\0r\0u\0e", 7)},
        {L"MK" + h + L" /MEMSTATUS", std::wstring(300, L'T'), 13, "ShowWnd"},
        {L"MK" + h + L" /MEMSTATUS", std::nullopt, 13, "ShowWnd", std::string("\1\0\0\0", 4),
         REG_DWORD},
    };
    for (const ErrorCase& c : cases)
        ExpectErrorStop(c, sink);
}

// A folder of its own beside the test's files, removed with whatever is in it.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& name) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp) + name + L"-" + std::to_wstring(GetCurrentProcessId());
        Clear();
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ScratchFolder() { Clear(); }
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& file) const { return path_ + L"\\" + file; }
    std::vector<std::wstring> Files() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE h = FindFirstFileW((path_ + L"\\*").c_str(), &found);
        for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &found))
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(found.cFileName);
        if (h != INVALID_HANDLE_VALUE)
            FindClose(h);
        return names;
    }

private:
    void Clear() {
        for (const std::wstring& name : Files())
            DeleteFileW((*this / name).c_str());
        RemoveDirectoryW(path_.c_str());
    }
    std::wstring path_;
};

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s)
        c = static_cast<wchar_t>(towlower(c));
    return s;
}

// The full paths of the modules loaded in a process.
std::vector<std::wstring> ModulePaths(DWORD pid) {
    std::vector<std::wstring> paths;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snap == INVALID_HANDLE_VALUE)
        return paths;
    MODULEENTRY32W m = {};
    m.dwSize = sizeof m;
    for (BOOL ok = Module32FirstW(snap, &m); ok; ok = Module32NextW(snap, &m))
        paths.push_back(m.szExePath);
    CloseHandle(snap);
    return paths;
}

// Wine's own setting for one program (its file name): take the DLL of a name from a file where
// one is found, before its own. Windows has nothing like it; it always takes the file.
class PreferDllFiles {
public:
    PreferDllFiles(const wchar_t* program, const wchar_t* dll)
        : key_(std::wstring(L"Software\\Wine\\AppDefaults\\") + program) {
        HKEY k;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, (key_ + L"\\DllOverrides").c_str(), 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
            return;
        const wchar_t order[] = L"native,builtin";
        RegSetValueExW(k, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof order);
        RegCloseKey(k);
    }
    ~PreferDllFiles() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }

private:
    std::wstring key_;
};

// The system loads DLLs by name for the plug-in's windows: the theme library among them, which
// user32 and Common Controls 6 load once the program runs. A DLL of that name planted in the
// plug-in's folder, where the controller keeps the files it installs, must not be loaded: the
// plug-in restricts its DLL search to the system directory before anything can load one.
// Wine maps its own code for a DLL it has, under the path where it found the file; told to
// prefer files, it runs the planted one, as Windows does.
TEST(RamtidyStartUp, ADllPlantedInItsFolderIsNotLoaded) {
    ScratchFolder folder(L"ramtidy-planted");
    ASSERT_TRUE(CopyFileW(mk::test::BinPath(L"ramtidy.exe").c_str(),
                          (folder / L"ramtidy.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(mk::test::BinPath(L"ramtidy_planted.dll").c_str(),
                          (folder / L"uxtheme.dll").c_str(), FALSE));
    PreferDllFiles prefer(L"ramtidy.exe", L"uxtheme");
    MascotSink sink;
    Dialog d = OpenDialog(sink, folder / L"ramtidy.exe");
    ASSERT_TRUE(d.form && d.check && d.button);

    const std::wstring prefix = Lower(folder.path() + L"\\");
    bool theme = false;
    for (const std::wstring& path : ModulePaths(d.child->pid())) {
        std::wstring p = Lower(path);
        if (p.size() >= 12 && p.compare(p.size() - 12, 12, L"\\uxtheme.dll") == 0)
            theme = true;
        if (p.rfind(prefix, 0) == 0) {
            EXPECT_EQ(p, prefix + L"ramtidy.exe") << "loaded from the plug-in's folder";
        }
    }
    EXPECT_TRUE(theme) << "the theme library was not loaded at all: the test shows nothing";
    PostMessageW(d.form, WM_CLOSE, 0, 0);
    EXPECT_EQ(d.child->Wait(), 0u);
    for (const std::wstring& name : folder.Files())
        EXPECT_NE(Lower(name), L"uxtheme.dll.ran") << "the planted DLL ran in the plug-in";
}

// One block of a version resource: a key, a value and child blocks, each on a 4-byte boundary.
struct VersionBlock {
    std::wstring key;
    std::wstring text;         // the value of a text block
    std::vector<BYTE> binary;  // the value of a binary block
    std::vector<VersionBlock> children;
};

VersionBlock ReadVersionBlock(const BYTE* p) {
    auto word = [&](size_t at) { return *reinterpret_cast<const WORD*>(p + at); };
    auto align = [](size_t at) { return (at + 3) & ~size_t(3); };
    VersionBlock b;
    WORD length = word(0), value_length = word(2), type = word(4);
    b.key = reinterpret_cast<const wchar_t*>(p + 6);
    size_t at = align(6 + (b.key.size() + 1) * sizeof(wchar_t));
    if (type == 1 && value_length > 0)  // text, counted in characters with its zero
        b.text.assign(reinterpret_cast<const wchar_t*>(p + at), value_length - 1);
    else
        b.binary.assign(p + at, p + at + value_length);
    at = align(at + (type == 1 ? value_length * sizeof(wchar_t) : value_length));
    while (at < length) {
        b.children.push_back(ReadVersionBlock(p + at));
        at = align(at + word(at));
    }
    return b;
}

// The resource types, as wide-character resource names.
const LPCWSTR kIcon = MAKEINTRESOURCEW(3), kIconGroup = MAKEINTRESOURCEW(14),
              kVersion = MAKEINTRESOURCEW(16);

BOOL CALLBACK CountResource(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST(RamtidyStartUp, ProgramFileCarriesItsVersionAndIcons) {
    HMODULE file = LoadLibraryExW(mk::test::BinPath(L"ramtidy.exe").c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(file, nullptr);
    HRSRC res = FindResourceW(file, MAKEINTRESOURCEW(VS_VERSION_INFO), kVersion);
    ASSERT_NE(res, nullptr);
    auto data = static_cast<const BYTE*>(LockResource(LoadResource(file, res)));
    VersionBlock root = ReadVersionBlock(data);
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");
    ASSERT_EQ(root.binary.size(), sizeof(VS_FIXEDFILEINFO));
    auto fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(root.binary.data());
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD ms = RAMTIDY_VERSION_MAJOR << 16 | RAMTIDY_VERSION_MINOR;
    const DWORD ls = RAMTIDY_VERSION_PATCH << 16 | RAMTIDY_VERSION_BUILD;
    EXPECT_EQ(fixed->dwFileVersionMS, ms);
    EXPECT_EQ(fixed->dwFileVersionLS, ls);
    EXPECT_EQ(fixed->dwProductVersionMS, ms);
    EXPECT_EQ(fixed->dwProductVersionLS, ls);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    std::map<std::wstring, const VersionBlock*> parts;
    for (const VersionBlock& child : root.children)
        parts[child.key] = &child;
    ASSERT_EQ(parts.size(), 2u);
    ASSERT_TRUE(parts.count(L"StringFileInfo") && parts.count(L"VarFileInfo"));
    // One string table, Japanese and Unicode.
    const auto& tables = parts[L"StringFileInfo"]->children;
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].key, L"041104b0");
    std::map<std::wstring, std::wstring> strings;
    for (const VersionBlock& entry : tables[0].children)
        strings[entry.key] = entry.text;
    std::map<std::wstring, std::wstring> expected = {{L"Comments", L"RAMTIDY"},
                                                     {L"CompanyName", L"Orbel"},
                                                     {L"FileVersion", L"" RAMTIDY_VERSION_TEXT},
                                                     {L"InternalName", L"ramtidy"},
                                                     {L"OriginalFilename", L"ramtidy.exe"},
                                                     {L"ProductName", L"RAMTIDY"},
                                                     {L"ProductVersion", L"" RAMTIDY_VERSION_TEXT}};
    EXPECT_EQ(strings, expected);
    const auto& vars = parts[L"VarFileInfo"]->children;
    ASSERT_EQ(vars.size(), 1u);
    EXPECT_EQ(vars[0].key, L"Translation");
    ASSERT_EQ(vars[0].binary.size(), 4u);
    auto translation = reinterpret_cast<const WORD*>(vars[0].binary.data());
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 1200);

    // One icon group of exactly three images, each of them in the file at its stated size.
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colours, reserved;
        WORD planes, bit_count;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    int groups = 0;
    EnumResourceNamesW(file, kIconGroup, CountResource, reinterpret_cast<LONG_PTR>(&groups));
    EXPECT_EQ(groups, 1);
    res = FindResourceW(file, MAKEINTRESOURCEW(1), kIconGroup);
    ASSERT_NE(res, nullptr);
    auto group = static_cast<const WORD*>(LockResource(LoadResource(file, res)));
    EXPECT_EQ(group[1], 1);  // icons, not cursors
    ASSERT_EQ(group[2], 3);
    auto entries = reinterpret_cast<const GroupEntry*>(group + 3);
    for (int i = 0; i < 3; ++i) {
        HRSRC image = FindResourceW(file, MAKEINTRESOURCEW(entries[i].id), kIcon);
        ASSERT_NE(image, nullptr) << i;
        EXPECT_EQ(SizeofResource(file, image), entries[i].bytes) << i;
    }
    FreeLibrary(file);
}

}  // namespace
}  // namespace ramtidy_e2e
