// Start-up procedure of the plug-in: check and split the command line, create the hidden
// status window, read the saved setting and run one action.
#include "Module1.h"

#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Form1.h"
#include "Form2.h"
#include "Forms.h"
#include "Progress.h"
#include "Scripts.h"
#include "mirekko/protocol.h"

namespace ramtidy {

intptr_t g_MascotWindow = 0;

BlockHandle* BlockHandles = nullptr;

namespace {

const wchar_t kProgramName[] = L"ramtidy";
// Where classic Basic programs keep their settings, so that a setting stored by an earlier
// installation of the plug-in carries over.
const wchar_t kSettingsKey[] = L"Software\\VB and VBA Program Settings\\Orbel\\Memory Cleaner";
const wchar_t kShowWndValue[] = L"ShowWnd";

// The last request's bytes; they stay valid until the next send.
std::vector<char> g_RequestBuffer;

const UINT kSstpHungHostMs = 10000;

std::u16string U16(const wchar_t* s) {
    std::u16string out;
    for (; *s; ++s)
        out += static_cast<char16_t>(*s);
    return out;
}

class BlockTable {
public:
    BlockTable()
        : handles_(static_cast<BlockHandle*>(
              VirtualAlloc(nullptr, kBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))) {
        if (!handles_)
            throw std::bad_alloc();
    }
    ~BlockTable() { VirtualFree(handles_, 0, MEM_RELEASE); }
    BlockTable(const BlockTable&) = delete;
    BlockTable& operator=(const BlockTable&) = delete;
    BlockHandle* handles() const { return handles_; }

private:
    static constexpr size_t kBytes =
        static_cast<size_t>(kMaxSteps + 1) * (kBlocksPerStep + 1) * sizeof(BlockHandle);
    BlockHandle* handles_;
};

// A window handle as the number the command line and the SSTP requests carry.
intptr_t HandleValue(HWND hwnd) {
    return reinterpret_cast<intptr_t>(hwnd);
}

int Main() {
    // The table is reserved before anything else so that a run never has to grow it. Its
    // pages come from the system zero-filled and are only touched when a run stores into them:
    // filling 4 MB with zeros would cost a report every start more than the report itself.
    BlockTable table;
    BlockHandles = table.handles();

    std::u16string arguments = ArgumentText(U16(GetCommandLineW()));
    if (arguments.empty())
        return 0;
    SplitArguments split = SplitCommandLine(arguments);
    switch (split.kind) {
        case SplitArguments::Kind::Empty:
        case SplitArguments::Kind::NoBlank:
            return 0;
        case SplitArguments::Kind::BlankAtTwo:
            throw RuntimeError(ErrorCode::InvalidCall,
                               "The command line leaves no room for the mascot window handle: "
                               "its first blank is the second character");
        case SplitArguments::Kind::Ok:
            break;
    }
    // Checked to the width of a handle, so the value fits.
    g_MascotWindow = static_cast<intptr_t>(MascotHandleOf(split, sizeof(HWND) * 8));

    if (!Form1.Create())
        return 1;
    bool show_wnd = ReadShowWndSetting();

    if (split.switch_text == u"/MEMSTATUS")
        ReportMemoryStatus();
    else if (split.switch_text == u"/SETTING")
        ShowSettingsDialog(show_wnd);
    else
        RunMemoryClean(split.switch_text, show_wnd);

    Form1.form.Destroy();
    forms::RunUntilLastFormCloses();
    BlockHandles = nullptr;
    return 0;
}

}  // namespace

MemoryFigures ReadMemoryStatus() {
    // The 64-bit counts: the older 32-bit call caps both figures at 2 GB (4 GB for large-address
    // aware programs), which made the reports plainly wrong on today's machines.
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    GlobalMemoryStatusEx(&status);
    return MemoryFigures{status.ullTotalPhys, status.ullAvailPhys};
}

void SendSstpScript(const std::u16string& script) {
    HWND sender = Form1.form.hwnd();
    std::wstring request = Wide(SstpRequest(script, HandleValue(sender)));
    // The host reads Shift_JIS whatever this system's ANSI code page is.
    int size = WideCharToMultiByte(932, 0, request.data(), static_cast<int>(request.size()),
                                   nullptr, 0, nullptr, nullptr);
    g_RequestBuffer.assign(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(932, 0, request.data(), static_cast<int>(request.size()),
                            g_RequestBuffer.data(), size, nullptr, nullptr);
    COPYDATASTRUCT data = {};
    data.dwData = MK_SSTP_COPYDATA_ID;
    data.cbData = static_cast<DWORD>(g_RequestBuffer.size());  // no terminating zero
    data.lpData = g_RequestBuffer.data();
    HWND target = reinterpret_cast<HWND>(g_MascotWindow);
    // The handle comes from outside and is only sent to when it names a window: 65535
    // (HWND_BROADCAST) and -1, which the system takes as a broadcast too, would hand the request
    // to every top-level window, and 0 or a closed window reach nobody anyway. The plug-in then
    // ends as it does for a mascot that is gone.
    if (!IsWindow(target))
        return;
    // A mascot host that has stopped serving its windows gets kSstpHungHostMs, then the
    // program ends as usual: a plug-in must not stay behind, invisible, for every menu command
    // sent to a hung host. While the host keeps serving (a dialog of its own for the request,
    // say), there is no limit.
    DWORD_PTR result;
    SendMessageTimeoutA(target, WM_COPYDATA, reinterpret_cast<WPARAM>(sender),
                        reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG | SMTO_NOTIMEOUTIFNOTHUNG,
                        kSstpHungHostMs, &result);
}

void ReportMemoryStatus() {
    MemoryFigures figures = ReadMemoryStatus();
    int32_t total_mb = MegabytesOf(figures.total);
    int32_t free_mb = MegabytesOf(figures.avail);
    int32_t share = FreeShareOf(free_mb, total_mb);
    SendSstpScript(MemoryStatusScript(total_mb, free_mb, share));
}

bool ReadShowWndSetting() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return true;
    // One read, into a buffer whose size the call is told and whose byte count it gives back:
    // the value may change between two reads, and nothing promises it a terminating zero or an
    // even length. The two texts the program writes fit many times over.
    BYTE data[256];
    DWORD type = 0, bytes = sizeof data;
    LONG status = RegQueryValueExW(key, kShowWndValue, nullptr, &type, data, &bytes);
    RegCloseKey(key);
    // A value of another type, or a text longer than the buffer, is neither "True" nor "False".
    std::u16string text;
    if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ))
        text = RegistryText(data, bytes < sizeof data ? bytes : sizeof data);
    else if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
        return true;  // missing, which the default stands for, or unreadable
    return ShowWndFlagOf(text);
}

void SaveShowWndSetting(bool show) {
    const wchar_t* text = show ? L"True" : L"False";
    HKEY key;
    LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, kShowWndValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS)
        ErrorStop(RuntimeError(ErrorCode::InvalidCall, "The setting ShowWnd could not be saved"));
}

void ErrorStop(const RuntimeError& error) {
    int number = static_cast<int>(error.code());
    std::wstring text = L"Run-time error '" + std::to_wstring(number) + L"':\n\n";
    for (const char* p = ErrorName(error.code()); *p; ++p)
        text += static_cast<wchar_t>(*p);
    text += L"\n\n";
    for (const char* p = error.what(); *p; ++p)
        text += static_cast<wchar_t>(*p);
    text += L".";
    MessageBoxW(nullptr, text.c_str(), kProgramName, MB_OK | MB_ICONERROR | MB_TASKMODAL);
    ExitProcess(static_cast<UINT>(number));
}

}  // namespace ramtidy

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        return ramtidy::Main();
    } catch (const ramtidy::RuntimeError& error) {
        ramtidy::ErrorStop(error);
    } catch (const std::bad_alloc&) {
        MessageBoxW(nullptr, L"Run-time error '7':\n\nOut of memory.", L"ramtidy",
                    MB_OK | MB_ICONERROR | MB_TASKMODAL);
        ExitProcess(7);
    }
}
